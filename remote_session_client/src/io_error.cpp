#include "remote_session_client/io_error.h"

#include <cstring>

namespace remote_session_client {

namespace {

// glibc's GNU strerror_r returns the message, which may or may not live in
// buf; the POSIX one (musl's, in the static orvik-session) writes it into
// buf and returns 0, or an error number when buf cannot hold it all.
[[maybe_unused]] const char* strerror_r_text(const char* returned, const char*) { return returned; }
[[maybe_unused]] const char* strerror_r_text(int returned, const char* buf) { return returned == 0 || *buf ? buf : "Unknown error"; }

// The system's message for an error number, without the locale's help.
std::string os_message(int errnum) {
  char buf[256] = "";
  return strerror_r_text(strerror_r(errnum, buf, sizeof buf), buf);
}

}  // namespace

std::string to_string(const IoError& error) {
  switch (error.kind) {
    case IoError::Kind::Os:
      return os_message(error.os_code) + " (os error " + std::to_string(error.os_code) + ")";
    case IoError::Kind::UnexpectedEof:
      return "failed to fill whole buffer";
    case IoError::Kind::WriteZero:
      return "failed to write whole buffer";
    case IoError::Kind::NoAddresses:
      return "no socket addresses resolved";
    case IoError::Kind::ZeroTimeout:
      return "cannot set a 0 duration timeout";
    case IoError::Kind::TimedOut:
      return "connection timed out";
    case IoError::Kind::Lookup:
      return "failed to lookup address information: " + error.detail;
    case IoError::Kind::NulInHost:
      return "host name contains a NUL byte";
    case IoError::Kind::Tls:
      return "TLS: " + error.detail;
  }
  return {};
}

}  // namespace remote_session_client
