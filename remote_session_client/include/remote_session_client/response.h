// ResponseKind: every response the client can decode. Each variant owns all
// its strings and lists and has a fixed kind name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "remote_session_client/records.h"

namespace remote_session_client {

namespace response {
#define RSC_KIND(name) static constexpr std::string_view kind_name = name
struct AuthMethods { RSC_KIND("authMethods"); std::vector<AuthMethodInfo> methods; };
struct SessionStarted { RSC_KIND("sessionStarted"); remote_session_client::SessionStarted started; };
struct CapsetList { RSC_KIND("capsetList"); std::vector<CapInfo> entries; };
struct CapGranted { RSC_KIND("capGranted"); CapInfo entry; };
struct ServiceCatalog { RSC_KIND("serviceCatalog"); std::vector<ServiceCatalogEntry> entries; };
struct LauncherCatalog { RSC_KIND("launcherCatalog"); std::vector<LauncherCatalogEntry> entries; };
struct ServiceLaunch { RSC_KIND("serviceLaunch"); ServiceLaunchStatus status; };
struct SessionInfo { RSC_KIND("sessionInfo"); SessionInfoSummary summary; };
struct SystemMotd { RSC_KIND("systemMotd"); std::string text; };
struct ChatSent { RSC_KIND("chatSent"); bool value = false; };
struct ChatJoined { RSC_KIND("chatJoined"); bool value = false; };
struct ChatLeft { RSC_KIND("chatLeft"); bool value = false; };
struct ChatPollEvents { RSC_KIND("chatPollEvents"); std::vector<ChatEventInfo> events; };
struct ChatWhoMembers { RSC_KIND("chatWhoMembers"); std::vector<std::string> members; };
struct AdventureStatus { RSC_KIND("adventureStatus"); std::string text; };
struct AdventureLook { RSC_KIND("adventureLook"); std::string text; };
struct AdventureInventory { RSC_KIND("adventureInventory"); std::string text; };
struct AdventureGo { RSC_KIND("adventureGo"); std::string text; };
struct AdventureTake { RSC_KIND("adventureTake"); std::string text; };
struct AdventureDrop { RSC_KIND("adventureDrop"); std::string text; };
struct AdventureUse { RSC_KIND("adventureUse"); std::string text; };
struct PaperclipsInitial { RSC_KIND("paperclipsInitial"); std::string text; };
struct PaperclipsCommand { RSC_KIND("paperclipsCommand"); std::string text; };
struct PaperclipsStatus { RSC_KIND("paperclipsStatus"); std::string text; };
struct PaperclipsProjects { RSC_KIND("paperclipsProjects"); std::string text; };
struct LoggedOut { RSC_KIND("loggedOut"); bool value = false; };
struct Error { RSC_KIND("error"); RemoteErrorInfo info; };
#undef RSC_KIND
}  // namespace response

using ResponseKind = std::variant<
    response::AuthMethods, response::SessionStarted, response::CapsetList,
    response::CapGranted, response::ServiceCatalog, response::LauncherCatalog,
    response::ServiceLaunch, response::SessionInfo, response::SystemMotd,
    response::ChatSent, response::ChatJoined, response::ChatLeft,
    response::ChatPollEvents, response::ChatWhoMembers, response::AdventureStatus,
    response::AdventureLook, response::AdventureInventory, response::AdventureGo,
    response::AdventureTake, response::AdventureDrop, response::AdventureUse,
    response::PaperclipsInitial, response::PaperclipsCommand,
    response::PaperclipsStatus, response::PaperclipsProjects, response::LoggedOut,
    response::Error>;

inline std::string_view kind_name(const ResponseKind& response) {
  return std::visit([](const auto& r) { return r.kind_name; }, response);
}

// A decoded response with its sequence number (equal to the request's).
struct DecodedResponse {
  ResponseKind kind;
  std::uint32_t seq = 0;
};

}  // namespace remote_session_client
