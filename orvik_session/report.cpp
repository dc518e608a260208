#include "report.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace orvik_session {

void write_out(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t wrote = ::write(fd, text.data(), text.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;  // a closed pipe: nobody is reading any more
    text.remove_prefix(static_cast<std::size_t>(wrote));
  }
}

void report_failure(std::string_view text) {
  write_out(STDERR_FILENO, "orvik-session: " + std::string(text) + "\n");
}

void report_usage(const UsageError& error) {
  write_out(STDERR_FILENO, "orvik-session: " + error.message + "\ntry 'orvik-session --help'\n");
}

}  // namespace orvik_session
