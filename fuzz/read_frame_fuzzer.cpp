// read_frame over an arbitrary byte stream delivered in arbitrary chunks
// (input format and checks: chunked_stream.h), every read with the one
// limit the input selects.
#include <cstdint>

#include "chunked_stream.h"

namespace rsc = remote_session_client;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto stream = orvik_fuzz::parse_stream(data, size);
  if (!stream) return -1;
  rsc::Bytes last;
  orvik_fuzz::check_reader(
      *stream, [&](std::size_t) { return stream->limit; },
      [&](int fd, std::size_t limit, std::size_t) -> std::expected<rsc::ByteView, rsc::FrameError> {
        auto frame = rsc::read_frame(fd, limit);
        if (!frame) return std::unexpected(std::move(frame.error()));
        last = std::move(*frame);
        return rsc::ByteView(last);
      });
  return 0;
}
