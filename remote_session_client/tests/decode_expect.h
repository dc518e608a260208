// Running decode_response in tests: the decoded variant, or the whole display
// text of the failure.
#pragma once

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
inline std::string decode_error(std::uint32_t seq, remote_session_client::ByteView bytes) {
  auto result = remote_session_client::decode_response(seq, bytes);
  if (result) return "<decoded>";
  return remote_session_client::to_string(result.error());
}

inline const std::string kCapnpPrefix = "Cap'n Proto protocol error: ";

// Cap'n Proto's own descriptions (as the Debian 0.9.2 library words them),
// which decode_response passes through unchanged.
inline const std::string kNotStruct =
    "expected ref->kind() == WirePointer::STRUCT [1 == 0]; "
    "Message contains non-struct pointer where struct pointer was expected.";
inline const std::string kNotList =
    "expected ref->kind() == WirePointer::LIST [0 == 1]; "
    "Message contains non-list pointer where list pointer was expected.";
inline const std::string kNotText =
    "expected ref->kind() == WirePointer::LIST [0 == 1]; "
    "Message contains non-list pointer where text was expected.";
inline const std::string kDataOnlyStructs =
    "expected tag->structRef.ptrCount.get() > ZERO * POINTERS [0 > 0]; "
    "Expected a pointer list, but got a list of data-only structs.";

}  // namespace rsc_test
