// What one response may cost us to decode: the list elements it may turn into
// records and the text bytes it may copy into owned strings.
//
// Cap'n Proto bounds the words a reader visits (the traversal limit), not what
// we build from them. A list of zero-sized structs claims up to 2^26 elements
// in a few words, and a list or text shared by many pointers is read once per
// pointer: 1,023 members pointing at one 512 KiB text is ~512 MiB of copies
// from a frame of 512 KiB. Our records are also far larger than a wire word (a
// service catalogue entry is about 250 bytes). Either way a small frame could
// ask for many gigabytes. An honest message stores every element it lists at
// least once, in at least one word, and every text it holds at least once, so
// it never holds more elements than words nor more text bytes than bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "remote_session_client/protocol_error.h"

namespace remote_session_client {

class DecodeBudget {
 public:
  // Room for every element and every text of an honest message of `words`
  // words.
  static DecodeBudget for_message(std::size_t words) {
    const std::uint64_t bytes = std::uint64_t{words} * kWordBytes;
    return DecodeBudget(std::max<std::uint64_t>(words, kElementFloor),
                        std::max<std::uint64_t>(bytes, kTextByteFloor));
  }

  // Accounts for a list of `elements` before any of its records is built.
  std::optional<ProtocolError> take_elements(std::uint64_t elements) {
    return take(elements_left_, elements,
                "Message lists more elements than it can hold (amplified list pointers).");
  }

  // Accounts for a text of `bytes` before it is read or copied.
  std::optional<ProtocolError> take_text(std::uint64_t bytes) {
    return take(text_bytes_left_, bytes, "Message holds less text than it lists (amplified text pointers).");
  }

 private:
  static constexpr std::uint64_t kWordBytes = 8;
  // Lists of all-default structs written in their shortest (zero-word) form
  // hold elements but no words, so a small frame still gets this many. It is
  // kept small because it is paid in full by a frame of a few words: 1,024
  // of our largest records are about 256 KiB and well under a millisecond to
  // build, where 65,536 were 16 MiB from a 40-byte answer.
  static constexpr std::uint64_t kElementFloor = 1024;
  // The bound is there to refuse amplification, not to audit small answers:
  // 64 KiB of copies is harmless at any frame size, so a small frame that
  // shares a few texts is still read.
  static constexpr std::uint64_t kTextByteFloor = 64 * 1024;

  static std::optional<ProtocolError> take(std::uint64_t& left, std::uint64_t amount, const char* refusal) {
    if (amount > left) return ProtocolError{ProtocolError::Capnp{refusal}};
    left -= amount;
    return std::nullopt;
  }

  DecodeBudget(std::uint64_t elements, std::uint64_t text_bytes)
      : elements_left_(elements), text_bytes_left_(text_bytes) {}

  std::uint64_t elements_left_;
  std::uint64_t text_bytes_left_;
};

}  // namespace remote_session_client
