// The exit status says what failed, so that a script can tell a wrong
// password from a gateway that is down.
#pragma once

#include "remote_session_client/client_error.h"

namespace orvik_session {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 2;      // the command line, or a password that could not be read
inline constexpr int kExitConnect = 3;    // no connection to the gateway
inline constexpr int kExitRefused = 4;    // the gateway answered with an error
inline constexpr int kExitProtocol = 5;   // framing, codec, I/O or an answer of the wrong kind

int exit_status(const remote_session_client::RemoteSessionClientError& error);

}  // namespace orvik_session
