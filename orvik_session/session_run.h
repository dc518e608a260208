// One session: connect, log in, run the command, print its answer, log out.
#pragma once

#include "options.h"

namespace orvik_session {

// Returns the exit status (exit_status.h); prints the answer on stdout and a
// failure, and the transcript if asked, on stderr.
int run_session(const Options& options);

}  // namespace orvik_session
