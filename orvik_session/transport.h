// The transport orvik-session reaches the gateway by: the TLS layer where
// the build links it (which takes the plain socket when --tls is not given),
// else the plain socket alone, which refuses --tls with "no TLS layer is
// linked into this program" rather than send in clear.
#pragma once

#include "remote_session_client/byte_stream.h"
#ifdef ORVIK_SESSION_HAVE_TLS
#include "remote_session_client/tls.h"
#endif

namespace orvik_session {

inline const remote_session_client::Transport& gateway_transport() {
#ifdef ORVIK_SESSION_HAVE_TLS
  return remote_session_client::tls_transport();
#else
  return remote_session_client::plain_transport();
#endif
}

}  // namespace orvik_session
