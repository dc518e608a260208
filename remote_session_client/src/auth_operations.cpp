// auth_methods and login.
#include "acceptance.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {

ClientResult<std::vector<AuthMethodInfo>> RemoteSessionClient::auth_methods() {
  auto accepted = exchange<response::AuthMethods>(request::AuthMethods{});
  if (!accepted) return std::unexpected(std::move(accepted.error()));

  event::AuthMethods recorded;
  recorded.count = accepted->methods.size();
  for (const AuthMethodInfo& method : accepted->methods) {
    if (method.enabled) recorded.enabled_kinds.push_back(method.kind);
  }
  transcript_.record(std::move(recorded));
  return std::move(accepted->methods);
}

ClientResult<SessionStarted> RemoteSessionClient::login(AuthMode mode) {
  // The label shows the profile only; selector and proof stay out of it.
  auto accepted = exchange<response::SessionStarted>(request::Login{std::move(mode)});
  if (!accepted) {
    // A refusal ends whatever session this connection had; a transport or
    // codec failure, or an unexpected answer, says nothing about it.
    if (is_denial(accepted.error())) {
      current_session_.reset();
      logged_out_ = false;
    }
    return std::unexpected(std::move(accepted.error()));
  }

  const SessionStarted& started = accepted->started;
  transcript_.record(event::SessionStarted{started.summary.profile, principal_label(started.summary),
                                           started.summary_value});
  current_session_ = started;
  logged_out_ = false;
  return std::move(accepted->started);
}

}  // namespace remote_session_client
