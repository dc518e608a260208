// Failures inside payloads: invalid UTF-8 at every text field, pointers of the
// wrong kind, and which failure wins when there are several.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "decode_expect.h"
#include "message_builders.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {
namespace {

using rsc_test::decode_error;
using rsc_test::kCapnpPrefix;
using rsc_test::RawMessage;
using rsc_test::response;
using Root = orvik_capnp::RemoteGatewayResponse;
using Text = capnp::Text::Reader;

// Puts `text` into one text field (or list element) of an otherwise valid
// response; lists hold that field in their last element, so the elements
// before it have decoded already when it fails.
struct TextField {
  const char* name;
  std::function<void(Root::Builder, Text)> put;
};
void PrintTo(const TextField& row, std::ostream* os) { *os << row.name; }

class BadUtf8 : public testing::TestWithParam<TextField> {};

TEST_P(BadUtf8, FailsTheWholeResponse) {
  const std::string good = "fine";
  const std::string bad = "a\xFF" "b";
  auto valid = decode_response(9, response(9, [&](Root::Builder root) {
                                 GetParam().put(root, rsc_test::raw_text(good));
                               }));
  ASSERT_TRUE(valid) << to_string(valid.error());
  EXPECT_EQ(decode_error(9, response(9, [&](Root::Builder root) {
                           GetParam().put(root, rsc_test::raw_text(bad));
                         })),
            "Cap'n Proto text was not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 1");
}

using Service = orvik_capnp::RemoteServiceCatalogEntry::Builder;

// The last of three service entries, with `put` applied to it.
std::function<void(Root::Builder, Text)> in_service_catalog(void (*put)(Service, Text)) {
  return [put](Root::Builder root, Text text) { put(root.initServiceCatalog(3)[2], text); };
}

const TextField kTextFields[] = {
    {"systemMotd", [](Root::Builder r, Text t) { r.setSystemMotd(t); }},
    {"adventureStatus", [](Root::Builder r, Text t) { r.setAdventureStatus(t); }},
    {"adventureLook", [](Root::Builder r, Text t) { r.setAdventureLook(t); }},
    {"adventureInventory", [](Root::Builder r, Text t) { r.setAdventureInventory(t); }},
    {"adventureGo", [](Root::Builder r, Text t) { r.setAdventureGo(t); }},
    {"adventureTake", [](Root::Builder r, Text t) { r.setAdventureTake(t); }},
    {"adventureDrop", [](Root::Builder r, Text t) { r.setAdventureDrop(t); }},
    {"adventureUse", [](Root::Builder r, Text t) { r.setAdventureUse(t); }},
    {"authMethods_label", [](Root::Builder r, Text t) { r.initAuthMethods(3)[2].setLabel(t); }},
    {"authMethods_profileHints",
     [](Root::Builder r, Text t) { r.initAuthMethods(3)[2].initProfileHints(3).set(2, t); }},
    {"sessionStarted_profile",
     [](Root::Builder r, Text t) { r.initSessionStarted().initSession().setProfile(t); }},
    {"sessionStarted_displayName",
     [](Root::Builder r, Text t) {
       r.initSessionStarted().initSession().initPrincipal().setDisplayName(t);
     }},
    {"sessionInfo_profile", [](Root::Builder r, Text t) { r.initSessionInfo().setProfile(t); }},
    {"sessionInfo_displayName",
     [](Root::Builder r, Text t) { r.initSessionInfo().initPrincipal().setDisplayName(t); }},
    {"capsetList_name", [](Root::Builder r, Text t) { r.initCapsetList(3)[2].setName(t); }},
    {"capsetList_transferPolicy",
     [](Root::Builder r, Text t) { r.initCapsetList(3)[2].setTransferPolicy(t); }},
    {"capGranted_name", [](Root::Builder r, Text t) { r.initCapGranted().setName(t); }},
    {"capGranted_transferPolicy",
     [](Root::Builder r, Text t) { r.initCapGranted().setTransferPolicy(t); }},
    {"error_message", [](Root::Builder r, Text t) { r.initError().setMessage(t); }},
    {"serviceCatalog_text0", in_service_catalog([](Service s, Text t) { s.setText0(t); })},
    {"serviceCatalog_text1", in_service_catalog([](Service s, Text t) { s.setText1(t); })},
    {"serviceCatalog_text2", in_service_catalog([](Service s, Text t) { s.setText2(t); })},
    {"serviceCatalog_text3", in_service_catalog([](Service s, Text t) { s.setText3(t); })},
    {"serviceCatalog_text4", in_service_catalog([](Service s, Text t) { s.setText4(t); })},
    {"serviceCatalog_text5", in_service_catalog([](Service s, Text t) { s.setText5(t); })},
    {"serviceCatalog_textList0",
     in_service_catalog([](Service s, Text t) { s.initTextList0(2).set(1, t); })},
    {"serviceCatalog_textList1",
     in_service_catalog([](Service s, Text t) { s.initTextList1(2).set(1, t); })},
    {"launcherCatalog_text0", [](Root::Builder r, Text t) { r.initLauncherCatalog(2)[1].setText0(t); }},
    {"launcherCatalog_text1", [](Root::Builder r, Text t) { r.initLauncherCatalog(2)[1].setText1(t); }},
    {"launcherCatalog_text2", [](Root::Builder r, Text t) { r.initLauncherCatalog(2)[1].setText2(t); }},
    {"launcherCatalog_text3", [](Root::Builder r, Text t) { r.initLauncherCatalog(2)[1].setText3(t); }},
    {"launcherCatalog_text4", [](Root::Builder r, Text t) { r.initLauncherCatalog(2)[1].setText4(t); }},
    {"launcherCatalog_grant_text0",
     [](Root::Builder r, Text t) {
       r.initLauncherCatalog(1)[0].initGrantRequirements(2)[1].setText0(t);
     }},
    {"launcherCatalog_grant_text1",
     [](Root::Builder r, Text t) {
       r.initLauncherCatalog(1)[0].initGrantRequirements(2)[1].setText1(t);
     }},
    {"launcherCatalog_grant_text2",
     [](Root::Builder r, Text t) {
       r.initLauncherCatalog(1)[0].initGrantRequirements(2)[1].setText2(t);
     }},
    {"launcherCatalog_grant_text3",
     [](Root::Builder r, Text t) {
       r.initLauncherCatalog(1)[0].initGrantRequirements(2)[1].setText3(t);
     }},
    {"launcherCatalog_service_text3",
     [](Root::Builder r, Text t) {
       r.initLauncherCatalog(1)[0].initServiceEntries(2)[1].setText3(t);
     }},
    {"launcherCatalog_service_textList1",
     [](Root::Builder r, Text t) {
       r.initLauncherCatalog(1)[0].initServiceEntries(2)[1].initTextList1(1).set(0, t);
     }},
    {"launcherCatalog_textList",
     [](Root::Builder r, Text t) { r.initLauncherCatalog(1)[0].initTextList(2).set(1, t); }},
    {"serviceLaunch_text0", [](Root::Builder r, Text t) { r.initServiceLaunch().setText0(t); }},
    {"serviceLaunch_text1", [](Root::Builder r, Text t) { r.initServiceLaunch().setText1(t); }},
    {"serviceLaunch_text2", [](Root::Builder r, Text t) { r.initServiceLaunch().setText2(t); }},
    {"serviceLaunch_textList",
     [](Root::Builder r, Text t) { r.initServiceLaunch().initTextList(3).set(2, t); }},
    {"serviceLaunch_service_text5",
     [](Root::Builder r, Text t) { r.initServiceLaunch().initServiceEntries(2)[1].setText5(t); }},
    {"chatPollEvents_text0",
     [](Root::Builder r, Text t) { r.initChatPollEvents().initEvents(3)[2].setText0(t); }},
    {"chatPollEvents_text1",
     [](Root::Builder r, Text t) { r.initChatPollEvents().initEvents(3)[2].setText1(t); }},
    {"chatPollEvents_text2",
     [](Root::Builder r, Text t) { r.initChatPollEvents().initEvents(3)[2].setText2(t); }},
    {"chatWhoMembers",
     [](Root::Builder r, Text t) { r.initChatWhoMembers().initMembers(3).set(2, t); }},
};

INSTANTIATE_TEST_SUITE_P(EveryTextField, BadUtf8, testing::ValuesIn(kTextFields),
                         [](const auto& info) { return std::string(info.param.name); });

// A pointer of the wrong kind where a payload is expected.
struct WrongKind {
  const char* name;
  std::function<Bytes()> build;
  std::string description;
};
void PrintTo(const WrongKind& row, std::ostream* os) { *os << row.name; }

class WrongPointerKind : public testing::TestWithParam<WrongKind> {};

TEST_P(WrongPointerKind, IsACapnpError) {
  EXPECT_EQ(decode_error(1, GetParam().build()), kCapnpPrefix + GetParam().description);
}

using rsc_test::kDataOnlyStructs;
using rsc_test::kNotList;
using rsc_test::kNotStruct;
using rsc_test::kNotText;

// Arm `arm` whose pointer 0 holds a one-word struct.
std::function<Bytes()> struct_at_arm(std::uint16_t arm) {
  return [arm] {
    RawMessage message;
    std::size_t root = message.envelope(1, arm);
    message.new_struct(root + 1, 1, 0);
    return message.bytes();
  };
}

// Arm `arm` whose pointer 0 holds a list of two 64-bit values.
std::function<Bytes()> list_at_arm(std::uint16_t arm) {
  return [arm] {
    RawMessage message;
    std::size_t root = message.envelope(1, arm);
    message.list_pointer(root + 1, message.alloc(2), RawMessage::kEightBytes, 2);
    return message.bytes();
  };
}

// `slot` of a struct with `pointers` pointers at arm `arm` holds a struct.
std::function<Bytes()> nested_struct(std::uint16_t arm, std::uint16_t pointers, std::size_t slot) {
  return [=] {
    RawMessage message;
    std::size_t root = message.envelope(1, arm);
    std::size_t payload = message.new_struct(root + 1, 1, pointers);
    message.new_struct(payload + 1 + slot, 1, 0);
    return message.bytes();
  };
}

// Element 0 of a one-element struct list at arm `arm` has `slot` holding a
// list of data-only structs where a text list is expected.
std::function<Bytes()> text_list_of_structs(std::uint16_t arm, std::uint16_t data_words,
                                            std::uint16_t pointers, std::size_t slot) {
  return [=] {
    RawMessage message;
    std::size_t root = message.envelope(1, arm);
    std::size_t element = message.new_struct_list(root + 1, 1, data_words, pointers);
    message.new_struct_list(element + data_words + slot, 2, 1, 0);
    return message.bytes();
  };
}

INSTANTIATE_TEST_SUITE_P(
    Table, WrongPointerKind,
    testing::Values(
        WrongKind{"authMethods_struct", struct_at_arm(0), kNotList},
        WrongKind{"sessionStarted_list", list_at_arm(1), kNotStruct},
        WrongKind{"capsetList_struct", struct_at_arm(2), kNotList},
        WrongKind{"capGranted_list", list_at_arm(3), kNotStruct},
        WrongKind{"sessionInfo_list", list_at_arm(4), kNotStruct},
        WrongKind{"systemMotd_struct", struct_at_arm(5), kNotText},
        WrongKind{"error_list", list_at_arm(8), kNotStruct},
        WrongKind{"serviceCatalog_struct", struct_at_arm(9), kNotList},
        WrongKind{"launcherCatalog_struct", struct_at_arm(10), kNotList},
        WrongKind{"serviceLaunch_list", list_at_arm(11), kNotStruct},
        WrongKind{"adventureLook_struct", struct_at_arm(13), kNotText},
        WrongKind{"adventureUse_struct", struct_at_arm(22), kNotText},
        WrongKind{"chatPollEvents_list", list_at_arm(18), kNotStruct},
        WrongKind{"chatWhoMembers_list", list_at_arm(19), kNotStruct},
        WrongKind{"chatPoll_events_struct", nested_struct(18, 1, 0), kNotList},
        WrongKind{"chatWho_members_struct", nested_struct(19, 1, 0), kNotList},
        WrongKind{"chatWho_members_of_structs",
                  [] {
                    RawMessage message;
                    std::size_t root = message.envelope(1, 19);
                    std::size_t who = message.new_struct(root + 1, 0, 1);
                    message.new_struct_list(who, 2, 1, 0);
                    return message.bytes();
                  },
                  kDataOnlyStructs},
        WrongKind{"sessionInfo_principal_list",
                  [] {
                    RawMessage message;
                    std::size_t root = message.envelope(1, 4);
                    std::size_t info = message.new_struct(root + 1, 3, 3);
                    message.list_pointer(info + 3 + 1, message.alloc(1), RawMessage::kEightBytes,
                                         1);
                    return message.bytes();
                  },
                  kNotStruct},
        WrongKind{"sessionInfo_profile_struct", nested_struct(4, 3, 2), kNotText},
        WrongKind{"sessionStarted_session_list",
                  [] {
                    RawMessage message;
                    std::size_t root = message.envelope(1, 1);
                    std::size_t summary = message.new_struct(root + 1, 1, 1);
                    message.list_pointer(summary + 1, message.alloc(1), RawMessage::kEightBytes,
                                         1);
                    return message.bytes();
                  },
                  kNotStruct},
        WrongKind{"capGranted_name_struct", nested_struct(3, 2, 0), kNotText},
        WrongKind{"error_message_struct", nested_struct(8, 1, 0), kNotText},
        WrongKind{"authMethods_profileHints_of_structs", text_list_of_structs(0, 1, 2, 1),
                  kDataOnlyStructs},
        WrongKind{"serviceCatalog_textList1_of_structs", text_list_of_structs(9, 1, 8, 7),
                  kDataOnlyStructs},
        WrongKind{"launcherCatalog_serviceEntries_struct",
                  [] {
                    RawMessage message;
                    std::size_t root = message.envelope(1, 10);
                    std::size_t entry = message.new_struct_list(root + 1, 1, 1, 8);
                    message.new_struct(entry + 1 + 6, 1, 0);
                    return message.bytes();
                  },
                  kNotList},
        WrongKind{"serviceLaunch_serviceEntries_struct", nested_struct(11, 5, 4), kNotList}),
    [](const auto& info) { return std::string(info.param.name); });

// Fields are read in a fixed order and the first failure is the one reported.
TEST(DecodeFailureOrder, SessionInfoReadsPrincipalThenProfileThenDisplayName) {
  RawMessage message;
  std::size_t root = message.envelope(1, 4);
  std::size_t info = message.new_struct(root + 1, 3, 3);
  message.list_pointer(info + 3 + 1, message.alloc(1), RawMessage::kEightBytes, 1);
  message.new_text(info + 3 + 2, "\xFF");
  EXPECT_EQ(decode_error(1, message.bytes()), kCapnpPrefix + kNotStruct);

  auto both_bad = response(1, [](Root::Builder r) {
    auto session = r.initSessionInfo();
    session.setProfile(rsc_test::raw_text("\xC3"));
    session.initPrincipal().setDisplayName(rsc_test::raw_text("ab\xFF"));
  });
  EXPECT_EQ(decode_error(1, both_bad),
            "Cap'n Proto text was not valid UTF-8: incomplete utf-8 byte sequence from index 0");
}

TEST(DecodeFailureOrder, EarlierElementsAndFieldsWin) {
  auto caps = response(1, [](Root::Builder r) {
    auto entries = r.initCapsetList(2);
    entries[0].setTransferPolicy(rsc_test::raw_text("x\xFF"));
    entries[1].setName(rsc_test::raw_text("\xFF"));
  });
  EXPECT_EQ(decode_error(1, caps),
            "Cap'n Proto text was not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 1");

  auto service = response(1, [](Root::Builder r) {
    auto entry = r.initServiceCatalog(1)[0];
    entry.setText5(rsc_test::raw_text("\xE2\x82"));
    entry.initTextList0(1).set(0, rsc_test::raw_text("\xFF"));
  });
  EXPECT_EQ(decode_error(1, service),
            "Cap'n Proto text was not valid UTF-8: incomplete utf-8 byte sequence from index 0");
}

}  // namespace
}  // namespace remote_session_client
