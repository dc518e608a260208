// Validation of the words a session types into the adventure and the
// paperclips game. The gateway refuses words that name its internal
// capability plumbing, so those are stopped here before anything is sent.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "remote_session_client/protocol.h"

namespace remote_session_client {

namespace {

// Diagnostic words of the capability plumbing. A word is refused when its
// compact form contains one of them anywhere, so separators and case cannot
// smuggle one through ("Cap_Slot", "my-CapId").
constexpr std::array<std::string_view, 13> kReservedMarkers = {
    "processhandle",   "capabilitymanager", "processspawner", "endpointowner",
    "ownercap",        "terminalauthority", "terminalsession", "networkauthority",
    "networkmanager",  "localcapid",        "resultcap",       "capid",
    "capslot",
};

// Adventure words are short identifiers; a longer one is a typing accident or
// an attempt to push bulk data through the game.
constexpr std::size_t kMaxAdventureTokenBytes = 64;
// A paperclips command is a line of game input, not a document.
constexpr std::size_t kMaxPaperclipsCommandBytes = 4096;

constexpr bool is_ascii_upper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_ascii_alnum(char c) {
  return is_ascii_upper(c) || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}
constexpr char ascii_lower(char c) {
  return is_ascii_upper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool is_adventure_byte(char c) { return is_ascii_alnum(c) || c == '_' || c == '-'; }

constexpr bool is_paperclips_byte(char c) {
  switch (c) {
    case ' ': case ',': case '-': case '.': case '/': case ':': case '_':
      return true;
    default:
      return is_ascii_alnum(c);
  }
}

// ASCII letters in lower case and digits; everything else dropped.
std::string compact_form(std::string_view text) {
  std::string compact;
  compact.reserve(text.size());
  for (char c : text) {
    if (is_ascii_alnum(c)) compact.push_back(ascii_lower(c));
  }
  return compact;
}

bool uses_reserved_marker(std::string_view text) {
  const std::string compact = compact_form(text);
  for (std::string_view marker : kReservedMarkers) {
    if (compact.find(marker) != std::string::npos) return true;
  }
  return false;
}

// The checks both word kinds share, in the order that decides the reason.
template <typename AllowedByte>
std::expected<void, AdventureItemError> check_word(std::string_view text, std::size_t max_bytes,
                                                   AllowedByte allowed) {
  if (text.empty()) return std::unexpected(AdventureItemError::Empty);
  if (text.size() > max_bytes) return std::unexpected(AdventureItemError::TooLong);
  for (char c : text) {
    if (!allowed(c)) return std::unexpected(AdventureItemError::InvalidCharacter);
  }
  if (uses_reserved_marker(text)) return std::unexpected(AdventureItemError::ReservedMarker);
  return {};
}

}  // namespace

std::expected<std::string, AdventureItemError> normalize_adventure_token(std::string_view token) {
  if (auto checked = check_word(token, kMaxAdventureTokenBytes, is_adventure_byte); !checked) {
    return std::unexpected(checked.error());
  }
  std::string normalized(token);
  for (char& c : normalized) c = ascii_lower(c);
  return normalized;
}

std::expected<std::string, AdventureItemError> normalize_paperclips_command(std::string_view text) {
  if (auto checked = check_word(text, kMaxPaperclipsCommandBytes, is_paperclips_byte); !checked) {
    return std::unexpected(checked.error());
  }
  return std::string(text);
}

}  // namespace remote_session_client
