#include "exit_status.h"

#include <variant>

namespace orvik_session {

namespace {

using E = remote_session_client::RemoteSessionClientError;

// Everything not named here broke the exchange itself: a new variant of the
// client's error lands there unless it gets a line of its own.
struct StatusOf {
  int operator()(const E::Resolve&) const { return kExitConnect; }
  int operator()(const E::ConnectTimeout&) const { return kExitConnect; }
  int operator()(const E::Tls&) const { return kExitConnect; }
  int operator()(const E::Remote&) const { return kExitRefused; }
  int operator()(const auto&) const { return kExitProtocol; }
};

}  // namespace

int exit_status(const E& error) { return std::visit(StatusOf{}, error.value); }

}  // namespace orvik_session
