// The no-echo password prompt on the controlling terminal.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "display_text.h"
#include "password.h"

namespace orvik_session {

namespace {

// What the signal handler needs to give the terminal its echo back. Set
// (mode first, then the descriptor) only while echo is off.
termios saved_mode;
volatile sig_atomic_t echo_off_fd = -1;

constexpr int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Puts the terminal back, then lets the signal end the program as it would
// have without us (the shell sees "killed by SIGINT", not an exit status).
extern "C" void restore_terminal_and_reraise(int signal_number) {
  const int fd = echo_off_fd;
  if (fd >= 0) {
    ::tcsetattr(fd, TCSAFLUSH, &saved_mode);
    [[maybe_unused]] const ssize_t ignored = ::write(fd, "\n", 1);
  }
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);  // delivered once the handler returns
}

class Terminal {
 public:
  Terminal() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  ~Terminal() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Echo off for its lifetime, with the handlers that restore it on a signal.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (::tcgetattr(fd, &saved_mode) != 0) return;
    termios quiet = saved_mode;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    echo_off_fd = fd;
    struct sigaction action {};
    action.sa_handler = restore_terminal_and_reraise;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kRestoringSignals); ++i) {
      ::sigaction(kRestoringSignals[i], &action, &previous_[i]);
    }
    active_ = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  ~EchoOff() {
    if (echo_off_fd < 0) return;
    ::tcsetattr(fd_, TCSAFLUSH, &saved_mode);
    echo_off_fd = -1;
    for (std::size_t i = 0; i < std::size(kRestoringSignals); ++i) {
      ::sigaction(kRestoringSignals[i], &previous_[i], nullptr);
    }
  }
  bool active() const { return active_; }

 private:
  int fd_;
  bool active_ = false;
  struct sigaction previous_[std::size(kRestoringSignals)] {};
};

void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t wrote = ::write(fd, text.data(), text.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
}

}  // namespace

std::expected<SecretText, UsageError> prompt_password(std::string_view account) {
  const std::string hint = "; set ORVIK_PASSWORD or give --password-file";
  if (!::isatty(STDIN_FILENO)) {
    return std::unexpected(UsageError{"no password for --user " + shown(account) +
                                      ": standard input is not a terminal" + hint});
  }
  Terminal terminal;
  if (terminal.fd() < 0) {
    return std::unexpected(UsageError{"no password for --user " + shown(account) + ": cannot open /dev/tty" + hint});
  }
  SecretText secret;
  bool ended = false;  // by the end of the line, not by end of input
  {
    // Echo goes off before the prompt shows: what is typed as soon as it
    // appears is not echoed either.
    EchoOff quiet(terminal.fd());
    if (!quiet.active()) {
      return std::unexpected(UsageError{"no password for --user " + shown(account) +
                                        ": cannot turn off the terminal's echo" + hint});
    }
    write_all(terminal.fd(), "Password for " + shown(account) + ": ");
    // One byte at a time: nothing after the line is taken from the terminal.
    while (secret.room() > 0) {
      const ssize_t got = ::read(terminal.fd(), secret.end(), 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      if (*secret.end() == '\n') {
        *secret.end() = '\0';
        ended = true;
        break;
      }
      secret.grow(1);
    }
  }
  write_all(terminal.fd(), "\n");  // the Enter that was not echoed
  if (!ended) {
    return std::unexpected(UsageError{"no password for --user " + shown(account) +
                                      ": the prompt ended without a line"});
  }
  return secret;
}

}  // namespace orvik_session
