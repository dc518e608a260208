// The password of --user: from --password-file (a path, or "-" for standard
// input), else from ORVIK_PASSWORD, else typed at a prompt on the terminal
// with echo off, once the connection is made (nobody types a password to
// then wait out a closed port). Never from the command line, where the
// process list would show it. Every buffer that held it is wiped before it
// is freed.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "exit_status.h"

namespace orvik_session {

// A secret of at most kCapacity bytes in a buffer of its own, filled in
// place (never grown, so never copied by a reallocation) and wiped when the
// object goes.
class SecretText {
 public:
  static constexpr std::size_t kCapacity = 4096;

  SecretText();
  SecretText(SecretText&&) noexcept = default;
  SecretText& operator=(SecretText&&) noexcept = default;
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;
  ~SecretText();

  std::string_view view() const { return {bytes_.get(), size_}; }
  // Room left, and where to write into it; `grow` counts what was written.
  std::size_t room() const { return kCapacity - size_; }
  char* end() { return bytes_.get() + size_; }
  void grow(std::size_t written) { size_ += written; }
  // Drops one line ending ("\n" or "\r\n"), as an editor leaves after the
  // last line of a file.
  void drop_line_ending();

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
};

// The password of one account, read as far as it can be before connecting:
// a file or the variable now, whole; the terminal only checked now, and
// asked by `take`.
class Password {
 public:
  static std::expected<Password, UsageError> prepare(std::string account,
                                                     const std::optional<std::string>& password_file);
  // The secret; from the terminal, the prompt "Password for NAME: " on
  // /dev/tty, echo off until the line is read and back on whatever ends the
  // prompt: the line, an error, or SIGINT, SIGTERM, SIGHUP or SIGQUIT (which
  // then end the program as they would have).
  std::expected<SecretText, UsageError> take();

 private:
  Password(std::string account, std::optional<SecretText> secret)
      : account_(std::move(account)), secret_(std::move(secret)) {}
  std::string account_;
  std::optional<SecretText> secret_;  // none: the terminal is asked
};

}  // namespace orvik_session
