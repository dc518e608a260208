// decode_response over arbitrary bytes. The first 4 bytes (little-endian) are
// the expected seq, the rest is the frame payload, so every seq is reachable
// and the seeds make the matching one the common case. The payload is decoded
// both from a word-aligned buffer and from one that is not, which must agree.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "error_texts.h"
#include "remote_session_client/protocol.h"

namespace rsc = remote_session_client;

namespace {

// A textual fingerprint of a result, to compare the two decodings.
std::string outcome(const std::expected<rsc::DecodedResponse, rsc::ProtocolError>& result) {
  if (!result) return "error: " + rsc::to_string(result.error());
  return "ok: " + std::string(rsc::kind_name(result->kind)) + " seq " + std::to_string(result->seq);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return -1;
  std::uint32_t expected_seq = 0;
  std::memcpy(&expected_seq, data, 4);
  const std::size_t length = size - 4;

  // operator new gives 16-byte alignment: +0 is word-aligned, +1 is not.
  auto storage = std::make_unique<std::uint8_t[]>(length + 1);
  std::memcpy(storage.get(), data + 4, length);
  const auto aligned = rsc::decode_response(expected_seq, rsc::ByteView(storage.get(), length));

  std::memmove(storage.get() + 1, storage.get(), length);
  const auto unaligned = rsc::decode_response(expected_seq, rsc::ByteView(storage.get() + 1, length));

  if (aligned) {
    if (aligned->seq != expected_seq) orvik_fuzz::fail("decoded seq differs from the expected one");
  } else {
    orvik_fuzz::expect_text(rsc::to_string(aligned.error()), orvik_fuzz::kProtocolOpenings);
  }
  if (outcome(aligned) != outcome(unaligned)) {
    orvik_fuzz::fail("aligned and unaligned payloads decode differently");
  }
  return 0;
}
