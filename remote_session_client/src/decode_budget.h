// How many list elements one response may turn into records.
//
// Cap'n Proto bounds the words a reader visits (the traversal limit), not the
// records we build from them: a list of zero-sized structs claims up to 2^26
// elements in a few words, and a list shared by many pointers is decoded once
// per pointer. Our records are far larger than a wire word (a service catalogue
// entry is about 250 bytes), so either could make a small frame ask for many
// gigabytes. An honest message stores every element it lists at least once,
// in at least one word, so it never holds more elements than words.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "remote_session_client/protocol_error.h"

namespace remote_session_client {

class ElementBudget {
 public:
  // Room for every element of an honest message of `words` words, and for
  // lists of all-default structs written in their shortest (zero-word) form.
  static ElementBudget for_message(std::size_t words) {
    return ElementBudget(std::max<std::uint64_t>(words, kFloor));
  }

  // For converters called on their own, outside decode_response.
  static ElementBudget unlimited() {
    return ElementBudget(std::numeric_limits<std::uint64_t>::max());
  }

  // Accounts for a list of `elements` before any of its records is built.
  std::optional<ProtocolError> take(std::uint64_t elements) {
    if (elements > left_) {
      return ProtocolError{ProtocolError::Capnp{
          "Message lists more elements than it can hold (amplified list pointers)."}};
    }
    left_ -= elements;
    return std::nullopt;
  }

 private:
  static constexpr std::uint64_t kFloor = 65536;

  explicit ElementBudget(std::uint64_t left) : left_(left) {}

  std::uint64_t left_;
};

}  // namespace remote_session_client
