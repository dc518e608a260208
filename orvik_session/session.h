// One session with the gateway: the connection, the login the options ask
// for, and the rule that decides, from what happened, whether it ends with a
// logout.
#pragma once

#include <expected>
#include <optional>

#include "exit_status.h"
#include "options.h"
#include "remote_session_client/client.h"

namespace orvik_session {

class Session {
 public:
  // Connects, then (if `log_in`) reads the password, prompting only now
  // that the gateway is there, and logs in. A failure is noted; the
  // transcript of what was tried is handed back for --transcript.
  static std::expected<Session, remote_session_client::Transcript> open(const Options& options, bool log_in,
                                                                        Failures& failures);

  remote_session_client::RemoteSessionClient& client() { return client_; }
  const remote_session_client::Transcript& transcript() const { return client_.transcript(); }

  // An answer seen on this session: a raw logout request that the gateway
  // answered with loggedOut true ended it.
  void saw(const remote_session_client::RequestKind& request, const remote_session_client::ResponseKind& answer);

  // The logout rule: a login succeeded, the stream is still in step (after a
  // frame failure a logout would only wait out the time-out for an answer
  // that is not coming), and the session has not been logged out yet.
  bool logout_due() const;

  // Logs out if the rule says so; a failed logout is noted.
  void close(Failures& failures);

 private:
  explicit Session(remote_session_client::RemoteSessionClient client) : client_(std::move(client)) {}

  remote_session_client::RemoteSessionClient client_;
  bool logged_in_ = false;
  bool ended_by_request_ = false;
};

}  // namespace orvik_session
