// The --help texts of the program and of each command, and --version.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvik_session {

std::string program_help();

// The help of `command`, or nothing if there is no such command. For
// `request`, a KIND among `operands` narrows it to that kind.
std::optional<std::string> command_help(std::string_view command, std::span<const std::string_view> operands);

std::string version_text();

}  // namespace orvik_session
