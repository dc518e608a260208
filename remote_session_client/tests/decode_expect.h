// Running decode_response in tests: the decoded variant, or the whole display
// text of the failure.
#pragma once

#include <capnp/common.h>
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "remote_session_client/protocol.h"

namespace rsc_test {

// The response decoded as variant V; a test failure (and V{}) otherwise.
template <typename V>
V decoded(std::uint32_t seq, remote_session_client::ByteView bytes) {
  auto result = remote_session_client::decode_response(seq, bytes);
  if (!result) {
    ADD_FAILURE() << "decoding failed: " << remote_session_client::to_string(result.error());
    return V{};
  }
  EXPECT_EQ(result->seq, seq);
  const V* value = std::get_if<V>(&result->kind);
  if (value == nullptr) {
    ADD_FAILURE() << "decoded as " << remote_session_client::kind_name(result->kind);
    return V{};
  }
  return *value;
}

// The display text of the decoding failure; "<decoded>" when it succeeded.
// Cap'n Proto's descriptions start with the failed check ("expected
// ref->kind() == WirePointer::STRUCT [1 == 0]; ") in words that change between
// library versions; only the sentence after it is compared.
inline std::string decode_error(std::uint32_t seq, remote_session_client::ByteView bytes) {
  auto result = remote_session_client::decode_response(seq, bytes);
  if (result) return "<decoded>";
  std::string text = remote_session_client::to_string(result.error());
  const std::string prefix = "Cap'n Proto protocol error: expected ";
  if (text.starts_with(prefix)) {
    if (auto cut = text.find("; ", prefix.size()); cut != std::string::npos) {
      text = "Cap'n Proto protocol error: " + text.substr(cut + 2);
    }
  }
  return text;
}

inline const std::string kCapnpPrefix = "Cap'n Proto protocol error: ";

// Cap'n Proto's own descriptions, which decode_response passes through
// unchanged (less the failed check, see decode_error). Cap'n Proto 1.0
// reworded them; this is the one place that knows both versions.
#if CAPNP_VERSION < 1000000
#define RSC_TEST_SCHEMA_MISMATCH ""
inline const std::string kOutOfBoundsStruct = "Message contained out-of-bounds struct pointer.";
inline const std::string kNotStruct =
    "Message contains non-struct pointer where struct pointer was expected.";
#else
#define RSC_TEST_SCHEMA_MISMATCH "Schema mismatch: "
inline const std::string kOutOfBoundsStruct =
    "Message contained out-of-bounds struct pointer. This usually indicates that the input data "
    "was corrupted, used a different encoding than specified (e.g. packed vs. non-packed), or was "
    "not a Cap'n Proto message to begin with. Note that this error is NOT due to a schema "
    "mismatch; the input is invalid regardless of schema.";
inline const std::string kNotStruct =  // sic: 1.x lost the space before "was"
    RSC_TEST_SCHEMA_MISMATCH "Message contains non-struct pointer where struct pointerwas expected.";
#endif
inline const std::string kNotList =
    RSC_TEST_SCHEMA_MISMATCH "Message contains non-list pointer where list pointer was expected.";
inline const std::string kNotText =
    RSC_TEST_SCHEMA_MISMATCH "Message contains non-list pointer where text was expected.";
inline const std::string kDataOnlyStructs =
    RSC_TEST_SCHEMA_MISMATCH "Expected a pointer list, but got a list of data-only structs.";
#undef RSC_TEST_SCHEMA_MISMATCH

}  // namespace rsc_test
