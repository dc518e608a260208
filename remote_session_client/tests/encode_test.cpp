// encode_request: golden bytes for the requests whose layout a real gateway
// depends on, and every payload read back through the generated readers.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include "orvik_config/orvik.capnp.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {
namespace {

using Which = orvik_capnp::RemoteGatewayRequest::Which;

Bytes encoded(std::uint32_t seq, const RequestKind& request) {
  auto bytes = encode_request(seq, request);
  EXPECT_TRUE(bytes.has_value()) << (bytes ? "" : to_string(bytes.error()));
  return bytes ? *bytes : Bytes{};
}

// Message words as they appear on the wire, each given as one little-endian
// 64-bit number, after a one-segment table.
Bytes single_segment(std::initializer_list<std::uint64_t> words) {
  Bytes out = {0, 0, 0, 0};
  const auto count = static_cast<std::uint32_t>(words.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(count >> (8 * i)));
  for (std::uint64_t word : words) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
  }
  return out;
}

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Reads an encoded request back, and checks that the message fills the
// buffer exactly: no slack before or after it.
class ReadBack {
 public:
  explicit ReadBack(Bytes bytes)
      : bytes_(std::move(bytes)),
        reader_(kj::arrayPtr(reinterpret_cast<const capnp::word*>(bytes_.data()),
                             bytes_.size() / sizeof(capnp::word))) {
    EXPECT_EQ(bytes_.size() % sizeof(capnp::word), 0u);
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(reader_.getEnd()), bytes_.data() + bytes_.size());
  }
  orvik_capnp::RemoteGatewayRequest::Reader root() {
    return reader_.getRoot<orvik_capnp::RemoteGatewayRequest>();
  }

 private:
  Bytes bytes_;
  capnp::FlatArrayMessageReader reader_;
};

std::string str(capnp::Text::Reader text) { return std::string(text.begin(), text.size()); }
Bytes bytes_of(capnp::Data::Reader data) { return Bytes(data.begin(), data.end()); }

TEST(EncodeRequest, SystemMotdIsThirtyTwoBytes) {
  const Bytes expected = {
      0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,  // one segment of 3 words
      0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,  // root: struct, 1 data word, 1 pointer
      0x07, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00,  // seq 7, arm 6
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // no payload
  };
  EXPECT_EQ(encoded(7, request::SystemMotd{}), expected);
}

TEST(EncodeRequest, CapsetGetWritesTheInterfaceIdAsItsDataWord) {
  const Bytes expected = single_segment({
      0x0001000100000000,  // root pointer
      0x0000000400000007,  // seq 7, arm 4
      0x0001000100000000,  // -> RemoteCapGetRequest right behind
      0x0000000000001234,  // expectedInterfaceId: 34 12 00 00 00 00 00 00
      0x0000001200000001,  // name: bytes, 2 elements ("x" and its NUL)
      0x0000000000000078,  // "x"
  });
  EXPECT_EQ(encoded(7, request::CapsetGet{"x", 0x1234}), expected);
}

TEST(EncodeRequest, PasswordLoginLayout) {
  const request::Login login{auth::Password{
      LoginSelector{LoginSelector::Tag::AccountName, bytes_of("alice")}, "operator",
      bytes_of("s3c")}};
  const Bytes expected = single_segment({
      0x0001000100000000,  // w0 root pointer
      0x0000000100000009,  // w1 seq 9, arm 1
      0x0003000000000000,  // w2 -> RemotePasswordLogin at w3: 0 data words, 3 pointers
      0x0001000100000008,  // w3 selector -> w6
      0x0000004a00000011,  // w4 profile -> w9: 9 bytes, "operator" and the NUL
      0x0000001a00000015,  // w5 proof -> w11: 3 bytes
      0x0000000000000000,  // w6 LoginSelector discriminant 0: accountName
      0x0000002a00000001,  // w7 accountName -> w8: 5 bytes, no terminator
      0x0000006563696c61,  // w8 "alice"
      0x726f74617265706f,  // w9 "operator"
      0x0000000000000000,  // w10 NUL and padding
      0x0000000000633373,  // w11 "s3c"
  });
  EXPECT_EQ(encoded(9, login), expected);
}

TEST(EncodeRequest, OpaqueSelectorTakesArmOne) {
  const request::Login login{
      auth::Password{LoginSelector{LoginSelector::Tag::Opaque, Bytes{0x00, 0xff}}, "p", Bytes{}}};
  ReadBack back(encoded(1, login));
  const auto password = back.root().getPasswordLogin();
  ASSERT_EQ(password.getSelector().which(), orvik_capnp::LoginSelector::OPAQUE_SELECTOR);
  EXPECT_EQ(bytes_of(password.getSelector().getOpaqueSelector()), (Bytes{0x00, 0xff}));
  // An empty proof is still sent, as empty Data.
  EXPECT_TRUE(password.hasProof());
  EXPECT_EQ(password.getProof().size(), 0u);
}

TEST(EncodeRequest, EmptyProfilesAreEmptyTextNotNull) {
  for (const RequestKind& request :
       {RequestKind{request::Login{auth::Guest{""}}}, RequestKind{request::Login{auth::Anonymous{""}}}}) {
    ReadBack back(encoded(3, request));
    const auto root = back.root();
    if (root.which() == Which::GUEST_LOGIN) {
      EXPECT_TRUE(root.getGuestLogin().hasProfile());
      EXPECT_EQ(str(root.getGuestLogin().getProfile()), "");
    } else {
      ASSERT_EQ(root.which(), Which::ANONYMOUS_LOGIN);
      EXPECT_TRUE(root.getAnonymousLogin().hasProfile());
      EXPECT_EQ(str(root.getAnonymousLogin().getProfile()), "");
    }
  }
}

TEST(EncodeRequest, ServiceLaunchAlwaysSendsTheGrantsList) {
  {
    ReadBack back(encoded(4, request::ServiceLaunch{"ops", {}}));
    const auto launch = back.root().getServiceLaunch();
    EXPECT_EQ(str(launch.getProfile()), "ops");
    EXPECT_TRUE(launch.hasGrants());
    EXPECT_EQ(launch.getGrants().size(), 0u);
  }
  {
    ReadBack back(encoded(4, request::ServiceLaunch{"ops", {"a,b", "", "c"}}));
    const auto grants = back.root().getServiceLaunch().getGrants();
    ASSERT_EQ(grants.size(), 3u);
    EXPECT_EQ(str(grants[0]), "a,b");
    EXPECT_EQ(str(grants[1]), "");
    EXPECT_EQ(str(grants[2]), "c");
  }
}

TEST(EncodeRequest, SchemaDenialProbeIsAnOrdinaryChatSend) {
  const request::ChatSend send{std::string(kSchemaDenialChannel), std::string(kSchemaDenialText)};
  EXPECT_EQ(encoded(11, request::ChatSchemaDenialProbe{}), encoded(11, send));
  ReadBack back(encoded(11, request::ChatSchemaDenialProbe{}));
  ASSERT_EQ(back.root().which(), Which::CHAT_SEND);
  EXPECT_EQ(str(back.root().getChatSend().getChannel()), "#orvik-schema-denial");
  EXPECT_EQ(str(back.root().getChatSend().getText()), "send-without-join schema denial proof");
}

TEST(EncodeRequest, ChatPollSendsMaxEventsUnbounded) {
  for (std::uint16_t max_events : {std::uint16_t{0}, std::uint16_t{65535}}) {
    ReadBack back(encoded(2, request::ChatPoll{max_events}));
    ASSERT_EQ(back.root().which(), Which::CHAT_POLL);
    EXPECT_EQ(back.root().getChatPoll().getMaxEvents(), max_events);
  }
}

TEST(EncodeRequest, ChatStringsTravelUnchanged) {
  {
    ReadBack back(encoded(5, request::ChatSend{" #Lobby ", ""}));
    EXPECT_EQ(str(back.root().getChatSend().getChannel()), " #Lobby ");
    EXPECT_TRUE(back.root().getChatSend().hasText());
    EXPECT_EQ(str(back.root().getChatSend().getText()), "");
  }
  {
    ReadBack back(encoded(5, request::ChatJoin{"#lobby", "Ada"}));
    ASSERT_EQ(back.root().which(), Which::CHAT_JOIN);
    EXPECT_EQ(str(back.root().getChatJoin().getChannel()), "#lobby");
    EXPECT_EQ(str(back.root().getChatJoin().getHandle()), "Ada");
  }
  {
    ReadBack back(encoded(5, request::ChatLeave{"#a"}));
    ASSERT_EQ(back.root().which(), Which::CHAT_LEAVE);
    EXPECT_EQ(str(back.root().getChatLeave().getChannel()), "#a");
  }
  {
    ReadBack back(encoded(5, request::ChatWho{"#b"}));
    ASSERT_EQ(back.root().which(), Which::CHAT_WHO);
    EXPECT_EQ(str(back.root().getChatWho().getChannel()), "#b");
  }
}

// A request too big for the first segment spills into more segments and is
// still one exactly sized flat message.
TEST(EncodeRequest, LargeRequestSpansSegments) {
  const std::string text(20000, 'z');
  const Bytes bytes = encoded(6, request::ChatSend{"#big", text});
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_GT(bytes[0], 0) << "expected more than one segment";
  ReadBack back(bytes);
  EXPECT_EQ(str(back.root().getChatSend().getText()), text);
}

struct VoidArm {
  RequestKind request;
  std::uint16_t arm;
};

TEST(EncodeRequest, PayloadFreeRequestsSetOnlyTheirArm) {
  const std::vector<VoidArm> rows = {
      {request::AuthMethods{}, 0},      {request::CapsetList{}, 3},
      {request::SessionInfo{}, 5},      {request::SystemMotd{}, 6},
      {request::Logout{}, 8},           {request::ServiceCatalog{}, 9},
      {request::LauncherCatalog{}, 10}, {request::AdventureStatus{}, 12},
      {request::AdventureLook{}, 13},   {request::AdventureInventory{}, 14},
  };
  for (const VoidArm& row : rows) {
    SCOPED_TRACE(label(row.request));
    const Bytes expected = single_segment({0x0001000100000000, (std::uint64_t{row.arm} << 32) | 0x2a, 0});
    EXPECT_EQ(encoded(42, row.request), expected);
  }
}

TEST(EncodeRequest, AdventureWordsAreSentNormalised) {
  {
    ReadBack back(encoded(1, request::AdventureGo{"North-East"}));
    ASSERT_EQ(back.root().which(), Which::ADVENTURE_GO);
    EXPECT_EQ(str(back.root().getAdventureGo().getDirection()), "north-east");
  }
  struct Row { RequestKind request; Which arm; };
  for (const Row& row : {Row{request::AdventureTake{"Brass_Lamp"}, Which::ADVENTURE_TAKE},
                         Row{request::AdventureDrop{"Brass_Lamp"}, Which::ADVENTURE_DROP},
                         Row{request::AdventureUse{"Brass_Lamp"}, Which::ADVENTURE_USE}}) {
    ReadBack back(encoded(1, row.request));
    const auto root = back.root();
    ASSERT_EQ(root.which(), row.arm);
    const auto item = row.arm == Which::ADVENTURE_TAKE   ? root.getAdventureTake()
                      : row.arm == Which::ADVENTURE_DROP ? root.getAdventureDrop()
                                                         : root.getAdventureUse();
    EXPECT_EQ(str(item.getItem()), "brass_lamp");
  }
}

TEST(EncodeRequest, RefusedAdventureWordsProduceNoBytes) {
  struct Row { RequestKind request; ProtocolError expected; };
  using E = AdventureItemError;
  const std::vector<Row> rows = {
      {request::AdventureGo{"up "}, {ProtocolError::InvalidAdventureDirection{E::InvalidCharacter}}},
      {request::AdventureGo{""}, {ProtocolError::InvalidAdventureDirection{E::Empty}}},
      {request::AdventureTake{std::string(65, 'a')}, {ProtocolError::InvalidAdventureItem{E::TooLong}}},
      {request::AdventureDrop{"Cap_Slot"}, {ProtocolError::InvalidAdventureItem{E::ReservedMarker}}},
      {request::AdventureUse{"\xc3\xa9"}, {ProtocolError::InvalidAdventureItem{E::InvalidCharacter}}},
  };
  for (const Row& row : rows) {
    const auto result = encode_request(1, row.request);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(to_string(result.error()), to_string(row.expected));
    EXPECT_EQ(result.error().value.index(), row.expected.value.index());
  }
}

TEST(EncodeRequest, PaperclipsRequestsHaveNoArm) {
  ASSERT_EQ(kPaperclipsRefusal.size(), 157u);
  for (const RequestKind& request :
       {RequestKind{request::PaperclipsInitial{}}, RequestKind{request::PaperclipsCommand{"make 10"}},
        RequestKind{request::PaperclipsCommand{"bad;text"}}, RequestKind{request::PaperclipsStatus{}},
        RequestKind{request::PaperclipsProjects{}}}) {
    const auto result = encode_request(1, request);
    ASSERT_FALSE(result.has_value());
    const auto* mismatch = std::get_if<ProtocolError::SchemaMismatch>(&result.error().value);
    ASSERT_NE(mismatch, nullptr);
    EXPECT_EQ(mismatch->message, kPaperclipsRefusal);
  }
}

}  // namespace
}  // namespace remote_session_client
