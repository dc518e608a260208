// UTF-8 validation, the quoted form and number rendering. Decoding runs
// validate_utf8 over every text of every response, so the common all-ASCII
// case is checked eight bytes at a time.
#include "remote_session_client/text.h"

#include <charconv>
#include <cstring>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace remote_session_client {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Index of the first byte at or after `from` that is not ASCII (or the size).
// Banners run to a megabyte, so the common all-ASCII run is checked 64 bytes
// per step where SSE2 is there (every x86-64), then a word at a time.
std::size_t skip_ascii(ByteView bytes, std::size_t from) {
  std::size_t i = from;
  const std::uint8_t* p = bytes.data();
#if defined(__SSE2__)
  while (i + 64 <= bytes.size()) {
    const auto* at = reinterpret_cast<const __m128i*>(p + i);
    const __m128i any = _mm_or_si128(_mm_or_si128(_mm_loadu_si128(at), _mm_loadu_si128(at + 1)),
                                     _mm_or_si128(_mm_loadu_si128(at + 2), _mm_loadu_si128(at + 3)));
    if (_mm_movemask_epi8(any) != 0) break;
    i += 64;
  }
#endif
  while (i + 8 <= bytes.size()) {
    std::uint64_t chunk;
    std::memcpy(&chunk, p + i, sizeof chunk);
    if ((chunk & kHighBits) != 0) break;
    i += 8;
  }
  while (i < bytes.size() && bytes[i] < 0x80) ++i;
  return i;
}

// The one code-point reader: the code point at `i`, advancing `i` past it.
// On an ill-formed sequence a negative value, with `i` past its maximal
// subpart (the lead and the continuation bytes that were still acceptable).
UChar32 next_code_point(const std::uint8_t* bytes, std::size_t& i, std::size_t size) {
  UChar32 c;
  U8_NEXT(bytes, i, size, c);
  return c;
}

bool must_escape(UChar32 c) {
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    case U_SPACE_SEPARATOR:
      return c != U' ';
    default:
      return u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND) != 0;
  }
}

void append_escape(std::string& out, std::uint32_t code_point) {
  out += "\\u{";
  append_number(out, code_point, 16);
  out += '}';
}

// ASCII is decided without ICU: the only ASCII characters of the escaped
// categories are the C0 controls and DEL.
void append_ascii(std::string& out, char c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\0': out += "\\0"; return;
    case '\t': out += "\\t"; return;
    case '\r': out += "\\r"; return;
    case '\n': out += "\\n"; return;
    default:
      break;
  }
  auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte == 0x7F) {
    append_escape(out, byte);
  } else {
    out += c;
  }
}

}  // namespace

std::expected<void, Utf8Error> validate_utf8(ByteView bytes) {
  std::size_t i = 0;
  const std::size_t size = bytes.size();
  while (true) {
    i = skip_ascii(bytes, i);
    if (i == size) return {};
    const std::size_t at = i;
    if (next_code_point(bytes.data(), i, size) >= 0) continue;
    // A valid lead whose sequence the end cut short is incomplete, not wrong.
    if (i == size && U8_IS_LEAD(bytes[at])) return std::unexpected(Utf8Error{at, std::nullopt});
    return std::unexpected(Utf8Error{at, i - at});
  }
}

std::string quoted(std::string_view utf8) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  std::size_t i = 0;
  while (i < utf8.size()) {
    if (bytes[i] < 0x80) {
      append_ascii(out, utf8[i]);
      ++i;
      continue;
    }
    const std::size_t at = i;
    const UChar32 c = next_code_point(bytes, i, utf8.size());
    if (c < 0) {
      // Not reachable for validated input; never emit broken UTF-8 anyway.
      out += "\xEF\xBF\xBD";
      i = at + 1;
    } else if (must_escape(c)) {
      append_escape(out, static_cast<std::uint32_t>(c));
    } else {
      out.append(utf8.substr(at, i - at));
    }
  }
  out += '"';
  return out;
}

std::string hex_lower(ByteView bytes) {
  std::string out(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kHexDigits[bytes[i] >> 4];
    out[2 * i + 1] = kHexDigits[bytes[i] & 0xF];
  }
  return out;
}

std::string hex_u64_padded(std::uint64_t value) {
  std::string digits;
  append_number(digits, value, 16);
  std::string out = "0x";
  out.append(16 - digits.size(), '0');
  out += digits;
  return out;
}

void append_number(std::string& out, std::uint64_t value, int base) {
  char digits[20];  // 18446744073709551615 has 20 digits
  const auto end = std::to_chars(digits, digits + sizeof digits, value, base).ptr;
  out.append(digits, end);
}

}  // namespace remote_session_client
