// The payload conversions: every field lands in its record, enumerations are
// named, short sections and null pointers read as defaults.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_expect.h"
#include "message_builders.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {
namespace {

using rsc_test::decoded;
using rsc_test::RawMessage;
using rsc_test::response;
using Root = orvik_capnp::RemoteGatewayResponse;
using Strings = std::vector<std::string>;

template <typename Enum>
Enum as_enum(std::uint16_t value) {
  return static_cast<Enum>(value);
}

TEST(DecodeAuth, AuthMethodsCarryEveryField) {
  auto bytes = response(1, [](Root::Builder root) {
    auto methods = root.initAuthMethods(3);
    methods[0].setKind(orvik_capnp::RemoteAuthMethodKind::OIDC_AUTHORIZATION_CODE_PKCE);
    methods[0].setLabel("Browser sign-in");
    methods[0].setInteractive(true);
    auto hints = methods[0].initProfileHints(2);
    hints.set(0, "operator");
    hints.set(1, "viewer");
    methods[1].setKind(orvik_capnp::RemoteAuthMethodKind::SERVICE_CREDENTIAL);
    methods[1].setEnabled(true);
    methods[2].setKind(as_enum<orvik_capnp::RemoteAuthMethodKind>(9));
  });
  auto methods = decoded<response::AuthMethods>(1, bytes).methods;
  ASSERT_EQ(methods.size(), 3U);
  EXPECT_EQ(methods[0].kind, "oidcAuthorizationCodePkce");
  EXPECT_EQ(methods[0].label, "Browser sign-in");
  EXPECT_EQ(methods[0].profile_hints, (Strings{"operator", "viewer"}));
  EXPECT_TRUE(methods[0].interactive);
  EXPECT_FALSE(methods[0].enabled);
  EXPECT_EQ(methods[1].kind, "serviceCredential");
  EXPECT_FALSE(methods[1].interactive);
  EXPECT_TRUE(methods[1].enabled);
  EXPECT_EQ(methods[2].kind, "unknown");
}

TEST(DecodeAuth, AuthMethodWithEmptySectionsIsAllDefaults) {
  RawMessage message;
  std::size_t root = message.envelope(1, 0);
  message.new_struct_list(root + 1, 2, 0, 0);
  auto methods = decoded<response::AuthMethods>(1, message.bytes()).methods;
  ASSERT_EQ(methods.size(), 2U);
  EXPECT_EQ(methods[1].kind, "password");
  EXPECT_EQ(methods[1].label, "");
  EXPECT_TRUE(methods[1].profile_hints.empty());
  EXPECT_FALSE(methods[1].interactive);
  EXPECT_FALSE(methods[1].enabled);
}

TEST(DecodeAuth, EnumerationTablesAndUnknown) {
  const std::vector<std::pair<std::uint16_t, std::string>> kinds = {
      {0, "password"}, {1, "publicKey"}, {2, "oidcDeviceCode"},
      {3, "oidcAuthorizationCodePkce"}, {4, "passkey"}, {5, "mtlsClientCert"},
      {6, "guest"}, {7, "anonymous"}, {8, "serviceCredential"}, {9, "unknown"},
      {0xFFFF, "unknown"}};
  for (const auto& [value, name] : kinds) {
    auto bytes = response(1, [&](Root::Builder root) {
      root.initAuthMethods(1)[0].setKind(as_enum<orvik_capnp::RemoteAuthMethodKind>(value));
    });
    EXPECT_EQ(decoded<response::AuthMethods>(1, bytes).methods.at(0).kind, name);
  }
  const std::vector<std::pair<std::uint16_t, std::string>> principals = {
      {0, "human"}, {1, "operator"}, {2, "service"}, {3, "guest"}, {4, "anonymous"},
      {5, "pseudonymous"}, {6, "unknown"}};
  const std::vector<std::pair<std::uint16_t, std::string>> strengths = {
      {0, "none"}, {1, "localPresence"}, {2, "password"}, {3, "hardwareKey"},
      {4, "multiParty"}, {5, "publicKey"}, {6, "unknown"}};
  for (std::size_t i = 0; i < principals.size(); ++i) {
    auto bytes = response(1, [&](Root::Builder root) {
      auto info = root.initSessionInfo();
      info.setAuthStrength(as_enum<orvik_capnp::AuthStrength>(strengths[i].first));
      info.initPrincipal().setKind(as_enum<orvik_capnp::PrincipalKind>(principals[i].first));
    });
    auto summary = decoded<response::SessionInfo>(1, bytes).summary;
    EXPECT_EQ(summary.principal_kind, principals[i].second);
    EXPECT_EQ(summary.auth_strength, strengths[i].second);
  }
  const std::vector<std::pair<std::uint16_t, std::string>> codes = {
      {0, "badRequest"}, {1, "disabledAuthMethod"}, {2, "authenticationDenied"},
      {3, "unauthenticated"}, {4, "unknownCap"}, {5, "interfaceMismatch"},
      {6, "staleSession"}, {7, "methodDenied"}, {8, "serviceUnavailable"}, {12, "unknown"}};
  for (const auto& [value, name] : codes) {
    auto bytes = response(1, [&](Root::Builder root) {
      auto error = root.initError();
      error.setCode(as_enum<orvik_capnp::RemoteErrorCode>(value));
      error.setMessage("no such cap: \"x\"\n");
    });
    auto info = decoded<response::Error>(1, bytes).info;
    EXPECT_EQ(info.code, name);
    EXPECT_EQ(info.message, "no such cap: \"x\"\n");
  }
}

TEST(DecodeAuth, ErrorWithNullOrShortPayloadIsBadRequest) {
  RawMessage null_error;
  null_error.envelope(1, 8);
  auto info = decoded<response::Error>(1, null_error.bytes()).info;
  EXPECT_EQ(info.code, "badRequest");
  EXPECT_EQ(info.message, "");

  RawMessage no_data;
  std::size_t root = no_data.envelope(1, 8);
  std::size_t error = no_data.new_struct(root + 1, 0, 1);
  no_data.new_text(error, "stale");
  info = decoded<response::Error>(1, no_data.bytes()).info;
  EXPECT_EQ(info.code, "badRequest");
  EXPECT_EQ(info.message, "stale");
}

void fill_session(orvik_capnp::SessionInfo::Builder info) {
  info.setAuthStrength(orvik_capnp::AuthStrength::HARDWARE_KEY);
  info.setGeneration(0xFFFF);
  info.setIdleTimeoutSecs(0xFFFFFFFF);
  info.setCreatedAtMs(0xFFFFFFFFFFFFFFFFULL);
  info.setExpiresAtMs(1'700'000'123'456ULL);
  const std::uint8_t id[] = {0x00, 0x0A, 0xFF};
  info.setSessionId(capnp::Data::Reader(id, sizeof id));
  auto principal = info.initPrincipal();
  principal.setKind(orvik_capnp::PrincipalKind::OPERATOR);
  const std::uint8_t principal_id[] = {1, 2};
  principal.setPrincipalId(capnp::Data::Reader(principal_id, sizeof principal_id));
  principal.setDisplayName("Ada L.");
  info.setProfile("operator");
}

void expect_filled(const SessionInfoSummary& summary) {
  EXPECT_EQ(summary.profile, "operator");
  EXPECT_EQ(summary.principal_kind, "operator");
  EXPECT_EQ(summary.principal_display_name, "Ada L.");
  EXPECT_EQ(summary.auth_strength, "hardwareKey");
  EXPECT_EQ(summary.session_id_hex, "000aff");
  EXPECT_EQ(summary.expires_at_ms, 1'700'000'123'456ULL);
}

TEST(DecodeSession, SessionInfoAndSessionStartedCarryEveryField) {
  auto info = response(2, [](Root::Builder root) { fill_session(root.initSessionInfo()); });
  expect_filled(decoded<response::SessionInfo>(2, info).summary);

  auto started = response(2, [](Root::Builder root) {
    auto summary = root.initSessionStarted();
    summary.setSummaryValue(0xBEEF);
    fill_session(summary.initSession());
  });
  auto value = decoded<response::SessionStarted>(2, started).started;
  expect_filled(value.summary);
  EXPECT_EQ(value.summary_value, 0xBEEF);
}

TEST(DecodeSession, SessionStartedWithNullSessionIsDefaults) {
  RawMessage message;
  std::size_t root = message.envelope(2, 1);
  std::size_t summary = message.new_struct(root + 1, 1, 1);
  message.word(summary) = 0x0000000000000007ULL;
  auto value = decoded<response::SessionStarted>(2, message.bytes()).started;
  EXPECT_EQ(value.summary_value, 7);
  EXPECT_EQ(value.summary.profile, "");
  EXPECT_EQ(value.summary.principal_kind, "human");
  EXPECT_EQ(value.summary.principal_display_name, "");
  EXPECT_EQ(value.summary.auth_strength, "none");
  EXPECT_EQ(value.summary.session_id_hex, "");
  EXPECT_EQ(value.summary.expires_at_ms, 0U);

  RawMessage null_summary;
  null_summary.envelope(2, 1);
  EXPECT_EQ(decoded<response::SessionStarted>(2, null_summary.bytes()).started.summary_value, 0);
}

TEST(DecodeSession, TwoWordSessionInfoHasNoExpiry) {
  RawMessage message;
  std::size_t root = message.envelope(2, 4);
  std::size_t info = message.new_struct(root + 1, 2, 3);
  message.word(info) = 2;  // authStrength password
  message.word(info + 1) = 0xFFFFFFFFFFFFFFFFULL;
  message.new_text(info + 2 + 2, "guest");
  auto summary = decoded<response::SessionInfo>(2, message.bytes()).summary;
  EXPECT_EQ(summary.auth_strength, "password");
  EXPECT_EQ(summary.profile, "guest");
  EXPECT_EQ(summary.expires_at_ms, 0U);
}

TEST(DecodeCapset, CapEntriesCarryEveryField) {
  auto bytes = response(3, [](Root::Builder root) {
    auto entries = root.initCapsetList(2);
    entries[0].setName("console");
    entries[0].setInterfaceId(0xFEDCBA9876543210ULL);
    entries[0].setTransferPolicy("copy");
    entries[0].setLeaseExpiresAtMs(42);
    entries[1].setName("log");
  });
  auto entries = decoded<response::CapsetList>(3, bytes).entries;
  ASSERT_EQ(entries.size(), 2U);
  EXPECT_EQ(entries[0].name, "console");
  EXPECT_EQ(entries[0].interface_id, 0xFEDCBA9876543210ULL);
  EXPECT_EQ(entries[0].transfer_policy, "copy");
  EXPECT_EQ(entries[0].lease_expires_at_ms, 42U);
  EXPECT_EQ(entries[1].name, "log");
  EXPECT_EQ(entries[1].interface_id, 0U);
}

TEST(DecodeCapset, EmptyOrNullListIsEmpty) {
  auto empty = response(3, [](Root::Builder root) { root.initCapsetList(0); });
  EXPECT_TRUE(decoded<response::CapsetList>(3, empty).entries.empty());
  RawMessage null_list;
  null_list.envelope(3, 2);
  EXPECT_TRUE(decoded<response::CapsetList>(3, null_list.bytes()).entries.empty());
}

TEST(DecodeCapset, ShortCapGrantedReadsDefaults) {
  RawMessage message;
  std::size_t root = message.envelope(3, 3);
  std::size_t entry = message.new_struct(root + 1, 1, 1);
  message.word(entry) = 0x1234;
  message.new_text(entry + 1, "console");
  auto info = decoded<response::CapGranted>(3, message.bytes()).entry;
  EXPECT_EQ(info.name, "console");
  EXPECT_EQ(info.interface_id, 0x1234U);
  EXPECT_EQ(info.transfer_policy, "");
  EXPECT_EQ(info.lease_expires_at_ms, 0U);

  RawMessage null_entry;
  null_entry.envelope(3, 3);
  EXPECT_EQ(decoded<response::CapGranted>(3, null_entry.bytes()).entry.name, "");
}

void fill_service(orvik_capnp::RemoteServiceCatalogEntry::Builder entry, const std::string& tag) {
  entry.setText0(tag + "0");
  entry.setText1(tag + "1");
  entry.setText2(tag + "2");
  entry.setText3(tag + "3");
  entry.setText4(tag + "4");
  entry.setText5(tag + "5");
  entry.setValue(0x8000000000000001ULL);
  entry.initTextList0(2).set(1, tag + "a");
  entry.initTextList1(1).set(0, tag + "b");
}

void expect_service(const ServiceCatalogEntry& entry, const std::string& tag) {
  EXPECT_EQ(entry.text0, tag + "0");
  EXPECT_EQ(entry.text1, tag + "1");
  EXPECT_EQ(entry.text2, tag + "2");
  EXPECT_EQ(entry.text3, tag + "3");
  EXPECT_EQ(entry.text4, tag + "4");
  EXPECT_EQ(entry.text5, tag + "5");
  EXPECT_EQ(entry.value, 0x8000000000000001ULL);
  EXPECT_EQ(entry.text_list0, (Strings{"", tag + "a"}));
  EXPECT_EQ(entry.text_list1, (Strings{tag + "b"}));
}

TEST(DecodeCatalog, ServiceCatalogCarriesEveryField) {
  auto bytes = response(4, [](Root::Builder root) {
    auto entries = root.initServiceCatalog(2);
    fill_service(entries[0], "s");
    fill_service(entries[1], "t");
  });
  auto entries = decoded<response::ServiceCatalog>(4, bytes).entries;
  ASSERT_EQ(entries.size(), 2U);
  expect_service(entries[0], "s");
  expect_service(entries[1], "t");

  RawMessage null_list;
  null_list.envelope(4, 9);
  EXPECT_TRUE(decoded<response::ServiceCatalog>(4, null_list.bytes()).entries.empty());
}

TEST(DecodeCatalog, ShortServiceEntryReadsDefaults) {
  RawMessage message;
  std::size_t root = message.envelope(4, 9);
  std::size_t entry = message.new_struct_list(root + 1, 1, 0, 2);
  message.new_text(entry + 1, "second");
  auto entries = decoded<response::ServiceCatalog>(4, message.bytes()).entries;
  ASSERT_EQ(entries.size(), 1U);
  EXPECT_EQ(entries[0].text0, "");
  EXPECT_EQ(entries[0].text1, "second");
  EXPECT_EQ(entries[0].text5, "");
  EXPECT_EQ(entries[0].value, 0U);
  EXPECT_TRUE(entries[0].text_list0.empty());
  EXPECT_TRUE(entries[0].text_list1.empty());
}

TEST(DecodeCatalog, LauncherCatalogCarriesNestedRecords) {
  auto bytes = response(4, [](Root::Builder root) {
    auto entry = root.initLauncherCatalog(1)[0];
    entry.setText0("l0");
    entry.setText1("l1");
    entry.setText2("l2");
    entry.setText3("l3");
    entry.setText4("l4");
    entry.setFlag1(true);
    auto grants = entry.initGrantRequirements(2);
    grants[0].setText0("g0");
    grants[0].setText3("g3");
    grants[0].setValue(77);
    grants[0].setFlag(true);
    grants[1].setText1("h1");
    fill_service(entry.initServiceEntries(1)[0], "n");
    entry.initTextList(2).set(0, "x");
  });
  auto entries = decoded<response::LauncherCatalog>(4, bytes).entries;
  ASSERT_EQ(entries.size(), 1U);
  const auto& entry = entries[0];
  EXPECT_EQ(entry.text0, "l0");
  EXPECT_EQ(entry.text1, "l1");
  EXPECT_EQ(entry.text2, "l2");
  EXPECT_EQ(entry.text3, "l3");
  EXPECT_EQ(entry.text4, "l4");
  EXPECT_FALSE(entry.flag0);
  EXPECT_TRUE(entry.flag1);
  ASSERT_EQ(entry.grant_requirements.size(), 2U);
  EXPECT_EQ(entry.grant_requirements[0].text0, "g0");
  EXPECT_EQ(entry.grant_requirements[0].text3, "g3");
  EXPECT_EQ(entry.grant_requirements[0].value, 77U);
  EXPECT_TRUE(entry.grant_requirements[0].flag);
  EXPECT_EQ(entry.grant_requirements[1].text1, "h1");
  EXPECT_FALSE(entry.grant_requirements[1].flag);
  ASSERT_EQ(entry.service_entries.size(), 1U);
  expect_service(entry.service_entries[0], "n");
  EXPECT_EQ(entry.text_list, (Strings{"x", ""}));
}

TEST(DecodeCatalog, GrantFlagNeedsASecondDataWord) {
  RawMessage message;
  std::size_t root = message.envelope(4, 10);
  std::size_t launcher = message.new_struct_list(root + 1, 1, 1, 8);
  message.word(launcher) = 0x3;  // flag0 and flag1
  std::size_t grant = message.new_struct_list(launcher + 1 + 5, 1, 1, 4);
  message.word(grant) = 0xFFFFFFFFFFFFFFFFULL;
  auto entries = decoded<response::LauncherCatalog>(4, message.bytes()).entries;
  ASSERT_EQ(entries.size(), 1U);
  EXPECT_TRUE(entries[0].flag0);
  EXPECT_TRUE(entries[0].flag1);
  ASSERT_EQ(entries[0].grant_requirements.size(), 1U);
  EXPECT_EQ(entries[0].grant_requirements[0].value, 0xFFFFFFFFFFFFFFFFULL);
  EXPECT_FALSE(entries[0].grant_requirements[0].flag);
}

TEST(DecodeCatalog, ServiceLaunchStatusCarriesEveryField) {
  auto bytes = response(4, [](Root::Builder root) {
    auto status = root.initServiceLaunch();
    status.setText0("a");
    status.setText1("b");
    status.setText2("c");
    status.setFlag(true);
    status.initTextList(1).set(0, "grant");
    fill_service(status.initServiceEntries(1)[0], "q");
  });
  auto status = decoded<response::ServiceLaunch>(4, bytes).status;
  EXPECT_EQ(status.text0, "a");
  EXPECT_EQ(status.text1, "b");
  EXPECT_EQ(status.text2, "c");
  EXPECT_TRUE(status.flag);
  EXPECT_EQ(status.text_list, (Strings{"grant"}));
  ASSERT_EQ(status.service_entries.size(), 1U);
  expect_service(status.service_entries[0], "q");

  RawMessage null_status;
  null_status.envelope(4, 11);
  auto empty = decoded<response::ServiceLaunch>(4, null_status.bytes()).status;
  EXPECT_FALSE(empty.flag);
  EXPECT_TRUE(empty.service_entries.empty());
}

TEST(DecodeChat, PollEventsMapUnknownKindsToZero) {
  auto bytes = response(5, [](Root::Builder root) {
    auto events = root.initChatPollEvents().initEvents(3);
    events[0].setText0("#ops");
    events[0].setText1("ada");
    events[0].setText2("hello");
    events[0].setKind(orvik_capnp::RemoteChatEventKind::SYSTEM);
    events[1].setKind(as_enum<orvik_capnp::RemoteChatEventKind>(7));
    events[2].setKind(orvik_capnp::RemoteChatEventKind::JOINED);
  });
  auto events = decoded<response::ChatPollEvents>(5, bytes).events;
  ASSERT_EQ(events.size(), 3U);
  EXPECT_EQ(events[0].text0, "#ops");
  EXPECT_EQ(events[0].text1, "ada");
  EXPECT_EQ(events[0].text2, "hello");
  EXPECT_EQ(events[0].kind, 4);
  EXPECT_EQ(events[1].kind, 0);
  EXPECT_EQ(events[2].kind, 1);
}

TEST(DecodeChat, ShortOrNullPollResultsReadDefaults) {
  RawMessage empty_data;
  std::size_t root = empty_data.envelope(5, 18);
  std::size_t result = empty_data.new_struct(root + 1, 0, 1);
  std::size_t event = empty_data.new_struct_list(result, 1, 0, 3);
  empty_data.new_text(event + 2, "text");
  auto events = decoded<response::ChatPollEvents>(5, empty_data.bytes()).events;
  ASSERT_EQ(events.size(), 1U);
  EXPECT_EQ(events[0].kind, 0);
  EXPECT_EQ(events[0].text2, "text");

  RawMessage null_result;
  null_result.envelope(5, 18);
  EXPECT_TRUE(decoded<response::ChatPollEvents>(5, null_result.bytes()).events.empty());

  RawMessage no_pointers;
  std::size_t root2 = no_pointers.envelope(5, 18);
  no_pointers.new_struct(root2 + 1, 1, 0);
  EXPECT_TRUE(decoded<response::ChatPollEvents>(5, no_pointers.bytes()).events.empty());
}

TEST(DecodeChat, WhoMembersInWireOrder) {
  auto bytes = response(5, [](Root::Builder root) {
    auto members = root.initChatWhoMembers().initMembers(3);
    members.set(0, "ada");
    members.set(1, "");
    members.set(2, "grace");
  });
  EXPECT_EQ(decoded<response::ChatWhoMembers>(5, bytes).members, (Strings{"ada", "", "grace"}));

  RawMessage null_result;
  null_result.envelope(5, 19);
  EXPECT_TRUE(decoded<response::ChatWhoMembers>(5, null_result.bytes()).members.empty());
}

}  // namespace
}  // namespace remote_session_client
