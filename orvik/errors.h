// Library failures to Python exceptions: the one place where they are raised.
#pragma once

#include "pyref.h"
#include "remote_session_client/client_error.h"

namespace orvik {

// Each sets the exception and returns null, for `return raise_...(error);`.
// The message is the library's display text and nothing else.
PyObject* raise_connection_error(const remote_session_client::RemoteSessionConnectError& error);
PyObject* raise_runtime_error(const remote_session_client::RemoteSessionClientError& error);

}  // namespace orvik
