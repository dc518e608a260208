// UTF-8 validation by the maximal-subpart rule, the quoted form and the hex
// renderings.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "remote_session_client/protocol_error.h"
#include "remote_session_client/text.h"

namespace remote_session_client {
namespace {

ByteView view(const std::string& bytes) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

struct Utf8Case {
  const char* name;
  std::string bytes;
  // Empty when the bytes are valid.
  std::string error_text;
};
void PrintTo(const Utf8Case& row, std::ostream* os) { *os << row.name; }

class Utf8Validation : public testing::TestWithParam<Utf8Case> {};

// Long ASCII runs are skipped in blocks; a fault, or a valid sequence, at
// any place in or across a block is found exactly where it is.
TEST(Utf8Validation, FindsFaultsAtEveryPlaceOfALongAsciiRun) {
  for (std::size_t at : {0, 7, 8, 63, 64, 65, 127, 128, 200, 299}) {
    std::string bytes(300, 'a');
    bytes[at] = '\xFF';
    auto result = validate_utf8(view(bytes));
    ASSERT_FALSE(result.has_value()) << at;
    EXPECT_EQ(result.error().valid_up_to, at);
    EXPECT_EQ(result.error().error_len, std::optional<std::size_t>(1));
    bytes.replace(at, 1, at == 299 ? "\xC3" : "\xC3\xA9");
    result = validate_utf8(view(bytes));
    EXPECT_EQ(result.has_value(), at != 299) << at;
  }
}

TEST_P(Utf8Validation, ReportsTheMaximalSubpart) {
  const auto& c = GetParam();
  auto result = validate_utf8(view(c.bytes));
  if (c.error_text.empty()) {
    EXPECT_TRUE(result.has_value());
    return;
  }
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(to_string(ProtocolError{ProtocolError::Utf8{result.error()}}), c.error_text);
}

std::string invalid(int length, int index) {
  return "Cap'n Proto text was not valid UTF-8: invalid utf-8 sequence of " +
         std::to_string(length) + " bytes from index " + std::to_string(index);
}

std::string incomplete(int index) {
  return "Cap'n Proto text was not valid UTF-8: incomplete utf-8 byte sequence from index " +
         std::to_string(index);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf8Validation,
    testing::Values(
        Utf8Case{"empty", "", ""},
        Utf8Case{"ascii", "hello, gateway", ""},
        Utf8Case{"nul_is_a_character", std::string("a\0b", 3), ""},
        Utf8Case{"two_byte", "caf\xC3\xA9", ""},
        Utf8Case{"three_byte", "\xE2\x82\xAC", ""},
        Utf8Case{"four_byte", "\xF0\x9F\x98\x80", ""},
        Utf8Case{"last_before_surrogates", "\xED\x9F\xBF", ""},
        Utf8Case{"first_after_surrogates", "\xEE\x80\x80", ""},
        Utf8Case{"highest_code_point", "\xF4\x8F\xBF\xBF", ""},
        Utf8Case{"ff_fe", "\xFF\xFE", invalid(1, 0)},
        Utf8Case{"lone_continuation", "\x80", invalid(1, 0)},
        Utf8Case{"continuation_after_ascii", "a\xBF", invalid(1, 1)},
        Utf8Case{"bad_byte_after_long_ascii_run", "0123456789abc\xFF", invalid(1, 13)},
        Utf8Case{"overlong_c0", "\xC0\x80", invalid(1, 0)},
        Utf8Case{"overlong_c1", "\xC1\xBF", invalid(1, 0)},
        Utf8Case{"overlong_three_byte", "\xE0\x80\x80", invalid(1, 0)},
        Utf8Case{"overlong_three_byte_high", "\xE0\x9F\xBF", invalid(1, 0)},
        Utf8Case{"overlong_four_byte", "\xF0\x8F\xBF\xBF", invalid(1, 0)},
        Utf8Case{"surrogate_low_end", "\xED\xA0\x80", invalid(1, 0)},
        Utf8Case{"surrogate_high_end", "\xED\xBF\xBF", invalid(1, 0)},
        Utf8Case{"above_max", "\xF4\x90\x80\x80", invalid(1, 0)},
        Utf8Case{"lead_f5", "\xF5\x80\x80\x80", invalid(1, 0)},
        Utf8Case{"two_byte_bad_continuation", "\xC3\x41", invalid(1, 0)},
        Utf8Case{"three_byte_bad_second_continuation", "\xE2\x82\x41", invalid(2, 0)},
        Utf8Case{"four_byte_bad_third_continuation", "\xF0\x9F\x98\x41", invalid(3, 0)},
        Utf8Case{"after_valid_multibyte", "ok\xC3\xA9x\xFF", invalid(1, 5)},
        Utf8Case{"truncated_three_byte", "\xE2\x82", incomplete(0)},
        Utf8Case{"truncated_lead_only", "ab\xE2", incomplete(2)},
        Utf8Case{"truncated_four_byte", "\xF0\x9F\x98", incomplete(0)},
        Utf8Case{"truncated_two_byte", "\xC3", incomplete(0)},
        Utf8Case{"truncated_after_ascii_chunk", "12345678\xF4\x8F", incomplete(8)}),
    [](const auto& info) { return std::string(info.param.name); });

struct QuotedCase {
  const char* name;
  std::string input;
  std::string expected;
};
void PrintTo(const QuotedCase& row, std::ostream* os) { *os << row.name; }

class Quoted : public testing::TestWithParam<QuotedCase> {};

TEST_P(Quoted, EscapesExactlyTheInvisibleAndTheSyntax) {
  EXPECT_EQ(remote_session_client::quoted(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Quoted,
    testing::Values(
        QuotedCase{"empty", "", R"("")"},
        QuotedCase{"plain", "denied by policy", R"("denied by policy")"},
        QuotedCase{"double_quote", R"(say "hi")", R"("say \"hi\"")"},
        QuotedCase{"backslash", R"(a\b)", R"("a\\b")"},
        QuotedCase{"nul", std::string("a\0b", 3), R"("a\0b")"},
        QuotedCase{"tab_cr_lf", "\t\r\n", R"("\t\r\n")"},
        QuotedCase{"escape_control", "\x1B[0m", R"("\u{1b}[0m")"},
        QuotedCase{"delete", "\x7F", R"("\u{7f}")"},
        QuotedCase{"other_c0", "\x01\x1F", R"("\u{1}\u{1f}")"},
        QuotedCase{"c1_control", "\xC2\x85", R"("\u{85}")"},
        QuotedCase{"no_break_space", "a\xC2\xA0z", R"("a\u{a0}z")"},
        QuotedCase{"ideographic_space", "\xE3\x80\x80", R"("\u{3000}")"},
        QuotedCase{"combining_acute", "e\xCC\x81", R"("e\u{301}")"},
        QuotedCase{"grapheme_extend_letter", "\xEF\xBE\x9E", R"("\u{ff9e}")"},
        QuotedCase{"line_separator", "\xE2\x80\xA8", R"("\u{2028}")"},
        QuotedCase{"paragraph_separator", "\xE2\x80\xA9", R"("\u{2029}")"},
        QuotedCase{"byte_order_mark", "\xEF\xBB\xBF", R"("\u{feff}")"},
        QuotedCase{"zero_width_space", "\xE2\x80\x8B", R"("\u{200b}")"},
        QuotedCase{"unassigned", "\xCD\xB8", R"("\u{378}")"},
        QuotedCase{"noncharacter", "\xF4\x8F\xBF\xBF", R"("\u{10ffff}")"},
        QuotedCase{"private_use", "\xEE\x80\x80", R"("\u{e000}")"},
        QuotedCase{"supplementary_private_use", "\xF3\xB0\x80\x80", R"("\u{f0000}")"},
        QuotedCase{"unchanged_text", "it's caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",
                   "\"it's caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\""},
        QuotedCase{"precomposed_e_acute", "\xC3\xA9", "\"\xC3\xA9\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Quoted, NeverEmitsBrokenUtf8ForBrokenInput) {
  const std::string out = remote_session_client::quoted("a\xFF\xE2\x82");
  EXPECT_EQ(out, "\"a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

struct PropertyCase {
  const char* name;
  char32_t code_point;
  bool escaped;
};
void PrintTo(const PropertyCase& row, std::ostream* os) { *os << row.name; }

class UnicodeRule : public testing::TestWithParam<PropertyCase> {};

// One character of each property the rule reads, and neighbours that must
// stay unescaped, so that a change of tables or of the lookup shows here.
TEST_P(UnicodeRule, EscapesByCategoryAndGraphemeExtend) {
  EXPECT_EQ(escaped_by_unicode_rule(GetParam().code_point), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnicodeRule,
    testing::Values(PropertyCase{"cf_soft_hyphen", 0xAD, true}, PropertyCase{"zs_em_space", 0x2003, true},
                    PropertyCase{"zl", 0x2028, true}, PropertyCase{"zp", 0x2029, true},
                    PropertyCase{"co_plane_16", 0x10FFFD, true}, PropertyCase{"cs", 0xD800, true},
                    PropertyCase{"cn_unassigned", 0x0378, true}, PropertyCase{"cn_noncharacter", 0xFDD0, true},
                    PropertyCase{"grapheme_extend_mn", 0x0301, true},
                    PropertyCase{"grapheme_extend_mc", 0x09BE, true},
                    PropertyCase{"emoji_modifier_first", 0x1F3FB, false},
                    PropertyCase{"emoji_modifier_last", 0x1F3FF, false},
                    PropertyCase{"spacing_mark", 0x0903, false}, PropertyCase{"letter", 0x41, false},
                    PropertyCase{"new_in_unicode_15", 0x1FAE8, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The tables are Unicode 15.0's; a newer utf8proc changes which characters
// are escaped, so taking one is a decision made here, not by accident.
TEST(UnicodeRule, FollowsUnicode15) { EXPECT_EQ(escaping_unicode_version(), "15.0.0"); }

TEST(Hex, LowerCaseTwoDigitsPerByte) {
  const std::uint8_t id[] = {0x00, 0x0A, 0xFF};
  EXPECT_EQ(hex_lower(ByteView(id)), "000aff");
  EXPECT_EQ(hex_lower(ByteView()), "");
}

TEST(Hex, U64PaddedToSixteenDigits) {
  EXPECT_EQ(hex_u64_padded(0), "0x0000000000000000");
  EXPECT_EQ(hex_u64_padded(0x1234), "0x0000000000001234");
  EXPECT_EQ(hex_u64_padded(0x0123456789ABCDEFULL), "0x0123456789abcdef");
  EXPECT_EQ(hex_u64_padded(0xFFFFFFFFFFFFFFFFULL), "0xffffffffffffffff");
}

}  // namespace
}  // namespace remote_session_client
