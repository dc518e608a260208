// RemoteSessionClient: one blocking TCP connection to a session gateway, the
// sequence counter of its requests, its transcript and its session state.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "remote_session_client/client_error.h"
#include "remote_session_client/config.h"
#include "remote_session_client/export.h"
#include "remote_session_client/frame.h"
#include "remote_session_client/records.h"
#include "remote_session_client/request.h"
#include "remote_session_client/response.h"
#include "remote_session_client/socket.h"
#include "remote_session_client/transcript.h"

namespace remote_session_client {

template <typename T>
using ClientResult = std::expected<T, RemoteSessionClientError>;

// What transact returns: the decoded answer and the label its request was
// recorded under, by which the acceptance rule names an unexpected answer.
struct Transacted : DecodedResponse {
  std::string request_label;
};

class RSC_API RemoteSessionClient {
 public:
  RemoteSessionClient(RemoteSessionClient&&) noexcept = default;
  RemoteSessionClient& operator=(RemoteSessionClient&&) noexcept = default;
  RemoteSessionClient(const RemoteSessionClient&) = delete;
  RemoteSessionClient& operator=(const RemoteSessionClient&) = delete;
  // Destroying the client closes the socket and sends nothing.
  ~RemoteSessionClient() = default;

  // One exchange: next seq, Request event, encode, one frame out, one frame
  // in, decode, Response event. No retry, no reconnection. Once the stream
  // is out of step (in_step), it fails with OutOfStep and does nothing else.
  ClientResult<Transacted> transact(RequestKind request);

  // Operations. Each is one transact and the response-acceptance rule.
  ClientResult<std::vector<AuthMethodInfo>> auth_methods();
  ClientResult<std::vector<AuthMethodInfo>> list_auth_methods() { return auth_methods(); }
  ClientResult<SessionStarted> login(AuthMode mode);
  ClientResult<SessionInfoSummary> session_info();
  ClientResult<std::string> system_motd();
  // system_motd for a caller that only reads the text: `read` is called with
  // a view of the text the transcript recorded, valid during the call, and
  // its result is returned. The banner is then copied once, into the
  // transcript, instead of once more for the result.
  template <typename Read>
  ClientResult<std::invoke_result_t<Read&, std::string_view>> system_motd(Read&& read);
  ClientResult<std::vector<CapInfo>> list_capset();
  ClientResult<CapInfo> get_capset_entry(std::string name, std::uint64_t expected_interface_id);
  ClientResult<void> logout();

  const ClientConfig& config() const { return config_; }
  const Transcript& transcript() const { return transcript_; }
  const std::optional<SessionStarted>& current_session() const { return current_session_; }
  bool logged_out() const { return logged_out_; }
  std::uint32_t next_seq() const { return next_seq_; }
  int fd() const { return stream_.fd(); }
  // False once a frame failure stopped inside a frame, in either direction:
  // the bytes that follow are no longer frame boundaries, for us or for the
  // gateway. A failure on a whole frame (a codec error, a wrong seq, a
  // refusal, a time-out before the answer's first byte) leaves it true.
  bool in_step() const { return requests_.at_boundary() && frames_.at_boundary(); }

 private:
  friend RSC_API std::expected<RemoteSessionClient, RemoteSessionConnectError> connect(ClientConfig config);
  RemoteSessionClient(ClientConfig config, Transcript transcript, Socket stream);

  // Records the accepted banner; the view is of the transcript's copy.
  ClientResult<std::string_view> recorded_system_motd();

  // One transact and the acceptance rule; defined in acceptance.h beside
  // the rule, included only by the operations.
  template <typename Expected>
  ClientResult<Expected> exchange(RequestKind request);

  ClientConfig config_;
  Transcript transcript_;
  std::optional<SessionStarted> current_session_;
  Socket stream_;
  // Sends the requests; knows whether one stopped partway.
  FrameWriter requests_;
  // Receives the answers; owns the one buffer they arrive in.
  FrameReader frames_;
  // Each request is encoded here, reusing the storage of the one before.
  Bytes request_bytes_;
  std::uint32_t next_seq_ = 1;
  bool logged_out_ = false;
};

template <typename Read>
ClientResult<std::invoke_result_t<Read&, std::string_view>> RemoteSessionClient::system_motd(Read&& read) {
  auto text = recorded_system_motd();
  if (!text) return std::unexpected(std::move(text.error()));
  return std::invoke(read, *text);
}

// Resolves, connects (every address in turn, each bounded by io_timeout),
// retries every connect_retry_interval until connect_deadline has passed, then
// sets the socket's read and write time-outs. Only ever fails with
// ConnectTimeout, which carries the last attempt's error text.
RSC_API std::expected<RemoteSessionClient, RemoteSessionConnectError> connect(ClientConfig config);

}  // namespace remote_session_client
