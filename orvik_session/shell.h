// The shell: many commands on one login. At a terminal, a prompt with line
// editing (libedit, where the build has it), history in a file and Tab
// completion of commands, options, request kinds and CapSet names; Ctrl-C
// drops the line, Ctrl-D or quit logs out and leaves. Fed from a pipe or a
// file, one command a line and no prompt, stopping at the first failure with
// its status unless --keep-going.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"

namespace orvik_session {

// The handler of `shell`, on the session the command line opened.
void run_shell(Invocation& invocation);

// A line's words: blanks separate them; '...' quotes literally, "..." quotes
// with \" and \\ inside, and a backslash outside quotes takes the next
// character as it is. A line whose first word starts with '#' is a comment:
// no words.
std::expected<std::vector<std::string>, UsageError> split_line(std::string_view line);

}  // namespace orvik_session
