// Text helpers shared by the codec, the client's error texts and the Python
// reprs.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "remote_session_client/bytes.h"
#include "remote_session_client/export.h"
#include "remote_session_client/protocol_error.h"

namespace remote_session_client {

// Checks that `bytes` is well-formed UTF-8. On failure reports where, by the
// maximal-subpart rule (so FF FE gives valid_up_to 0, error_len 1).
RSC_API std::expected<void, Utf8Error> validate_utf8(ByteView bytes);

// The quoted form of a UTF-8 string: in double quotes, with \" \\ \0 \t \r \n,
// and \u{hex} for controls, format characters, surrogates, private-use and
// unassigned code points, line and paragraph separators, spaces other than
// U+0020, and grapheme extenders. Everything else, ' included, is unchanged.
// The input must be valid UTF-8.
RSC_API std::string quoted(std::string_view utf8);

// The Unicode half of the quoted form's rule: whether a character of general
// category Cc, Cf, Cs, Co, Cn, Zl, Zp or Zs (U+0020 aside) or with
// Grapheme_Extend is written as \u{hex}. The six characters with a short
// escape (\" \\ \0 \t \r \n) get theirs before this rule is asked.
RSC_API bool escaped_by_unicode_rule(char32_t code_point);

// The Unicode version whose character tables the quoted form follows
// ("15.0.0"): the one place that says it, read from the tables themselves.
RSC_API std::string_view escaping_unicode_version();

// Lower-case hexadecimal, two digits per byte, no separators.
RSC_API std::string hex_lower(ByteView bytes);

// "0x" and exactly 16 lower-case hexadecimal digits: 0x0000000000001234.
RSC_API std::string hex_u64_padded(std::uint64_t value);

// The one number formatter: `value` without leading zeros, in plain decimal
// (base 10) or lower-case hexadecimal (base 16), appended to `out`.
RSC_API void append_number(std::string& out, std::uint64_t value, int base = 10);

}  // namespace remote_session_client
