// What failed, and the exit status that says so, so that a script can tell a
// wrong password from a gateway that is down or an output that was lost.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "remote_session_client/client_error.h"

namespace orvik_session {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 2;     // the command line, or a password that could not be read
inline constexpr int kExitConnect = 3;   // no connection to the gateway
inline constexpr int kExitRefused = 4;   // the gateway answered with an error
inline constexpr int kExitProtocol = 5;  // framing, codec, I/O or an answer of the wrong kind
inline constexpr int kExitOutput = 6;    // stdout or stderr could not be written

// Every status and what it means: the --help text and the manual print this.
struct ExitStatusSpec {
  int status;
  std::string_view meaning;
};
std::span<const ExitStatusSpec> exit_statuses();

int exit_status(const remote_session_client::RemoteSessionClientError& error);

// A command line or a command the tool cannot act on: what is wrong, in one
// line.
struct UsageError {
  std::string message;
};

// The failures of one command (or one script): the first decides the exit
// status and is the one line reported, "orvik-session: " and its text, made
// terminal-safe. Later ones are dropped: they follow from the first.
class Failures {
 public:
  void note(int status, std::string text);
  void note(const remote_session_client::RemoteSessionClientError& error);
  // With the hint to --help on a second line.
  void note(const UsageError& error);
  // stdout could not be written: stderr says so.
  void note_lost_output(int error);
  // A failure whose line was written already (by the shell, as it came).
  void note_reported(int status) { note(status, {}); }

  int status() const { return status_; }
  bool failed() const { return status_ != kExitSuccess; }

  // Writes the failure line, if there is one, to stderr; returns the status,
  // kExitOutput if nothing else failed but stderr could not be written. The
  // failures are then cleared.
  int report(std::string_view before = {});

 private:
  int status_ = kExitSuccess;
  std::string text_;
  bool usage_ = false;
};

}  // namespace orvik_session
