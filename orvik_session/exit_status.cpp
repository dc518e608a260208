#include "exit_status.h"

#include <unistd.h>

#include <variant>

#include "output.h"

namespace orvik_session {

namespace {

using E = remote_session_client::RemoteSessionClientError;

constexpr ExitStatusSpec kStatuses[] = {
    {kExitSuccess, "success"},
    {kExitUsage, "usage: a command line that cannot be acted on, or no password to be had"},
    {kExitConnect, "could not connect to the gateway"},
    {kExitRefused, "the gateway refused (its error answer, shown as the library reports it)"},
    {kExitProtocol, "a protocol or frame failure: I/O, framing, decoding, or an answer of the wrong kind"},
    {kExitOutput, "the output was lost: stdout or stderr could not be written (a full disk, a closed pipe)"},
};

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

std::span<const ExitStatusSpec> exit_statuses() { return kStatuses; }

int exit_status(const E& error) { return std::visit(StatusOf{}, error.value); }

void Failures::note(int status, std::string text) {
  if (failed()) return;
  status_ = status;
  text_ = std::move(text);
  usage_ = false;
}

void Failures::note(const E& error) { note(exit_status(error), remote_session_client::to_string(error)); }

void Failures::note(const UsageError& error) {
  if (failed()) return;
  note(kExitUsage, error.message);
  usage_ = true;
}

void Failures::note_lost_output(int error) { note(kExitOutput, "cannot write to standard output: " + os_error_text(error)); }

int Failures::report(std::string_view before) {
  std::string text(before);
  if (failed() && !text_.empty()) {
    text += "orvik-session: " + terminal_safe(text_) + "\n";
    if (usage_) text += "try 'orvik-session --help'\n";
  }
  int status = status_;
  if (!text.empty() && !write_all(STDERR_FILENO, text) && status == kExitSuccess) status = kExitOutput;
  *this = Failures{};
  return status;
}

}  // namespace orvik_session
