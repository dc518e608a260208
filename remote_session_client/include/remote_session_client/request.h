// RequestKind: every request the client can build. Each variant owns its
// strings. The order of the variants is fixed.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "remote_session_client/records.h"

namespace remote_session_client {

namespace request {
struct AuthMethods {};
struct Login { AuthMode mode; };
struct CapsetList {};
struct CapsetGet { std::string name; std::uint64_t expected = 0; };
struct ServiceCatalog {};
struct LauncherCatalog {};
struct ServiceLaunch { std::string profile; std::vector<std::string> grants; };
struct SessionInfo {};
struct SystemMotd {};
struct ChatSend { std::string channel; std::string text; };
struct ChatSchemaDenialProbe {};
struct ChatJoin { std::string channel; std::string handle; };
struct ChatLeave { std::string channel; };
struct ChatPoll { std::uint16_t max_events = 0; };
struct ChatWho { std::string channel; };
struct AdventureStatus {};
struct AdventureLook {};
struct AdventureInventory {};
struct AdventureGo { std::string direction; };  // raw user token
struct AdventureTake { std::string item; };     // raw user token
struct AdventureDrop { std::string item; };
struct AdventureUse { std::string item; };
struct PaperclipsInitial {};
struct PaperclipsCommand { std::string text; };
struct PaperclipsStatus {};
struct PaperclipsProjects {};
struct Logout {};
}  // namespace request

using RequestKind = std::variant<
    request::AuthMethods, request::Login, request::CapsetList, request::CapsetGet,
    request::ServiceCatalog, request::LauncherCatalog, request::ServiceLaunch,
    request::SessionInfo, request::SystemMotd, request::ChatSend,
    request::ChatSchemaDenialProbe, request::ChatJoin, request::ChatLeave,
    request::ChatPoll, request::ChatWho, request::AdventureStatus,
    request::AdventureLook, request::AdventureInventory, request::AdventureGo,
    request::AdventureTake, request::AdventureDrop, request::AdventureUse,
    request::PaperclipsInitial, request::PaperclipsCommand,
    request::PaperclipsStatus, request::PaperclipsProjects, request::Logout>;

// The fixed channel and text of the schema-denial probe.
inline constexpr std::string_view kSchemaDenialChannel = "#orvik-schema-denial";
inline constexpr std::string_view kSchemaDenialText = "send-without-join schema denial proof";

}  // namespace remote_session_client
