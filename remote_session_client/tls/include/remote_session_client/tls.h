// The TLS layer: frames over a TLS session on the TCP socket. Linked only by
// programs that ask for it (CMake remote_session_client::tls, pkg-config
// remote_session_client_tls); the core library links no TLS library.
//
//   auto client = connect(config, tls_transport());   // config.tls set: TLS; absent: plain
//
// What the session checks: the gateway's certificate chain against the CA
// file or the machine's store, and its name (config.tls->server_name, else
// the host; an IP literal against the certificate's IP addresses), TLS 1.2
// at least, 1.3 preferred, an optional client certificate. A handshake
// refused on those grounds ends connect at once with a Tls error:
//   "TLS handshake with 127.0.0.1:2327 failed: certificate verify failed (certificate has expired)"
// Later failures of the session are Io errors of kind Tls, e.g.
//   "frame I/O failed: TLS: tlsv13 alert certificate required"
#pragma once

#include "remote_session_client/byte_stream.h"

namespace remote_session_client {

// The TLS transport for a configuration with a tls block; one without is
// given the plain socket, so a program may pass this transport always.
const Transport& tls_transport();

}  // namespace remote_session_client
