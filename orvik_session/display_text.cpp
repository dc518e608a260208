#include "display_text.h"

#include <algorithm>

#include "remote_session_client/text.h"

namespace orvik_session {

std::string shown(std::string_view utf8) {
  std::string quoted = remote_session_client::quoted(utf8);
  // Nothing escaped: the quoted form is the text between two quotes.
  if (quoted.size() == utf8.size() + 2) return std::string(utf8);
  return quoted;
}

std::size_t display_width(std::string_view utf8) {
  return static_cast<std::size_t>(
      std::ranges::count_if(utf8, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace orvik_session
