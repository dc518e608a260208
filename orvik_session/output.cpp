#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "remote_session_client/text.h"

namespace orvik_session {

namespace rsc = remote_session_client;

UniqueFd::~UniqueFd() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

std::expected<void, int> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t wrote = ::write(fd, text.data(), text.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return std::unexpected(errno);
    // write(2) never returns 0 for a nonzero count on a file, pipe or
    // terminal; should one do so, it is a device that takes nothing.
    if (wrote == 0) return std::unexpected(ENOSPC);
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return {};
}

std::string os_error_text(int error) {
  return std::string(std::strerror(error)) + " (os error " + std::to_string(error) + ")";
}

std::string shown(std::string_view utf8) {
  std::string quoted = rsc::quoted(utf8);
  // Nothing escaped: the quoted form is the text between two quotes.
  if (quoted.size() == utf8.size() + 2) return std::string(utf8);
  return quoted;
}

std::pair<char32_t, std::size_t> first_code_point(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  char32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) code_point = (code_point << 6) | (byte(i) & 0x3F);
  return {code_point, length};
}

namespace {

void append_escape(std::string& out, std::string_view opener, std::uint64_t value) {
  out += opener;
  rsc::append_number(out, value, 16);
  out += '}';
}

void append_safe(std::string& out, std::string_view valid) {
  while (!valid.empty()) {
    const auto [code_point, length] = first_code_point(valid);
    switch (code_point) {
      case U'\0': out += "\\0"; break;
      case U'\t': out += "\\t"; break;
      case U'\r': out += "\\r"; break;
      case U'\n': out += "\\n"; break;
      default:
        if (code_point != U'"' && code_point != U'\\' && rsc::escaped_by_unicode_rule(code_point)) {
          append_escape(out, "\\u{", code_point);
        } else {
          out += valid.substr(0, length);
        }
    }
    valid.remove_prefix(length);
  }
}

}  // namespace

std::string terminal_safe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const rsc::ByteView bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    const auto valid = rsc::validate_utf8(bytes);
    const std::size_t good = valid ? text.size() : valid.error().valid_up_to;
    append_safe(out, text.substr(0, good));
    text.remove_prefix(good);
    if (text.empty()) break;
    // A bad sequence, or one cut short at the end: each of its bytes alone.
    const std::size_t bad = valid.error().error_len.value_or(text.size());
    for (std::size_t i = 0; i < bad; ++i) append_escape(out, "\\x{", static_cast<unsigned char>(text[i]));
    text.remove_prefix(bad);
  }
  return out;
}

std::size_t display_width(std::string_view utf8) {
  return static_cast<std::size_t>(
      std::ranges::count_if(utf8, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace orvik_session
