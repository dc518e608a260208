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
// unchanged (less the failed check, see decode_error).
inline const std::string kNotStruct =
    "Message contains non-struct pointer where struct pointer was expected.";
inline const std::string kNotList =
    "Message contains non-list pointer where list pointer was expected.";
inline const std::string kNotText =
    "Message contains non-list pointer where text was expected.";
inline const std::string kDataOnlyStructs =
    "Expected a pointer list, but got a list of data-only structs.";

}  // namespace rsc_test
