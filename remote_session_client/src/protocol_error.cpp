// The display texts of the codec's errors, each built here and nowhere else.
#include "remote_session_client/protocol_error.h"

#include <string>
#include <type_traits>
#include <variant>

namespace remote_session_client {

namespace {

std::string utf8_text(const Utf8Error& error) {
  if (error.error_len) {
    return "invalid utf-8 sequence of " + std::to_string(*error.error_len) + " bytes from index " +
           std::to_string(error.valid_up_to);
  }
  return "incomplete utf-8 byte sequence from index " + std::to_string(error.valid_up_to);
}

}  // namespace

std::string_view to_string(AdventureItemError error) {
  switch (error) {
    case AdventureItemError::Empty:
      return "must not be empty";
    case AdventureItemError::TooLong:
      return "must be at most 64 bytes";
    case AdventureItemError::InvalidCharacter:
      return "must contain only ASCII letters, digits, '-' or '_'";
    case AdventureItemError::ReservedMarker:
      return "uses a reserved diagnostic marker";
  }
  return "unknown Adventure word error";
}

std::string to_string(const ProtocolError& error) {
  return std::visit(
      [](const auto& e) -> std::string {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, ProtocolError::Capnp>) {
          return "Cap'n Proto protocol error: " + e.description;
        } else if constexpr (std::is_same_v<E, ProtocolError::Utf8>) {
          return "Cap'n Proto text was not valid UTF-8: " + utf8_text(e.error);
        } else if constexpr (std::is_same_v<E, ProtocolError::SchemaMismatch>) {
          return "remote gateway schema mismatch: " + e.message;
        } else if constexpr (std::is_same_v<E, ProtocolError::SeqMismatch>) {
          return "response seq " + std::to_string(e.response) + " did not match request seq " +
                 std::to_string(e.request);
        } else if constexpr (std::is_same_v<E, ProtocolError::InvalidAdventureDirection>) {
          return "invalid Adventure direction: " + std::string(to_string(e.error));
        } else {
          static_assert(std::is_same_v<E, ProtocolError::InvalidAdventureItem>);
          return "invalid Adventure item: " + std::string(to_string(e.error));
        }
      },
      error.value);
}

}  // namespace remote_session_client
