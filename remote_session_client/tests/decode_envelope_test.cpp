// The response envelope: sequence check, arm dispatch, Bool and Text arms,
// malformed and truncated messages, alignment, the reader limits and what one
// response may cost to decode.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decode_expect.h"
#include "message_builders.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {
namespace {

using rsc_test::decode_error;
using rsc_test::decoded;
using rsc_test::kCapnpPrefix;
using rsc_test::RawMessage;
using rsc_test::response;
using Root = orvik_capnp::RemoteGatewayResponse;

Bytes motd(std::uint32_t seq, const std::string& text) {
  return response(seq, [&](Root::Builder root) { root.setSystemMotd(rsc_test::raw_text(text)); });
}

TEST(DecodeEnvelope, SeqMismatchComesBeforeTheArm) {
  const std::string expected = "response seq 8 did not match request seq 7";
  EXPECT_EQ(decode_error(7, motd(8, "hello")), expected);
  auto error_arm = response(8, [](Root::Builder root) {
    root.initError().setCode(orvik_capnp::RemoteErrorCode::UNKNOWN_CAP);
  });
  EXPECT_EQ(decode_error(7, error_arm), expected);
  RawMessage unknown_arm;
  unknown_arm.envelope(8, 23);
  EXPECT_EQ(decode_error(7, unknown_arm.bytes()), expected);
  // ... and before the payload: a bad text does not matter yet.
  EXPECT_EQ(decode_error(7, motd(8, "\xFF")), expected);
}

TEST(DecodeEnvelope, UnknownDiscriminantIsASchemaMismatch) {
  for (std::uint32_t arm : {23U, 24U, 0xFFFFU}) {
    RawMessage message;
    message.envelope(5, static_cast<std::uint16_t>(arm));
    EXPECT_EQ(decode_error(5, message.bytes()),
              "remote gateway schema mismatch: Enum value or union discriminant " +
                  std::to_string(arm) + " was not present in the schema.");
  }
}

TEST(DecodeEnvelope, EmptyDataSectionReadsAsSeqZeroAndArmZero) {
  RawMessage message;
  message.new_struct(0, 0, 1);
  EXPECT_TRUE(decoded<response::AuthMethods>(0, message.bytes()).methods.empty());
  EXPECT_EQ(decode_error(3, message.bytes()), "response seq 0 did not match request seq 3");

  RawMessage no_sections;
  no_sections.new_struct(0, 0, 0);
  EXPECT_TRUE(decoded<response::AuthMethods>(0, no_sections.bytes()).methods.empty());
}

TEST(DecodeEnvelope, MissingPointerSectionReadsAsEmptyText) {
  RawMessage message;
  std::size_t data = message.new_struct(0, 1, 0);
  message.word(data) = 9 | (std::uint64_t{5} << 32);
  EXPECT_EQ(decoded<response::SystemMotd>(9, message.bytes()).text, "");
}

// Each Bool arm reads data bit 48 and nothing else of the word.
TEST(DecodeEnvelope, BoolArmsReadBit48) {
  struct Arm {
    std::uint16_t number;
    bool (*read)(const DecodedResponse&);
  };
  const Arm arms[] = {
      {6, [](const DecodedResponse& r) { return std::get<response::ChatSent>(r.kind).value; }},
      {7, [](const DecodedResponse& r) { return std::get<response::LoggedOut>(r.kind).value; }},
      {16, [](const DecodedResponse& r) { return std::get<response::ChatJoined>(r.kind).value; }},
      {17, [](const DecodedResponse& r) { return std::get<response::ChatLeft>(r.kind).value; }},
  };
  for (const Arm& arm : arms) {
    for (bool bit : {false, true}) {
      RawMessage message;
      std::size_t data = message.envelope(4, arm.number);
      // Every other bit above the discriminant set, so only bit 48 decides.
      message.word(data) |= 0xFFFE000000000000ULL | (std::uint64_t{bit} << 48);
      auto result = decode_response(4, message.bytes());
      ASSERT_TRUE(result) << to_string(result.error());
      EXPECT_EQ(arm.read(*result), bit) << "arm " << arm.number;
    }
  }
}

TEST(DecodeEnvelope, BoolArmsBuiltByTheLibrary) {
  auto logged_out = response(2, [](Root::Builder root) { root.setLoggedOut(true); });
  EXPECT_TRUE(decoded<response::LoggedOut>(2, logged_out).value);
  auto not_logged_out = response(2, [](Root::Builder root) { root.setLoggedOut(false); });
  EXPECT_FALSE(decoded<response::LoggedOut>(2, not_logged_out).value);
}

template <typename V>
void expect_text_arm(void (Root::Builder::*set)(capnp::Text::Reader), std::uint16_t arm) {
  const std::string text = "You are in a maze \xE2\x9C\x93";
  auto bytes = response(11, [&](Root::Builder root) { (root.*set)(text); });
  EXPECT_EQ(decoded<V>(11, bytes).text, text);
  RawMessage null_text;
  null_text.envelope(11, arm);
  EXPECT_EQ(decoded<V>(11, null_text.bytes()).text, "");
}

TEST(DecodeEnvelope, TextArmsCopyTheirTextAndReadNullAsEmpty) {
  expect_text_arm<response::SystemMotd>(&Root::Builder::setSystemMotd, 5);
  expect_text_arm<response::AdventureStatus>(&Root::Builder::setAdventureStatus, 12);
  expect_text_arm<response::AdventureLook>(&Root::Builder::setAdventureLook, 13);
  expect_text_arm<response::AdventureInventory>(&Root::Builder::setAdventureInventory, 14);
  expect_text_arm<response::AdventureGo>(&Root::Builder::setAdventureGo, 15);
  expect_text_arm<response::AdventureTake>(&Root::Builder::setAdventureTake, 20);
  expect_text_arm<response::AdventureDrop>(&Root::Builder::setAdventureDrop, 21);
  expect_text_arm<response::AdventureUse>(&Root::Builder::setAdventureUse, 22);
}

TEST(DecodeEnvelope, MotdFfFeIsInvalidUtf8) {
  EXPECT_EQ(decode_error(1, motd(1, "\xFF\xFE")),
            "Cap'n Proto text was not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 0");
}

TEST(DecodeEnvelope, TrailingBytesAreIgnored) {
  Bytes bytes = motd(3, "banner");
  for (std::size_t extra : {1U, 3U, 8U, 17U}) {
    Bytes padded = bytes;
    padded.insert(padded.end(), extra, 0xA5);
    EXPECT_EQ(decoded<response::SystemMotd>(3, padded).text, "banner");
  }
}

TEST(DecodeEnvelope, MisalignedPayloadDecodesTheSame) {
  const Bytes bytes = motd(3, "banner");
  for (std::size_t shift : {1U, 4U, 7U}) {
    Bytes buffer(bytes.size() + shift);
    std::memcpy(buffer.data() + shift, bytes.data(), bytes.size());
    ByteView shifted(buffer.data() + shift, bytes.size());
    EXPECT_EQ(decoded<response::SystemMotd>(3, shifted).text, "banner");
    EXPECT_EQ(decode_error(4, shifted), "response seq 3 did not match request seq 4");
  }
}

// A response with every kind of payload nesting: a launcher entry holding
// grant requirements, service entries and text lists.
Bytes rich_message() {
  return response(6, [](Root::Builder root) {
    auto entry = root.initLauncherCatalog(1)[0];
    entry.setText0("launcher");
    entry.setText4("t4");
    entry.initGrantRequirements(1)[0].setText2("grant");
    auto service = entry.initServiceEntries(1)[0];
    service.setText5("svc");
    service.initTextList1(2).set(1, "hint");
    entry.initTextList(1).set(0, "tail");
  });
}

TEST(DecodeEnvelope, EveryTruncationFailsCleanly) {
  const Bytes bytes = rich_message();
  ASSERT_EQ(decoded<response::LauncherCatalog>(6, bytes).entries.size(), 1U);
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    auto result = decode_response(6, ByteView(bytes.data(), length));
    ASSERT_FALSE(result) << "prefix of " << length << " bytes decoded";
    EXPECT_TRUE(std::holds_alternative<ProtocolError::Capnp>(result.error().value))
        << length << ": " << to_string(result.error());
  }
}

TEST(DecodeEnvelope, MalformedFramesAreCapnpErrors) {
  EXPECT_EQ(decode_error(0, Bytes{}), kCapnpPrefix +
                "Message did not contain a root pointer.");

  Bytes huge_table(16, 0);
  huge_table[0] = 0xFF;  // 256 segments, with no room for their sizes
  EXPECT_TRUE(decode_error(0, huge_table).starts_with(kCapnpPrefix));

  Bytes short_segment = motd(0, "x");
  short_segment[4] = 0x40;  // claims 64 words
  EXPECT_EQ(decode_error(0, short_segment),
            kCapnpPrefix +
                "Message ends prematurely in first segment.");

  RawMessage list_root;
  list_root.list_pointer(0, list_root.alloc(1), RawMessage::kEightBytes, 1);
  EXPECT_EQ(decode_error(0, list_root.bytes()),
            kCapnpPrefix + rsc_test::kNotStruct);

  RawMessage out_of_bounds;
  out_of_bounds.struct_pointer(0, 40, 1, 1);
  EXPECT_EQ(decode_error(0, out_of_bounds.bytes()),
            kCapnpPrefix + rsc_test::kOutOfBoundsStruct);
}

// A launcher catalogue whose entries all point at one shared service list
// with a large data section: each read of the list counts against the
// traversal limit, so the limit bounds the work a small message causes.
Bytes shared_service_list(std::uint32_t launcher_entries) {
  constexpr std::uint16_t kServiceDataWords = 0xFFFF;
  RawMessage message;
  std::size_t root = message.envelope(1, 10);
  std::size_t first = message.new_struct_list(root + 1, launcher_entries, 1, 8);
  std::size_t service_list = message.new_struct_list(first + 1 + 6, 1, kServiceDataWords, 8);
  for (std::uint32_t i = 1; i < launcher_entries; ++i) {
    std::size_t slot = first + i * 9 + 1 + 6;  // pointer 6 of entry i
    message.list_pointer(slot, service_list - 1, RawMessage::kInlineComposite,
                         kServiceDataWords + 8);
  }
  return message.bytes();
}

TEST(DecodeEnvelope, TraversalLimitIsTwoToTheTwentySix) {
  // 500 reads of 65,543 words: above the library's default limit, below ours.
  auto within = decoded<response::LauncherCatalog>(1, shared_service_list(500));
  EXPECT_EQ(within.entries.size(), 500U);
  // 1,100 reads exceed 2^26 words.
  EXPECT_EQ(decode_error(1, shared_service_list(1100)),
            kCapnpPrefix + "Exceeded message traversal limit.  See capnp::ReaderOptions.");
}

const std::string kAmplified =
    kCapnpPrefix + "Message lists more elements than it can hold (amplified list pointers).";

// A capsetList of `count` zero-sized structs: one tag word, however many
// elements it claims.
Bytes zero_sized_entries(std::uint32_t count) {
  RawMessage message;
  std::size_t root = message.envelope(1, 2);
  message.new_struct_list(root + 1, count, 0, 0);
  return message.bytes();
}

TEST(DecodeEnvelope, ListsOfEmptyStructsCannotAmplify) {
  // All-default entries in their shortest form still decode...
  EXPECT_EQ(decoded<response::CapsetList>(1, zero_sized_entries(3)).entries.size(), 3U);
  EXPECT_EQ(decoded<response::CapsetList>(1, zero_sized_entries(1024)).entries.size(), 1024U);
  // ... but a handful of words cannot ask for many records.
  EXPECT_EQ(decode_error(1, zero_sized_entries(1025)), kAmplified);
  EXPECT_EQ(decode_error(1, zero_sized_entries(65536)), kAmplified);
  EXPECT_EQ(decode_error(1, zero_sized_entries(1U << 25)), kAmplified);
}

TEST(DecodeEnvelope, SharedListsCannotAmplify) {
  // 200 launcher entries all pointing at one list of 1,000 one-word service
  // entries: 200,200 records from about 2,800 words.
  RawMessage message;
  std::size_t root = message.envelope(1, 10);
  std::size_t first = message.new_struct_list(root + 1, 200, 1, 8);
  std::size_t services = message.new_struct_list(first + 1 + 6, 1000, 1, 0);
  for (std::uint32_t i = 1; i < 200; ++i) {
    message.list_pointer(first + i * 9 + 1 + 6, services - 1, RawMessage::kInlineComposite, 1000);
  }
  EXPECT_EQ(decode_error(1, message.bytes()), kAmplified);
}

const std::string kAmplifiedText =
    kCapnpPrefix + "Message holds less text than it lists (amplified text pointers).";

// One stored text of `size` bytes (and its NUL) that any number of pointers
// may share; returns its first word.
std::size_t stored_text(RawMessage& message, std::size_t size, char fill) {
  std::size_t at = message.alloc((size + 8) / 8);
  message.set_bytes(at, 0, std::string(size, fill));
  return at;
}

void point_at_text(RawMessage& message, std::size_t pointer_at, std::size_t text_at,
                   std::size_t size) {
  message.list_pointer(pointer_at, text_at, RawMessage::kByte,
                       static_cast<std::uint32_t>(size + 1));
}

// A chatWhoMembers answer of `members` pointers to one text of `text_bytes`,
// then `padding` words nothing points at.
Bytes shared_members(std::uint32_t members, std::size_t text_bytes, std::size_t padding = 0) {
  RawMessage message;
  std::size_t root = message.envelope(1, static_cast<std::uint16_t>(Root::CHAT_WHO_MEMBERS));
  std::size_t result = message.new_struct(root + 1, 0, 1);
  std::size_t list = message.alloc(members);
  message.list_pointer(result, list, RawMessage::kPointer, members);
  std::size_t text = stored_text(message, text_bytes, 'm');
  for (std::uint32_t i = 0; i < members; ++i) point_at_text(message, list + i, text, text_bytes);
  message.alloc(padding);
  return message.bytes();
}

// A capsetList of `entries` whose names and transfer policies all point at
// one text of `text_bytes`.
Bytes shared_cap_texts(std::uint32_t entries, std::size_t text_bytes) {
  RawMessage message;
  std::size_t root = message.envelope(1, static_cast<std::uint16_t>(Root::CAPSET_LIST));
  std::size_t first = message.new_struct_list(root + 1, entries, 2, 2);
  std::size_t text = stored_text(message, text_bytes, 'c');
  for (std::uint32_t i = 0; i < entries; ++i) {
    point_at_text(message, first + i * 4 + 2, text, text_bytes);  // name
    point_at_text(message, first + i * 4 + 3, text, text_bytes);  // transferPolicy
  }
  return message.bytes();
}

TEST(DecodeEnvelope, SharedTextCannotAmplify) {
  // 1,023 members of one 512 KiB text: ~512 MiB of copies from a 520 KiB
  // frame, just inside the traversal limit.
  EXPECT_EQ(decode_error(1, shared_members(1023, 512 * 1024 - 9)), kAmplifiedText);
  // Single text fields count as list elements do: 200 copies of 4 KiB from
  // a frame of about 7 KiB.
  EXPECT_EQ(decode_error(1, shared_cap_texts(100, 4096)), kAmplifiedText);
  // A small frame that shares a few texts is still read.
  auto caps = decoded<response::CapsetList>(1, shared_cap_texts(8, 4096));
  ASSERT_EQ(caps.entries.size(), 8U);
  EXPECT_EQ(caps.entries[7].name, std::string(4096, 'c'));
  EXPECT_EQ(caps.entries[7].transfer_policy, std::string(4096, 'c'));
}

TEST(DecodeEnvelope, TextAllowanceIsTheFrameOrSixtyFourKiB) {
  // Below 64 KiB of frame, 64 KiB of copies, to the byte.
  EXPECT_EQ(decoded<response::ChatWhoMembers>(1, shared_members(64, 1024)).members.size(), 64U);
  EXPECT_EQ(decode_error(1, shared_members(64, 1025)), kAmplifiedText);
  EXPECT_EQ(decode_error(1, shared_members(65, 1024)), kAmplifiedText);

  // Above it, the frame's own size: two copies of a 64 KiB text need a
  // frame of 128 KiB, padding included.
  constexpr std::size_t kText = 64 * 1024;
  const std::size_t unpadded = shared_members(2, kText).size();
  ASSERT_EQ((2 * kText - unpadded) % 8, 0U);
  const std::size_t padding = (2 * kText - unpadded) / 8;
  auto exact = shared_members(2, kText, padding);
  ASSERT_EQ(exact.size(), 2 * kText);
  auto members = decoded<response::ChatWhoMembers>(1, exact).members;
  ASSERT_EQ(members.size(), 2U);
  EXPECT_EQ(members[1], std::string(kText, 'm'));
  EXPECT_EQ(decode_error(1, shared_members(2, kText, padding - 1)), kAmplifiedText);
}

TEST(DecodeEnvelope, HonestTextDecodesWhateverItsShare) {
  // Text is nearly all of these frames, and well above 64 KiB.
  const std::string banner(300 * 1024, 'b');
  EXPECT_EQ(decoded<response::SystemMotd>(1, motd(1, banner)).text, banner);

  // 4,000 distinct names of 255 bytes: each takes 33 words, 32 of them text.
  std::vector<std::string> names;
  for (int i = 0; i < 4000; ++i) {
    names.push_back(std::to_string(1000 + i) + std::string(251, static_cast<char>('a' + i % 26)));
  }
  auto who = response(1, [&](Root::Builder root) {
    auto list = root.initChatWhoMembers().initMembers(static_cast<unsigned>(names.size()));
    for (unsigned i = 0; i < names.size(); ++i) list.set(i, names[i]);
  });
  EXPECT_EQ(decoded<response::ChatWhoMembers>(1, who).members, names);
}

}  // namespace
}  // namespace remote_session_client
