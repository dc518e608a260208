// session_info, system_motd, list_capset, get_capset_entry and logout.
#include "acceptance.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {

ClientResult<SessionInfoSummary> RemoteSessionClient::session_info() {
  auto accepted = exchange<response::SessionInfo>(request::SessionInfo{});
  if (!accepted) return std::unexpected(std::move(accepted.error()));
  const SessionInfoSummary& summary = accepted->summary;
  // The session id and the expiry stay out of the transcript.
  transcript_.record(event::SessionInfo{summary.profile, principal_label(summary), summary.auth_strength});
  return std::move(accepted->summary);
}

// The decoded text moves into the transcript, which keeps its newest event
// whatever its size (transcript.h), so the view stays valid until the next
// record. A client's transcript has the default capacity (connect.cpp).
static_assert(Transcript::kDefaultCapacity > 0, "the newest event must be kept");
ClientResult<std::string_view> RemoteSessionClient::recorded_system_motd() {
  auto accepted = exchange<response::SystemMotd>(request::SystemMotd{});
  if (!accepted) return std::unexpected(std::move(accepted.error()));
  transcript_.record(event::SystemMotd{std::move(accepted->text)});
  return std::string_view(std::get<event::SystemMotd>(transcript_.events().back()).text);
}

ClientResult<std::string> RemoteSessionClient::system_motd() {
  return system_motd([](std::string_view text) { return std::string(text); });
}

ClientResult<std::vector<CapInfo>> RemoteSessionClient::list_capset() {
  auto accepted = exchange<response::CapsetList>(request::CapsetList{});
  if (!accepted) return std::unexpected(std::move(accepted.error()));
  event::CapsetList recorded;
  recorded.count = accepted->entries.size();
  std::size_t name_bytes = 0;
  for (const CapInfo& entry : accepted->entries) name_bytes += entry.name.size();
  recorded.entries.reserve(recorded.count, name_bytes);
  for (const CapInfo& entry : accepted->entries) recorded.entries.push_back(entry.name, entry.interface_id);
  transcript_.record(std::move(recorded));
  return std::move(accepted->entries);
}

ClientResult<CapInfo> RemoteSessionClient::get_capset_entry(std::string name,
                                                            std::uint64_t expected_interface_id) {
  // The gateway enforces the expected id; the granted entry is returned as
  // it came, even if it names another id.
  auto accepted = exchange<response::CapGranted>(
      request::CapsetGet{std::move(name), expected_interface_id});
  if (!accepted) return std::unexpected(std::move(accepted.error()));
  transcript_.record(event::CapGranted{accepted->entry.name, accepted->entry.interface_id});
  return std::move(accepted->entry);
}

ClientResult<void> RemoteSessionClient::logout() {
  using E = RemoteSessionClientError;
  auto accepted = exchange<response::LoggedOut>(request::Logout{});
  if (!accepted) return std::unexpected(std::move(accepted.error()));
  if (!accepted->value) {
    // The gateway kept the session: not a logout, and not a refusal either.
    return std::unexpected(E{E::UnexpectedResponse{"loggedOut(false)", label(request::Logout{})}});
  }
  logged_out_ = true;
  current_session_.reset();
  return {};
}

}  // namespace remote_session_client
