#include "password.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "output.h"

namespace orvik_session {

namespace {

// Zeroes a secret so that the stores stay: the compiler may not drop them as
// dead, since the asm may read the memory. (explicit_bzero would do, but the
// release wheels target glibc 2.17, which lacks it.)
void wipe(char* bytes, std::size_t length) {
  std::memset(bytes, 0, length);
  asm volatile("" : : "r"(bytes) : "memory");
}

constexpr const char* kPasswordVariable = "ORVIK_PASSWORD";

UsageError file_error(std::string_view path, int error) {
  return UsageError{"cannot read the password file " + std::string(path) + ": " + std::strerror(error)};
}

std::expected<SecretText, UsageError> read_password_file(std::string_view path) {
  const UniqueFd file = path == "-" ? UniqueFd::borrowed(STDIN_FILENO)
                                    : UniqueFd(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return std::unexpected(file_error(path, errno));
  SecretText secret;
  for (;;) {
    if (secret.room() == 0) {
      char probe = 0;
      if (::read(file.get(), &probe, 1) == 0) break;
      return std::unexpected(UsageError{"the password file " + std::string(path) + " holds more than " +
                                        std::to_string(SecretText::kCapacity) + " bytes"});
    }
    const ssize_t got = ::read(file.get(), secret.end(), secret.room());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(file_error(path, errno));
    }
    secret.grow(static_cast<std::size_t>(got));
  }
  secret.drop_line_ending();
  return secret;
}

// Taken once, then wiped from this process's environment: a later reader of
// the environment (a crash report, /proc/PID/environ) finds nothing.
std::expected<SecretText, UsageError> take_password_variable(char* value) {
  const std::size_t length = std::strlen(value);
  if (length > SecretText::kCapacity) {
    return std::unexpected(UsageError{std::string(kPasswordVariable) + " holds more than " +
                                      std::to_string(SecretText::kCapacity) + " bytes"});
  }
  SecretText secret;
  std::memcpy(secret.end(), value, length);
  secret.grow(length);
  wipe(value, length);
  ::unsetenv(kPasswordVariable);
  return secret;
}

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

UsageError no_password(std::string_view account, std::string_view why) {
  return UsageError{"no password for --user " + shown(account) + ": " + std::string(why) +
                    "; set ORVIK_PASSWORD or give --password-file"};
}

std::expected<SecretText, UsageError> prompt_password(std::string_view account) {
  const UniqueFd terminal(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!terminal.valid()) return std::unexpected(no_password(account, "cannot open /dev/tty"));
  SecretText secret;
  bool ended = false;  // by the end of the line, not by end of input
  {
    // Echo goes off before the prompt shows: what is typed as soon as it
    // appears is not echoed either.
    EchoOff quiet(terminal.get());
    if (!quiet.active()) return std::unexpected(no_password(account, "cannot turn off the terminal's echo"));
    // The prompt and the line end below are for the person at the
    // terminal; one that cannot be shown does not stop the typing.
    (void)write_all(terminal.get(), "Password for " + shown(account) + ": ");
    // One byte at a time: nothing after the line is taken from the terminal.
    while (secret.room() > 0) {
      const ssize_t got = ::read(terminal.get(), secret.end(), 1);
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
  (void)write_all(terminal.get(), "\n");  // the Enter that was not echoed
  if (!ended) {
    return std::unexpected(UsageError{"no password for --user " + shown(account) +
                                      ": the prompt ended without a line"});
  }
  return secret;
}

}  // namespace

SecretText::SecretText() : bytes_(std::make_unique<char[]>(kCapacity)) {}

SecretText::~SecretText() {
  if (bytes_) wipe(bytes_.get(), kCapacity);
}

void SecretText::drop_line_ending() {
  if (size_ == 0 || bytes_[size_ - 1] != '\n') return;
  --size_;
  if (size_ > 0 && bytes_[size_ - 1] == '\r') --size_;
}

std::expected<Password, UsageError> Password::prepare(std::string account,
                                                      const std::optional<std::string>& password_file) {
  std::expected<SecretText, UsageError> secret = std::unexpected(UsageError{});
  if (password_file) {
    secret = read_password_file(*password_file);
  } else if (char* value = std::getenv(kPasswordVariable)) {
    secret = take_password_variable(value);
  } else if (!::isatty(STDIN_FILENO)) {
    return std::unexpected(no_password(account, "standard input is not a terminal"));
  } else {
    return Password(std::move(account), std::nullopt);
  }
  if (!secret) return std::unexpected(std::move(secret.error()));
  return Password(std::move(account), std::move(*secret));
}

std::expected<SecretText, UsageError> Password::take() {
  if (secret_) {
    SecretText taken = std::move(*secret_);
    secret_.reset();
    return taken;
  }
  return prompt_password(account_);
}

}  // namespace orvik_session
