// UTF-8 validation, the quoted form and hexadecimal rendering. Decoding runs
// validate_utf8 over every text of every response, so the common all-ASCII
// case is checked eight bytes at a time.
#include "remote_session_client/text.h"

#include <cstring>

#include <unicode/uchar.h>

namespace remote_session_client {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Index of the first byte at or after `from` that is not ASCII (or the size).
std::size_t skip_ascii(ByteView bytes, std::size_t from) {
  std::size_t i = from;
  while (i + 8 <= bytes.size()) {
    std::uint64_t chunk;
    std::memcpy(&chunk, bytes.data() + i, sizeof chunk);
    if ((chunk & kHighBits) != 0) break;
    i += 8;
  }
  while (i < bytes.size() && bytes[i] < 0x80) ++i;
  return i;
}

// The range the first continuation byte must fall in after lead byte `lead`;
// the narrower ranges exclude overlongs (E0, F0), surrogates (ED) and code
// points above U+10FFFF (F4).
struct Lead {
  std::uint8_t continuations;  // 0: not a lead byte
  std::uint8_t first_low;
  std::uint8_t first_high;
};

constexpr Lead classify(std::uint8_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {1, 0x80, 0xBF};
  if (lead == 0xE0) return {2, 0xA0, 0xBF};
  if (lead == 0xED) return {2, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {2, 0x80, 0xBF};
  if (lead == 0xF0) return {3, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {3, 0x80, 0xBF};
  if (lead == 0xF4) return {3, 0x80, 0x8F};
  return {0, 0, 0};
}

// Length of the well-formed sequence starting at `at` (a non-ASCII lead),
// or 0 when there is none.
std::size_t well_formed_length(std::string_view utf8, std::size_t at) {
  const Lead lead = classify(static_cast<std::uint8_t>(utf8[at]));
  if (lead.continuations == 0 || at + lead.continuations >= utf8.size()) return 0;
  for (std::uint8_t k = 1; k <= lead.continuations; ++k) {
    const auto b = static_cast<std::uint8_t>(utf8[at + k]);
    const std::uint8_t low = k == 1 ? lead.first_low : 0x80;
    const std::uint8_t high = k == 1 ? lead.first_high : 0xBF;
    if (b < low || b > high) return 0;
  }
  return lead.continuations + 1U;
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
  char digits[8];
  int n = 0;
  do {
    digits[n++] = kHexDigits[code_point & 0xF];
    code_point >>= 4;
  } while (code_point != 0);
  out += "\\u{";
  while (n > 0) out += digits[--n];
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
    const Lead lead = classify(bytes[i]);
    if (lead.continuations == 0) return std::unexpected(Utf8Error{i, 1});
    // Maximal subpart: the error covers the lead and the continuation bytes
    // that were still acceptable before the first one that was not.
    for (std::uint8_t k = 1; k <= lead.continuations; ++k) {
      if (i + k >= size) return std::unexpected(Utf8Error{i, std::nullopt});
      const std::uint8_t b = bytes[i + k];
      const std::uint8_t low = k == 1 ? lead.first_low : 0x80;
      const std::uint8_t high = k == 1 ? lead.first_high : 0xBF;
      if (b < low || b > high) return std::unexpected(Utf8Error{i, k});
    }
    i += lead.continuations + 1U;
  }
}

std::string quoted(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  out += '"';
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    if (lead < 0x80) {
      append_ascii(out, utf8[i]);
      ++i;
      continue;
    }
    const std::size_t length = well_formed_length(utf8, i);
    if (length == 0) {
      // Not reachable for validated input; never emit broken UTF-8 anyway.
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    std::uint32_t c = lead & (0x7FU >> length);
    for (std::size_t k = 1; k < length; ++k) {
      c = (c << 6) | (static_cast<std::uint8_t>(utf8[i + k]) & 0x3FU);
    }
    if (must_escape(static_cast<UChar32>(c))) {
      append_escape(out, c);
    } else {
      out.append(utf8.substr(i, length));
    }
    i += length;
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
  std::string out(18, '0');
  out[1] = 'x';
  for (std::size_t i = 17; i >= 2; --i) {
    out[i] = kHexDigits[value & 0xF];
    value >>= 4;
  }
  return out;
}

}  // namespace remote_session_client
