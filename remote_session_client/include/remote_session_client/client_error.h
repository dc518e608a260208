// Failures of the session client, as values.
#pragma once

#include <string>
#include <variant>

#include "remote_session_client/export.h"
#include "remote_session_client/frame.h"
#include "remote_session_client/io_error.h"
#include "remote_session_client/protocol_error.h"
#include "remote_session_client/transcript.h"

namespace remote_session_client {

struct RemoteSessionClientError {
  struct Resolve { std::string target; IoError error; };
  struct ConnectTimeout { std::string target; std::string last_error; };
  struct Io { IoError error; };
  struct Frame { FrameError error; };
  struct Protocol { ProtocolError error; };
  struct Remote { std::string code; std::string message; };
  // `response` is a kind name, or "loggedOut(false)"; `request` a label.
  struct UnexpectedResponse { std::string response; std::string request; };
  // An earlier frame failure left the stream inside a frame; nothing was sent.
  struct OutOfStep {};

  std::variant<Resolve, ConnectTimeout, Io, Frame, Protocol, Remote, UnexpectedResponse, OutOfStep> value;
};

// The one place each client error text is built; a wrapping variant shows
// exactly the text of what it wraps.
RSC_API std::string to_string(const RemoteSessionClientError& error);

// What a failed connect returns: the error (always ConnectTimeout) and the
// transcript recorded up to the failure.
struct RemoteSessionConnectError {
  RemoteSessionClientError error;
  Transcript transcript;
};

inline std::string to_string(const RemoteSessionConnectError& error) {
  return to_string(error.error);
}

}  // namespace remote_session_client
