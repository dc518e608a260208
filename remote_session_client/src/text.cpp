// UTF-8 validation, the quoted form and number rendering. Decoding runs
// validate_utf8 over every text of every response, so the common all-ASCII
// case is checked eight bytes at a time.
#include "remote_session_client/text.h"

#include <charconv>
#include <cstring>

#include <utf8proc.h>

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

// What the code-point reader returns for an ill-formed sequence.
constexpr std::int32_t kIllFormed = -1;

// A byte that can begin a sequence of two to four bytes: C2..F4. C0 and C1
// could only begin overlong forms, F5 and above only code points past U+10FFFF.
bool is_lead(std::uint8_t byte) { return byte >= 0xC2 && byte <= 0xF4; }

bool is_continuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The range the second byte of a sequence must lie in, given its lead: it
// alone rules out overlong forms (E0, F0), surrogates (ED) and code points
// past U+10FFFF (F4).
struct SecondByteRange {
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
};
SecondByteRange second_byte_range(std::uint8_t lead) {
  switch (lead) {
    case 0xE0: return {0xA0, 0xBF};
    case 0xED: return {0x80, 0x9F};
    case 0xF0: return {0x90, 0xBF};
    case 0xF4: return {0x80, 0x8F};
    default: return {};
  }
}

// The one code-point reader: the code point at `i` (which must be below
// `size`), advancing `i` past it. On an ill-formed sequence kIllFormed, with
// `i` past its maximal subpart: the lead and the continuation bytes that were
// still acceptable, or the one offending byte.
std::int32_t next_code_point(const std::uint8_t* bytes, std::size_t& i, std::size_t size) {
  const std::uint8_t lead = bytes[i++];
  if (lead < 0x80) return lead;
  if (!is_lead(lead)) return kIllFormed;
  const int trailing = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
  std::int32_t c = lead & (0x3F >> trailing);
  const SecondByteRange second = second_byte_range(lead);
  for (int k = 0; k < trailing; ++k) {
    if (i == size) return kIllFormed;
    const std::uint8_t byte = bytes[i];
    const bool acceptable = k == 0 ? byte >= second.low && byte <= second.high : is_continuation(byte);
    if (!acceptable) return kIllFormed;
    c = (c << 6) | (byte & 0x3F);
    ++i;
  }
  return c;
}

bool must_escape(std::int32_t c) {
  const utf8proc_property_t* property = utf8proc_get_property(c);
  switch (property->category) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
      return true;
    case UTF8PROC_CATEGORY_ZS:
      return c != ' ';
    default:
      break;
  }
  // utf8proc knows Grapheme_Extend only through the grapheme break class
  // Extend, which is Grapheme_Extend plus the five skin-tone modifiers
  // (Emoji_Modifier, U+1F3FB..U+1F3FF): those stay as they are.
  constexpr std::int32_t kFirstEmojiModifier = 0x1F3FB;
  constexpr std::int32_t kLastEmojiModifier = 0x1F3FF;
  return property->boundclass == UTF8PROC_BOUNDCLASS_EXTEND &&
         (c < kFirstEmojiModifier || c > kLastEmojiModifier);
}

void append_escape(std::string& out, std::uint32_t code_point) {
  out += "\\u{";
  append_number(out, code_point, 16);
  out += '}';
}

// ASCII is decided without the tables: the only ASCII characters of the
// escaped categories are the C0 controls and DEL.
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
    if (i == size && is_lead(bytes[at])) return std::unexpected(Utf8Error{at, std::nullopt});
    return std::unexpected(Utf8Error{at, i - at});
  }
}

std::string_view escaping_unicode_version() { return utf8proc_unicode_version(); }

bool escaped_by_unicode_rule(char32_t code_point) {
  // utf8proc reads anything outside 0..U+10FFFF as unassigned.
  return must_escape(static_cast<std::int32_t>(code_point));
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
    const std::int32_t c = next_code_point(bytes, i, utf8.size());
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
