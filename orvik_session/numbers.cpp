#include "numbers.h"

#include <charconv>

namespace orvik_session {

std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t max) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  // from_chars would take a leading '-' for a signed type only, but also
  // stops early without complaint: both ends are checked here.
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc{} || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

}  // namespace orvik_session
