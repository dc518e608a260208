// Codec failures, as values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "remote_session_client/export.h"

namespace remote_session_client {

// Why an adventure word or a paperclips command was refused.
enum class AdventureItemError : std::uint8_t {
  Empty = 0,
  TooLong = 1,
  InvalidCharacter = 2,
  ReservedMarker = 3,
};

// "must not be empty", "must be at most 64 bytes", ...
RSC_API std::string_view to_string(AdventureItemError error);

// Where UTF-8 validation stopped, by Unicode's maximal-subpart rule:
// `valid_up_to` bytes are good; `error_len` is the length of the bad sequence,
// absent when the input ended inside an incomplete sequence.
struct Utf8Error {
  std::size_t valid_up_to = 0;
  std::optional<std::uint8_t> error_len;
};

struct ProtocolError {
  struct Capnp { std::string description; };
  struct Utf8 { Utf8Error error; };
  struct SchemaMismatch { std::string message; };
  struct SeqMismatch { std::uint32_t request; std::uint32_t response; };
  struct InvalidAdventureDirection { AdventureItemError error; };
  struct InvalidAdventureItem { AdventureItemError error; };

  std::variant<Capnp, Utf8, SchemaMismatch, SeqMismatch,
               InvalidAdventureDirection, InvalidAdventureItem>
      value;
};

// "Cap'n Proto protocol error: ...", "response seq 8 did not match request seq 7", ...
RSC_API std::string to_string(const ProtocolError& error);

}  // namespace remote_session_client
