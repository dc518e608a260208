// Adventure and paperclips word validation, and the display text of every
// codec error.
#include <expected>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "remote_session_client/protocol.h"

namespace remote_session_client {
namespace {

using E = AdventureItemError;
using Outcome = std::expected<std::string, AdventureItemError>;

struct WordRow {
  const char* what;
  std::string input;
  Outcome expected;
};

void PrintTo(const WordRow& row, std::ostream* os) { *os << row.what; }

std::string describe(const Outcome& outcome) {
  return outcome ? "ok \"" + *outcome + "\"" : "refused: " + std::string(to_string(outcome.error()));
}

std::vector<WordRow> adventure_rows() {
  return {
      {"lowersLetters", "North-East", "north-east"},
      {"keepsDigitsAndSeparators", "Key_2-B", "key_2-b"},
      {"empty", "", std::unexpected(E::Empty)},
      {"sixtyFourBytes", std::string(64, 'Q'), std::string(64, 'q')},
      {"sixtyFiveBytes", std::string(65, 'a'), std::unexpected(E::TooLong)},
      {"tooLongBeatsBadCharacters", std::string(65, ' '), std::unexpected(E::TooLong)},
      {"trailingSpace", "up ", std::unexpected(E::InvalidCharacter)},
      {"eAcute", "\xc3\xa9", std::unexpected(E::InvalidCharacter)},
      {"nulByte", std::string("a\0b", 3), std::unexpected(E::InvalidCharacter)},
      {"dot", "a.b", std::unexpected(E::InvalidCharacter)},
      {"markerAcrossSeparator", "Cap_Slot", std::unexpected(E::ReservedMarker)},
      {"markerInsideWord", "my-CapId", std::unexpected(E::ReservedMarker)},
      {"markerWithSuffix", "result_cap_7", std::unexpected(E::ReservedMarker)},
      {"longestMarker", "TerminalAuthority", std::unexpected(E::ReservedMarker)},
      {"capitalIsNoMarker", "capital", "capital"},
      {"escapeIsNoMarker", "escape", "escape"},
  };
}

class AdventureToken : public ::testing::TestWithParam<WordRow> {};

TEST_P(AdventureToken, Normalises) {
  EXPECT_EQ(describe(normalize_adventure_token(GetParam().input)), describe(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Words, AdventureToken, ::testing::ValuesIn(adventure_rows()),
                         [](const ::testing::TestParamInfo<WordRow>& info) {
                           return std::string(info.param.what);
                         });

std::vector<WordRow> paperclips_rows() {
  const std::string mixed = "Buy 10 Wire, then: a/b_c-d.";
  return {
      {"keptUnchanged", mixed, mixed},
      {"spacesKept", "  x  ", "  x  "},
      {"empty", "", std::unexpected(E::Empty)},
      {"fourKiB", std::string(4096, 'w'), std::string(4096, 'w')},
      {"overFourKiB", std::string(4097, 'w'), std::unexpected(E::TooLong)},
      {"semicolon", "buy;wire", std::unexpected(E::InvalidCharacter)},
      {"tab", "buy\twire", std::unexpected(E::InvalidCharacter)},
      {"markerAcrossPunctuation", "open Process.Handle", std::unexpected(E::ReservedMarker)},
      {"markerAcrossSpaces", "net work manager", std::unexpected(E::ReservedMarker)},
  };
}

class PaperclipsCommand : public ::testing::TestWithParam<WordRow> {};

TEST_P(PaperclipsCommand, Validates) {
  EXPECT_EQ(describe(normalize_paperclips_command(GetParam().input)), describe(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Commands, PaperclipsCommand, ::testing::ValuesIn(paperclips_rows()),
                         [](const ::testing::TestParamInfo<WordRow>& info) {
                           return std::string(info.param.what);
                         });

TEST(AdventureItemErrorText, EveryReason) {
  EXPECT_EQ(to_string(E::Empty), "must not be empty");
  EXPECT_EQ(to_string(E::TooLong), "must be at most 64 bytes");
  EXPECT_EQ(to_string(E::InvalidCharacter), "must contain only ASCII letters, digits, '-' or '_'");
  EXPECT_EQ(to_string(E::ReservedMarker), "uses a reserved diagnostic marker");
}

struct ErrorRow {
  ProtocolError error;
  std::string expected;
};

TEST(ProtocolErrorText, EveryVariant) {
  const std::vector<ErrorRow> rows = {
      {{ProtocolError::Capnp{"Message did not contain a root pointer."}},
       "Cap'n Proto protocol error: Message did not contain a root pointer."},
      {{ProtocolError::Utf8{{0, 1}}},
       "Cap'n Proto text was not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"},
      {{ProtocolError::Utf8{{12, std::nullopt}}},
       "Cap'n Proto text was not valid UTF-8: incomplete utf-8 byte sequence from index 12"},
      {{ProtocolError::SchemaMismatch{std::string(kPaperclipsRefusal)}},
       "remote gateway schema mismatch: PaperclipsInitial/Command/Status/Projects are "
       "bridge-internal and cannot be encoded onto the current RemoteGatewayRequest schema; "
       "extend the schema in Path C"},
      {{ProtocolError::SeqMismatch{7, 8}}, "response seq 8 did not match request seq 7"},
      {{ProtocolError::SeqMismatch{4294967295u, 0}},
       "response seq 0 did not match request seq 4294967295"},
      {{ProtocolError::InvalidAdventureDirection{E::InvalidCharacter}},
       "invalid Adventure direction: must contain only ASCII letters, digits, '-' or '_'"},
      {{ProtocolError::InvalidAdventureItem{E::TooLong}},
       "invalid Adventure item: must be at most 64 bytes"},
  };
  for (const ErrorRow& row : rows) EXPECT_EQ(to_string(row.error), row.expected);
}

}  // namespace
}  // namespace remote_session_client
