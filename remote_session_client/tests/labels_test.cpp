// The transcript label of every request, whole texts compared.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "remote_session_client/protocol.h"

namespace remote_session_client {
namespace {

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

struct LabelRow {
  const char* what;
  RequestKind request;
  std::string expected;
};

void PrintTo(const LabelRow& row, std::ostream* os) { *os << row.what; }

auto password(std::string profile, std::string proof) {
  return request::Login{auth::Password{
      LoginSelector{LoginSelector::Tag::AccountName, bytes_of("alice")}, std::move(profile),
      bytes_of(proof)}};
}

std::vector<LabelRow> label_rows() {
  return {
      {"authMethods", request::AuthMethods{}, "authMethods"},
      {"password", password("operator", "hunter2"), "passwordLogin profile=operator proof=<redacted>"},
      {"passwordEmptyProof", password("", ""), "passwordLogin profile= proof=<redacted>"},
      {"anonymous", request::Login{auth::Anonymous{"operator"}}, "anonymousLogin profile=operator"},
      {"guest", request::Login{auth::Guest{"visitor"}}, "guestLogin profile=visitor"},
      {"guestEmpty", request::Login{auth::Guest{""}}, "guestLogin profile="},
      {"capsetList", request::CapsetList{}, "capsetList"},
      {"capsetGet", request::CapsetGet{"console", 0x1234},
       "capsetGet name=console expected=0x0000000000001234"},
      {"capsetGetMax", request::CapsetGet{"fs root", 0xFFFFFFFFFFFFFFFF},
       "capsetGet name=fs root expected=0xffffffffffffffff"},
      {"serviceCatalog", request::ServiceCatalog{}, "serviceCatalog"},
      {"launcherCatalog", request::LauncherCatalog{}, "launcherCatalog"},
      {"serviceLaunch", request::ServiceLaunch{"p", {"a", "b"}}, "serviceLaunch profile=p grants=a,b"},
      {"serviceLaunchNoGrants", request::ServiceLaunch{"p", {}}, "serviceLaunch profile=p grants="},
      {"serviceLaunchCommaGrant", request::ServiceLaunch{"p", {"a,b", "c"}},
       "serviceLaunch profile=p grants=a,b,c"},
      {"sessionInfo", request::SessionInfo{}, "sessionInfo"},
      {"systemMotd", request::SystemMotd{}, "systemMotd"},
      {"chatSend", request::ChatSend{"#lobby", "top secret"}, "chatSend channel=#lobby text=<redacted-length>"},
      {"chatSendEmpty", request::ChatSend{"#lobby", ""}, "chatSend channel=#lobby text=<redacted-length>"},
      {"chatSchemaDenialProbe", request::ChatSchemaDenialProbe{},
       "chatSchemaDenialProbe channel=#orvik-schema-denial text=<redacted-length>"},
      {"chatJoin", request::ChatJoin{"#lobby", "Ada"}, "chatJoin channel=#lobby handle=Ada"},
      {"chatLeave", request::ChatLeave{"#lobby"}, "chatLeave channel=#lobby"},
      {"chatPollZero", request::ChatPoll{0}, "chatPoll max_events=0"},
      {"chatPollMax", request::ChatPoll{65535}, "chatPoll max_events=65535"},
      {"chatWho", request::ChatWho{"#lobby"}, "chatWho channel=#lobby"},
      {"adventureStatus", request::AdventureStatus{}, "adventureStatus"},
      {"adventureLook", request::AdventureLook{}, "adventureLook"},
      {"adventureInventory", request::AdventureInventory{}, "adventureInventory"},
      {"adventureGo", request::AdventureGo{"North-East"}, "adventureGo direction=north-east"},
      {"adventureGoInvalid", request::AdventureGo{"up "}, "adventureGo direction=<invalid>"},
      {"adventureTake", request::AdventureTake{"Lamp"}, "adventureTake item=lamp"},
      {"adventureTakeReserved", request::AdventureTake{"Cap_Slot"}, "adventureTake item=<invalid>"},
      {"adventureDrop", request::AdventureDrop{"key_2"}, "adventureDrop item=key_2"},
      {"adventureUse", request::AdventureUse{""}, "adventureUse item=<invalid>"},
      {"paperclipsInitial", request::PaperclipsInitial{}, "paperclipsInitial"},
      {"paperclipsCommand", request::PaperclipsCommand{"Buy 10 wire, then: a/b_c-d."},
       "paperclipsCommand text=Buy 10 wire, then: a/b_c-d."},
      {"paperclipsCommandSemicolon", request::PaperclipsCommand{"buy;wire"},
       "paperclipsCommand text=<invalid>"},
      {"paperclipsCommandTab", request::PaperclipsCommand{"buy\twire"},
       "paperclipsCommand text=<invalid>"},
      {"paperclipsStatus", request::PaperclipsStatus{}, "paperclipsStatus"},
      {"paperclipsProjects", request::PaperclipsProjects{}, "paperclipsProjects"},
      {"logout", request::Logout{}, "logout"},
  };
}

class Label : public ::testing::TestWithParam<LabelRow> {};

TEST_P(Label, IsTheFixedText) { EXPECT_EQ(label(GetParam().request), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(EveryRequest, Label, ::testing::ValuesIn(label_rows()),
                         [](const ::testing::TestParamInfo<LabelRow>& info) {
                           return std::string(info.param.what);
                         });

// Every one of the 27 request kinds has a row above.
TEST(Label, TableCoversEveryRequestKind) {
  std::vector<bool> seen(std::variant_size_v<RequestKind>, false);
  for (const LabelRow& row : label_rows()) seen[row.request.index()] = true;
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_TRUE(seen[i]) << "request kind " << i;
}

TEST(Label, NeverShowsTheAccountOrTheProof) {
  const std::string text = label(password("operator", "hunter2"));
  EXPECT_EQ(text.find("alice"), std::string::npos);
  EXPECT_EQ(text.find("hunter2"), std::string::npos);
}

}  // namespace
}  // namespace remote_session_client
