// I/O failures of the socket layer, as values.
#pragma once

#include <cstdint>
#include <string>

#include "remote_session_client/export.h"

namespace remote_session_client {

// An I/O error: either an operating-system error number, or one of the few
// errors the client makes itself. to_string() is the one place its text is
// built ("Connection refused (os error 111)", "failed to fill whole buffer").
struct IoError {
  enum class Kind : std::uint8_t {
    Os,                // errno in os_code; text from the system
    UnexpectedEof,     // "failed to fill whole buffer"
    WriteZero,         // "failed to write whole buffer"
    NoAddresses,       // "no socket addresses resolved"
    ZeroTimeout,       // "cannot set a 0 duration timeout"
    TimedOut,          // "connection timed out"
    Lookup,            // "failed to lookup address information: " + detail
    NulInHost,         // "host name contains a NUL byte"
  };

  Kind kind = Kind::Os;
  int os_code = 0;     // meaningful for Kind::Os only
  std::string detail;  // the resolver's own message, for Kind::Lookup only

  static IoError os(int errnum) { return IoError{Kind::Os, errnum, {}}; }
  static IoError made(Kind kind) { return IoError{kind, 0, {}}; }
  static IoError lookup(std::string resolver_message) {
    return IoError{Kind::Lookup, 0, std::move(resolver_message)};
  }
};

RSC_API std::string to_string(const IoError& error);

}  // namespace remote_session_client
