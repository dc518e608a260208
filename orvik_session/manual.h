// Everything that describes the tool, drawn from the option and command
// tables and the exit statuses: the --help texts, --version, the shell's
// help, the manual page and the bash and zsh completion scripts. None of them
// can drift from what is parsed.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "commands.h"

namespace orvik_session {

std::string program_help();

// The help of one command. For `request`, a KIND among `operands` narrows it
// to that kind.
std::string command_help(const CommandSpec& command, std::span<const std::string_view> operands);

// The shell's `help`: its commands and the options a line may carry.
std::string shell_help();

std::string version_text();

// roff, for man(1).
std::string manual_page();

// `shell` is "bash" or "zsh".
std::string completion_script(std::string_view shell);

// Where the shell keeps its history: $XDG_STATE_HOME/orvik/session_history,
// else ~/.local/state/orvik/session_history. Said here, in the manual.
inline constexpr std::string_view kHistoryFile = "orvik/session_history";

}  // namespace orvik_session
