// The response-acceptance rule every operation applies to what transact
// returned: the expected kind is the result, a gateway error is recorded as
// Denied and becomes Remote, anything else is an UnexpectedResponse naming
// what arrived and what was asked.
#pragma once

#include <string>
#include <utility>

#include "remote_session_client/client.h"
#include "remote_session_client/protocol.h"

namespace remote_session_client {

// The label is built once, by transact, which records it and hands it back
// so that an unexpected answer names the request by it.
template <typename Expected>
ClientResult<Expected> RemoteSessionClient::exchange(RequestKind request) {
  using E = RemoteSessionClientError;
  auto exchanged = transact(std::move(request));
  if (!exchanged) return std::unexpected(std::move(exchanged.error()));
  if (auto* expected = std::get_if<Expected>(&exchanged->kind)) return std::move(*expected);
  if (auto* denied = std::get_if<response::Error>(&exchanged->kind)) {
    transcript_.record(event::Denied{denied->info.code, denied->info.message, exchanged->seq});
    return std::unexpected(E{E::Remote{std::move(denied->info.code), std::move(denied->info.message)}});
  }
  return std::unexpected(E{E::UnexpectedResponse{std::string(kind_name(exchanged->kind)),
                                                 std::move(exchanged->request_label)}});
}

// Whether a failure is the gateway's refusal rather than a transport, codec
// or unexpected-kind failure.
inline bool is_denial(const RemoteSessionClientError& error) {
  return std::holds_alternative<RemoteSessionClientError::Remote>(error.value);
}

}  // namespace remote_session_client
