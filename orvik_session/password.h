// The password of --user: from --password-file (a path, or "-" for standard
// input), else from ORVIK_PASSWORD, else typed at a prompt on the terminal
// with echo off. Never from the command line, where the process list would
// show it. Every buffer that held it is wiped before it is freed.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <string_view>

#include "options.h"
#include "usage_error.h"

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

std::expected<SecretText, UsageError> read_password(const login::User& user);

// The prompt "Password for NAME: " on /dev/tty, echo off until the line is
// read, and back on whatever ends the prompt: the line, an error, or SIGINT,
// SIGTERM, SIGHUP or SIGQUIT (which then end the program as they would have).
// Needs standard input to be a terminal.
std::expected<SecretText, UsageError> prompt_password(std::string_view account);

}  // namespace orvik_session
