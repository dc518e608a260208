// The options: one table, one row per option, from which the parser, the
// --help text, the shell completions and the manual are all drawn. A new
// option is one row of kOptions (options.cpp) and, if it sets something new,
// one member of Options.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "exit_status.h"
#include "remote_session_client/config.h"
#include "tunnel.h"

namespace orvik_session {

namespace login {
struct Guest {};
struct Anonymous {};
// The password is not part of the options: it is read when it is needed,
// from --password-file, ORVIK_PASSWORD or the terminal.
struct User { std::string name; };
}  // namespace login

using Login = std::variant<std::monostate, login::Guest, login::Anonymous, login::User>;

enum class Format { Human, Json, Raw };

struct Options {
  Options();  // the defaults: the library's ClientConfig, and ours below

  std::string host;
  std::uint16_t port;
  std::uint64_t connect_deadline_ms;
  std::uint64_t io_timeout_ms;
  std::uint64_t connect_retry_interval_ms;
  // --tls, and what the TLS options set (applied only with --tls).
  bool tls = false;
  remote_session_client::TlsConfig tls_files;
  Login login;
  std::optional<std::string> password_file;
  std::string profile = "operator";
  Format format = Format::Human;
  bool transcript = false;
  bool keep_going = false;
  std::uint64_t count = 5;  // ping's round trips
  TunnelOptions tunnel;     // the tunnel's --listen and --once

  // Instead of a command: a text to print.
  bool help = false;
  bool version = false;
  bool manual = false;
  std::optional<std::string> completion;  // the shell named
};

// Where an option may be given: for the whole session (on the command line
// only), or for each command (also on a line of the shell).
enum class Scope { Session, Command };

// The help's sections, in the order they are printed.
enum class Group { Connection, Tls, Login, Output, Commands, Program };

// What the value of an option completes to on Tab.
enum class Completes { Nothing, File, Host, Shell };

using Apply = std::expected<void, UsageError> (*)(Options& options, std::string_view value);

struct OptionSpec {
  std::string_view name;      // without the leading "--"
  char short_name;            // 0: none
  std::string_view value;     // the value's name in the help, "" for a flag
  std::string_view variable;  // the environment variable read when the option is not given
  Group group;
  Scope scope;
  std::string_view help;
  Apply apply;
  // The default shown in the help, or nullptr when it is not worth saying.
  std::string (*default_text)(const Options& defaults) = nullptr;
  Completes completes = Completes::Nothing;
  // Options of one set exclude each other (the login options): set > 0.
  int exclusive_set = 0;
};

std::span<const OptionSpec> option_table();

// The library's configuration for these options.
remote_session_client::ClientConfig client_config(const Options& options);
std::string_view group_title(Group group);

// A command line's words, options applied: the command and its operands.
struct Words {
  Options options;
  std::optional<std::string_view> command;
  std::vector<std::string_view> operands;
};

// Reads the environment variable of an option; nullptr if it is not set.
using Environment = std::function<const char*(std::string_view name)>;

// Options anywhere (before or after the command), long as "--name value" or
// "--name=value", short as "-x value", "-xvalue" or flags bundled ("-kV");
// "--" ends them; the first other word is the command, the rest its
// operands. Each option not given whose row names a variable takes it from
// `environment`; a login option given excludes ORVIK_USER.
std::expected<Words, UsageError> parse_command_line(std::span<const std::string_view> args,
                                                    const Environment& environment);

// One line of the shell: the session's options as the base, and only the
// options of Scope::Command.
std::expected<Words, UsageError> parse_shell_line(std::span<const std::string_view> args, const Options& base);

// Numbers on the command line: plain decimal, or hexadecimal after "0x". The
// whole text as an unsigned number no larger than `max`; nothing else (no
// sign, no spaces, no suffix) is accepted.
std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t max = UINT64_MAX);

// Whether `text` is well-formed UTF-8: a field the gateway reads as Text
// must be, or it drops the connection.
bool is_utf8(std::string_view text);

// "'text'", made terminal-safe, for naming a word in a usage error.
std::string quoted_word(std::string_view text);

}  // namespace orvik_session
