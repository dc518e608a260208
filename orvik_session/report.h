// Failures on stderr: one line, "orvik-session: " and the text (the
// library's own text for a failure of the session); a usage error adds the
// hint to --help on a second line.
#pragma once

#include <string_view>

#include "usage_error.h"

namespace orvik_session {

void report_failure(std::string_view text);
void report_usage(const UsageError& error);

// Writes all of `text` to the file descriptor, however often write is cut
// short or interrupted.
void write_out(int fd, std::string_view text);

}  // namespace orvik_session
