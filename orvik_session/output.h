// Descriptors and writes: the one owner of a file descriptor, the one
// checked write, and the forms in which a text the gateway chose may reach a
// terminal. Every byte the tool prints goes through `write_all`.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace orvik_session {

// Owns a descriptor it was given and closes it once; a borrowed one (standard
// input) is held by `borrowed` and never closed.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd), owned_(true) {}
  static UniqueFd borrowed(int fd) { return UniqueFd(fd, false); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_), owned_(other.owned_) { other.fd_ = -1; }
  UniqueFd& operator=(UniqueFd&&) = delete;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd();
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  UniqueFd(int fd, bool owned) : fd_(fd), owned_(owned) {}
  int fd_;
  bool owned_;
};

// Writes all of `text`, however often write is cut short or interrupted; the
// errno of the write that failed otherwise (EPIPE for a closed pipe: SIGPIPE
// is ignored, so that a lost reader is a failure we report, not a kill).
std::expected<void, int> write_all(int fd, std::string_view text);

// "No space left on device (os error 28)", as the library shows an OS error.
std::string os_error_text(int error);

// A text from the gateway in a human form: a text that holds anything the
// quoted form escapes is shown in the quoted form, every other text as it
// is. Needs valid UTF-8 (the codec hands out nothing else).
std::string shown(std::string_view utf8);

// A line of ours that may carry bytes from elsewhere (an error text quoting
// an answer, an argument typed by the operator): every character the quoted
// form escapes is written as it writes it, a byte that is not UTF-8 as
// \x{hex}, and the rest, quotes and backslashes included, unchanged. The
// result holds no control character and no line break.
std::string terminal_safe(std::string_view text);

// The code point of the valid UTF-8 sequence at the front of `utf8`, and its
// length in bytes.
std::pair<char32_t, std::size_t> first_code_point(std::string_view utf8);

// Columns a shown text takes: one per code point, which holds for the
// letters, digits and punctuation the gateway's names are made of.
std::size_t display_width(std::string_view utf8);

}  // namespace orvik_session
