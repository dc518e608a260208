// `orvik-session tunnel`: a local plain-TCP listener whose every client is
// carried to the gateway over the connection the options describe (TLS, as
// the tunnel is for), so that a program that speaks only plain TCP (the
// Python module among them) reaches a gateway behind TLS.
#pragma once

#include <cstdint>
#include <string>

#include "remote_session_client/config.h"

namespace orvik_session {

struct TunnelOptions {
  // Loopback unless told otherwise: anyone who can connect here rides on the
  // tunnel's client certificate.
  std::string listen_host = "127.0.0.1";
  // 0: the system picks one.
  std::uint16_t listen_port = 0;
  // One client: connect to the gateway first, then listen, accept one
  // connection, stop listening, and exit when that connection ends.
  bool once = false;
};

// Prints the bound port on stdout (one line), then serves until SIGINT or
// SIGTERM (or, with once, until its one connection ends). Returns the exit
// status: 0, kExitConnect when the gateway cannot be reached (with once) or
// the address cannot be listened on, kExitProtocol when a connection failed
// partway.
int run_tunnel(const TunnelOptions& tunnel, const remote_session_client::ClientConfig& config);

}  // namespace orvik_session
