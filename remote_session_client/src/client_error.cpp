#include "remote_session_client/client_error.h"

#include <type_traits>

#include "remote_session_client/text.h"

namespace remote_session_client {

std::string to_string(const RemoteSessionClientError& error) {
  using E = RemoteSessionClientError;
  return std::visit(
      [](const auto& e) -> std::string {
        using V = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<V, E::Resolve>) {
          return "failed to resolve " + e.target + ": " + to_string(e.error);
        } else if constexpr (std::is_same_v<V, E::ConnectTimeout>) {
          return "timed out connecting to " + e.target + "; last error: " + e.last_error;
        } else if constexpr (std::is_same_v<V, E::Io>) {
          return "remote session TCP I/O failed: " + to_string(e.error);
        } else if constexpr (std::is_same_v<V, E::Frame> || std::is_same_v<V, E::Protocol>) {
          return to_string(e.error);
        } else if constexpr (std::is_same_v<V, E::Remote>) {
          return "remote gateway denied request: code=" + e.code + " message=" + quoted(e.message);
        } else if constexpr (std::is_same_v<V, E::UnexpectedResponse>) {
          return "request " + e.request + " received unexpected response " + e.response;
        } else if constexpr (std::is_same_v<V, E::OutOfStep>) {
          return "connection is out of step after an earlier frame failure; create a new Client";
        } else if constexpr (std::is_same_v<V, E::OtherProcess>) {
          return "Client was created in another process; create a new Client in this process";
        } else {
          static_assert(std::is_same_v<V, E::Tls>);
          return "TLS handshake with " + e.target + " failed: " + e.reason;
        }
      },
      error.value);
}

}  // namespace remote_session_client
