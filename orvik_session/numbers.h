// Numbers on the command line: plain decimal, or hexadecimal after "0x".
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orvik_session {

// The whole text as an unsigned number no larger than `max`; nothing else
// (no sign, no spaces, no suffix) is accepted.
std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t max = UINT64_MAX);

}  // namespace orvik_session
