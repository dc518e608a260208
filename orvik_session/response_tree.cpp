// One table per record and per response kind: the field names and the
// members they show. A record or response without a table does not compile.
#include "response_tree.h"

#include <tuple>

namespace orvik_session {

namespace rsc = remote_session_client;
namespace rs = remote_session_client::response;

namespace {

template <typename C, typename M>
struct FieldOf {
  std::string_view name;
  M C::*member;
};

template <typename C>
struct IdFieldOf {
  std::string_view name;
  std::uint64_t C::*member;
};

template <typename C, typename M>
constexpr FieldOf<C, M> field(std::string_view name, M C::*member) { return {name, member}; }
template <typename C>
constexpr IdFieldOf<C> id_field(std::string_view name, std::uint64_t C::*member) { return {name, member}; }

template <typename T>
constexpr auto kFields = nullptr;  // primary: only the specialisations below exist

template <> constexpr auto kFields<rsc::AuthMethodInfo> = std::tuple{
    field("kind", &rsc::AuthMethodInfo::kind), field("label", &rsc::AuthMethodInfo::label),
    field("profile_hints", &rsc::AuthMethodInfo::profile_hints),
    field("interactive", &rsc::AuthMethodInfo::interactive), field("enabled", &rsc::AuthMethodInfo::enabled)};
template <> constexpr auto kFields<rsc::SessionInfoSummary> = std::tuple{
    field("profile", &rsc::SessionInfoSummary::profile),
    field("principal_kind", &rsc::SessionInfoSummary::principal_kind),
    field("principal_display_name", &rsc::SessionInfoSummary::principal_display_name),
    field("auth_strength", &rsc::SessionInfoSummary::auth_strength),
    field("session_id_hex", &rsc::SessionInfoSummary::session_id_hex),
    field("expires_at_ms", &rsc::SessionInfoSummary::expires_at_ms)};
template <> constexpr auto kFields<rsc::SessionStarted> = std::tuple{
    field("summary", &rsc::SessionStarted::summary), field("summary_value", &rsc::SessionStarted::summary_value)};
template <> constexpr auto kFields<rsc::RemoteErrorInfo> = std::tuple{
    field("code", &rsc::RemoteErrorInfo::code), field("message", &rsc::RemoteErrorInfo::message)};
template <> constexpr auto kFields<rsc::CapInfo> = std::tuple{
    field("name", &rsc::CapInfo::name), id_field("interface_id", &rsc::CapInfo::interface_id),
    field("transfer_policy", &rsc::CapInfo::transfer_policy),
    field("lease_expires_at_ms", &rsc::CapInfo::lease_expires_at_ms)};
template <> constexpr auto kFields<rsc::ServiceCatalogEntry> = std::tuple{
    field("text0", &rsc::ServiceCatalogEntry::text0), field("text1", &rsc::ServiceCatalogEntry::text1),
    field("text2", &rsc::ServiceCatalogEntry::text2), field("text3", &rsc::ServiceCatalogEntry::text3),
    field("text4", &rsc::ServiceCatalogEntry::text4), field("text5", &rsc::ServiceCatalogEntry::text5),
    field("text_list0", &rsc::ServiceCatalogEntry::text_list0),
    field("text_list1", &rsc::ServiceCatalogEntry::text_list1), field("value", &rsc::ServiceCatalogEntry::value)};
template <> constexpr auto kFields<rsc::LaunchGrantRequirement> = std::tuple{
    field("text0", &rsc::LaunchGrantRequirement::text0), field("text1", &rsc::LaunchGrantRequirement::text1),
    field("text2", &rsc::LaunchGrantRequirement::text2), field("text3", &rsc::LaunchGrantRequirement::text3),
    field("value", &rsc::LaunchGrantRequirement::value), field("flag", &rsc::LaunchGrantRequirement::flag)};
template <> constexpr auto kFields<rsc::LauncherCatalogEntry> = std::tuple{
    field("text0", &rsc::LauncherCatalogEntry::text0), field("text1", &rsc::LauncherCatalogEntry::text1),
    field("text2", &rsc::LauncherCatalogEntry::text2), field("text3", &rsc::LauncherCatalogEntry::text3),
    field("text4", &rsc::LauncherCatalogEntry::text4),
    field("grant_requirements", &rsc::LauncherCatalogEntry::grant_requirements),
    field("service_entries", &rsc::LauncherCatalogEntry::service_entries),
    field("text_list", &rsc::LauncherCatalogEntry::text_list), field("flag0", &rsc::LauncherCatalogEntry::flag0),
    field("flag1", &rsc::LauncherCatalogEntry::flag1)};
template <> constexpr auto kFields<rsc::ServiceLaunchStatus> = std::tuple{
    field("text0", &rsc::ServiceLaunchStatus::text0), field("text1", &rsc::ServiceLaunchStatus::text1),
    field("text2", &rsc::ServiceLaunchStatus::text2), field("text_list", &rsc::ServiceLaunchStatus::text_list),
    field("service_entries", &rsc::ServiceLaunchStatus::service_entries),
    field("flag", &rsc::ServiceLaunchStatus::flag)};
template <> constexpr auto kFields<rsc::ChatEventInfo> = std::tuple{
    field("text0", &rsc::ChatEventInfo::text0), field("text1", &rsc::ChatEventInfo::text1),
    field("text2", &rsc::ChatEventInfo::text2), field("kind", &rsc::ChatEventInfo::kind)};

// Each response kind shows its one payload member.
template <> constexpr auto kFields<rs::AuthMethods> = std::tuple{field("methods", &rs::AuthMethods::methods)};
template <> constexpr auto kFields<rs::SessionStarted> = std::tuple{field("started", &rs::SessionStarted::started)};
template <> constexpr auto kFields<rs::CapsetList> = std::tuple{field("entries", &rs::CapsetList::entries)};
template <> constexpr auto kFields<rs::CapGranted> = std::tuple{field("entry", &rs::CapGranted::entry)};
template <> constexpr auto kFields<rs::ServiceCatalog> = std::tuple{field("entries", &rs::ServiceCatalog::entries)};
template <> constexpr auto kFields<rs::LauncherCatalog> = std::tuple{field("entries", &rs::LauncherCatalog::entries)};
template <> constexpr auto kFields<rs::ServiceLaunch> = std::tuple{field("status", &rs::ServiceLaunch::status)};
template <> constexpr auto kFields<rs::SessionInfo> = std::tuple{field("summary", &rs::SessionInfo::summary)};
template <> constexpr auto kFields<rs::SystemMotd> = std::tuple{field("text", &rs::SystemMotd::text)};
template <> constexpr auto kFields<rs::ChatSent> = std::tuple{field("value", &rs::ChatSent::value)};
template <> constexpr auto kFields<rs::ChatJoined> = std::tuple{field("value", &rs::ChatJoined::value)};
template <> constexpr auto kFields<rs::ChatLeft> = std::tuple{field("value", &rs::ChatLeft::value)};
template <> constexpr auto kFields<rs::ChatPollEvents> = std::tuple{field("events", &rs::ChatPollEvents::events)};
template <> constexpr auto kFields<rs::ChatWhoMembers> = std::tuple{field("members", &rs::ChatWhoMembers::members)};
template <> constexpr auto kFields<rs::AdventureStatus> = std::tuple{field("text", &rs::AdventureStatus::text)};
template <> constexpr auto kFields<rs::AdventureLook> = std::tuple{field("text", &rs::AdventureLook::text)};
template <> constexpr auto kFields<rs::AdventureInventory> = std::tuple{field("text", &rs::AdventureInventory::text)};
template <> constexpr auto kFields<rs::AdventureGo> = std::tuple{field("text", &rs::AdventureGo::text)};
template <> constexpr auto kFields<rs::AdventureTake> = std::tuple{field("text", &rs::AdventureTake::text)};
template <> constexpr auto kFields<rs::AdventureDrop> = std::tuple{field("text", &rs::AdventureDrop::text)};
template <> constexpr auto kFields<rs::AdventureUse> = std::tuple{field("text", &rs::AdventureUse::text)};
template <> constexpr auto kFields<rs::PaperclipsInitial> = std::tuple{field("text", &rs::PaperclipsInitial::text)};
template <> constexpr auto kFields<rs::PaperclipsCommand> = std::tuple{field("text", &rs::PaperclipsCommand::text)};
template <> constexpr auto kFields<rs::PaperclipsStatus> = std::tuple{field("text", &rs::PaperclipsStatus::text)};
template <> constexpr auto kFields<rs::PaperclipsProjects> = std::tuple{field("text", &rs::PaperclipsProjects::text)};
template <> constexpr auto kFields<rs::LoggedOut> = std::tuple{field("value", &rs::LoggedOut::value)};
template <> constexpr auto kFields<rs::Error> = std::tuple{field("info", &rs::Error::info)};

Value value_of(const std::string& text) { return Value{text}; }
Value value_of(bool flag) { return Value{flag}; }
Value value_of(std::uint64_t number) { return Value{number}; }
Value value_of(std::uint16_t number) { return Value{std::uint64_t{number}}; }
Value value_of(std::uint8_t number) { return Value{std::uint64_t{number}}; }
template <typename T>
Value value_of(const std::vector<T>& items);
template <typename T>
Value value_of(const T& record);

template <typename C>
Member member_of(const C& record, const IdFieldOf<C>& f) {
  return Member{f.name, Value{InterfaceId{record.*f.member}}};
}
template <typename C, typename M>
Member member_of(const C& record, const FieldOf<C, M>& f) {
  return Member{f.name, value_of(record.*f.member)};
}

template <typename C>
Record record_of(const C& record) {
  return std::apply([&](const auto&... fields) { return Record{member_of(record, fields)...}; }, kFields<C>);
}

template <typename T>
Value value_of(const std::vector<T>& items) {
  List list;
  list.reserve(items.size());
  for (const T& item : items) list.push_back(value_of(item));
  return Value{std::move(list)};
}

template <typename T>
Value value_of(const T& record) {
  return Value{record_of(record)};
}

}  // namespace

Answer answer_tree(const rsc::ResponseKind& response) {
  return std::visit([](const auto& r) { return Answer{r.kind_name, record_of(r)}; }, response);
}

}  // namespace orvik_session
