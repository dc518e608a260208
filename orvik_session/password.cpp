#include "password.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

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

// Owns a file descriptor it opened; standard input is borrowed, not closed.
class InputFile {
 public:
  explicit InputFile(int fd, bool owned) : fd_(fd), owned_(owned) {}
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() {
    if (owned_ && fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
  bool owned_;
};

UsageError file_error(std::string_view path, int error) {
  return UsageError{"cannot read the password file " + std::string(path) + ": " + std::strerror(error)};
}

std::expected<SecretText, UsageError> read_password_file(std::string_view path) {
  const bool from_stdin = path == "-";
  InputFile file(from_stdin ? STDIN_FILENO : ::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC),
                 !from_stdin);
  if (file.fd() < 0) return std::unexpected(file_error(path, errno));
  SecretText secret;
  for (;;) {
    if (secret.room() == 0) {
      char probe = 0;
      if (::read(file.fd(), &probe, 1) == 0) break;
      return std::unexpected(UsageError{"the password file " + std::string(path) + " holds more than " +
                                        std::to_string(SecretText::kCapacity) + " bytes"});
    }
    const ssize_t got = ::read(file.fd(), secret.end(), secret.room());
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

std::expected<SecretText, UsageError> read_password(const login::User& user) {
  if (user.password_file) return read_password_file(*user.password_file);
  if (char* value = std::getenv(kPasswordVariable)) return take_password_variable(value);
  return prompt_password(user.name);
}

}  // namespace orvik_session
