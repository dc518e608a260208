// The commands: one table, one row per command, from which the parser, the
// --help texts, the shell's `help` and Tab, the completions and the manual
// are all drawn. A new command is one row of kCommands (commands.cpp) and
// its handler, a function.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "exit_status.h"
#include "options.h"
#include "requests.h"
#include "session.h"

namespace orvik_session {

namespace command {
struct Get {
  std::string name;
  std::uint64_t interface_id = 0;
};
struct Help {
  std::string command;
};
}  // namespace command

// A command's operands, checked before anything is done.
using Args = std::variant<std::monostate, command::Get, command::Request, command::Help>;

// What a command needs before its handler runs.
enum class Needs {
  Nothing,     // the handler connects, if at all, itself
  Connection,  // a connection, no login
  Login,       // a connection and the login of the options
};

// Where a command can be given.
enum class Where { Anywhere, CommandLine, Shell };

// What an operand completes to on Tab.
enum class Operand { Nothing, CapsetName, RequestKind };

// What a handler gets: the options, its operands, the session its Needs
// asked for (nullptr for Needs::Nothing) and where its failures go.
struct Invocation {
  const Options& options;
  const Args& args;
  Session* session;
  Failures& failures;
  bool leave = false;  // set by the shell's quit
};

using Handler = void (*)(Invocation& invocation);
using ParseOperands = std::expected<Args, UsageError> (*)(std::string_view command,
                                                          std::span<const std::string_view> operands);

struct CommandSpec {
  std::string_view name;
  std::string_view operands;  // the synopsis after the name: "NAME INTERFACE_ID"
  std::string_view summary;   // one line, for the lists of commands
  std::string_view help;      // the command's own --help
  Needs needs;
  Where where;
  ParseOperands parse;
  Handler run;
  Operand completes = Operand::Nothing;
};

std::span<const CommandSpec> command_table();
const CommandSpec* find_command(std::string_view name);

// Writes `text` to stdout; a failed write is noted (kExitOutput) and false.
bool print_out(Failures& failures, std::string_view text);

// A command line, run: the command named by `words` (or the shell, when
// there is none and standard input is a terminal), its session opened as
// its row says and closed by the logout rule. Returns the exit status.
int run_command_line(const Words& words);

// One command of the shell, on its session: its failure is noted, not
// reported. Returns false when the shell is to be left (quit).
bool run_in_shell(const Words& words, Session& session, Failures& failures);

}  // namespace orvik_session
