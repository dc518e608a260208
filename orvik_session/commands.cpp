#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "manual.h"
#include "output.h"
#include "print.h"
#include "shell.h"
#include "tunnel.h"

namespace orvik_session {

namespace {

namespace rsc = remote_session_client;
namespace rs = remote_session_client::response;
using E = rsc::RemoteSessionClientError;

// ---------------------------------------------------------------- operands

std::expected<Args, UsageError> no_operands(std::string_view command, std::span<const std::string_view> operands) {
  if (!operands.empty()) {
    return std::unexpected(UsageError{std::string(command) + " takes no arguments, not " + quoted_word(operands[0])});
  }
  return Args{};
}

std::expected<Args, UsageError> get_operands(std::string_view, std::span<const std::string_view> operands) {
  if (operands.size() != 2) return std::unexpected(UsageError{"get takes NAME INTERFACE_ID"});
  if (!is_utf8(operands[0])) {
    return std::unexpected(UsageError{"NAME of get takes UTF-8 text, not " + quoted_word(operands[0])});
  }
  auto id = parse_number(operands[1]);
  if (!id) {
    return std::unexpected(UsageError{"INTERFACE_ID of get is a number (decimal or 0x hex), not " +
                                      quoted_word(operands[1])});
  }
  return command::Get{std::string(operands[0]), *id};
}

std::expected<Args, UsageError> request_operands(std::string_view, std::span<const std::string_view> operands) {
  if (operands.empty()) return std::unexpected(UsageError{"request takes KIND [FIELD=VALUE ...]"});
  auto built = build_request(operands[0], operands.subspan(1));
  if (!built) return std::unexpected(std::move(built.error()));
  return Args{std::move(*built)};
}

std::expected<Args, UsageError> help_operands(std::string_view, std::span<const std::string_view> operands) {
  if (operands.size() > 1) return std::unexpected(UsageError{"help takes at most one COMMAND"});
  if (!operands.empty() && !find_command(operands[0])) {
    return std::unexpected(UsageError{"unknown command " + quoted_word(operands[0])});
  }
  return operands.empty() ? Args{} : Args{command::Help{std::string(operands[0])}};
}

// ---------------------------------------------------------------- handlers

// An answer in the form the options ask for.
void show(Invocation& in, const rsc::ResponseKind& answer) {
  print_out(in.failures, answer_text(answer_tree(answer), in.options.format));
}

// An operation's result, shown as the answer it came in.
template <typename Result, typename Wrap>
void show_result(Invocation& in, rsc::ClientResult<Result> result, Wrap wrap) {
  if (!result) return in.failures.note(result.error());
  show(in, rsc::ResponseKind{wrap(std::move(*result))});
}

void run_methods(Invocation& in) {
  show_result(in, in.session->client().auth_methods(), [](auto r) { return rs::AuthMethods{.methods = std::move(r)}; });
}

void run_info(Invocation& in) {
  show_result(in, in.session->client().session_info(), [](auto r) { return rs::SessionInfo{.summary = std::move(r)}; });
}

void run_motd(Invocation& in) {
  show_result(in, in.session->client().system_motd(), [](auto r) { return rs::SystemMotd{.text = std::move(r)}; });
}

void run_capset(Invocation& in) {
  show_result(in, in.session->client().list_capset(), [](auto r) { return rs::CapsetList{.entries = std::move(r)}; });
}

void run_get(Invocation& in) {
  const auto& get = std::get<command::Get>(in.args);
  show_result(in, in.session->client().get_capset_entry(get.name, get.interface_id),
              [](auto r) { return rs::CapGranted{.entry = std::move(r)}; });
}

// A request sent as it is, under the rule the library's operations apply:
// the answer it is meant to get is the result, a gateway error a refusal,
// anything else an unexpected response.
void run_request(Invocation& in) {
  const auto& request = std::get<command::Request>(in.args);
  auto answered = in.session->client().transact(request.request);
  if (!answered) return in.failures.note(answered.error());
  if (rsc::kind_name(answered->kind) == request.answer) {
    in.session->saw(request.request, answered->kind);
    return show(in, answered->kind);
  }
  if (auto* denied = std::get_if<rs::Error>(&answered->kind)) {
    return in.failures.note(E{E::Remote{std::move(denied->info.code), std::move(denied->info.message)}});
  }
  in.failures.note(E{E::UnexpectedResponse{std::string(rsc::kind_name(answered->kind)),
                                           std::move(answered->request_label)}});
}

std::string milliseconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms);
  return text;
}

// The cheapest exchange there is: the methods listing needs no session.
// Each round trip is printed as it ends, the summary after the last; in
// JSON, one document at the end.
void run_ping(Invocation& in) {
  using Clock = std::chrono::steady_clock;
  const std::string target = in.options.host + ":" + std::to_string(in.options.port);
  std::vector<double> times;
  for (std::uint64_t i = 1; i <= in.options.count; ++i) {
    const auto started = Clock::now();
    auto answered = in.session->client().auth_methods();
    const std::chrono::duration<double, std::milli> took = Clock::now() - started;
    if (!answered) return in.failures.note(answered.error());
    times.push_back(took.count());
    if (in.options.format == Format::Raw) {
      if (!print_out(in.failures, std::to_string(i) + "\t" + milliseconds(took.count()) + "\n")) return;
    } else if (in.options.format == Format::Human) {
      if (!print_out(in.failures, "authMethods from " + shown(target) + ": round trip " + std::to_string(i) +
                                      " time=" + milliseconds(took.count()) + " ms\n")) {
        return;
      }
    }
  }
  const auto [min, max] = std::ranges::minmax(times);
  double sum = 0;
  for (double t : times) sum += t;
  const double avg = sum / static_cast<double>(times.size());
  if (in.options.format == Format::Json) {
    nlohmann::ordered_json document = {{"kind", "ping"}, {"target", target}, {"round_trips_ms", times},
                                       {"min_ms", min}, {"avg_ms", avg}, {"max_ms", max}};
    print_out(in.failures, json_document(document));
  } else if (in.options.format == Format::Human) {
    print_out(in.failures, std::to_string(times.size()) + " round trips, min/avg/max = " + milliseconds(min) + "/" +
                               milliseconds(avg) + "/" + milliseconds(max) + " ms\n");
  }
}

void run_help(Invocation& in) {
  const auto* named = std::get_if<command::Help>(&in.args);
  print_out(in.failures, named ? command_help(*find_command(named->command), {}) : shell_help());
}

void run_quit(Invocation& in) { in.leave = true; }

void run_tunnel_command(Invocation& in) {
  // A tunnel in clear would only add a hop: what it is for is the TLS.
  if (!in.options.tls) return in.failures.note(UsageError{"tunnel needs --tls"});
  if (!std::holds_alternative<std::monostate>(in.options.login)) {
    return in.failures.note(UsageError{"tunnel carries its clients' own logins: give it no login option"});
  }
  in.failures.note_reported(run_tunnel(in.options.tunnel, client_config(in.options)));
}

constexpr std::string_view kRequestHelp =
    "Log in, send one request of any kind the codec builds, and show the decoded\n"
    "answer. Fields are named as in the gateway schema; a field not given is sent\n"
    "as the schema's default. Numbers are decimal or 0x hex; texts must be UTF-8.\n"
    "The logins are the --guest, --anonymous and --user options, not kinds.";

constexpr CommandSpec kCommands[] = {
    {"methods", "", "the gateway's authentication methods (no login)",
     "List the authentication methods the gateway offers. Does not log in.", Needs::Connection, Where::Anywhere,
     no_operands, run_methods},
    {"info", "", "the session, as the gateway sees it", "Log in and show the session as the gateway sees it.",
     Needs::Login, Where::Anywhere, no_operands, run_info},
    {"motd", "", "the system message of the day", "Log in and show the system message of the day.", Needs::Login,
     Where::Anywhere, no_operands, run_motd},
    {"capset", "", "the capabilities in the session's CapSet",
     "Log in and list the capabilities forwarded into the session's CapSet.", Needs::Login, Where::Anywhere,
     no_operands, run_capset},
    {"get", "NAME INTERFACE_ID", "one CapSet entry, stating its interface id",
     "Log in and fetch one CapSet entry by name, stating the Cap'n Proto interface id\n"
     "expected for it (decimal or 0x hex); the gateway refuses a mismatch.",
     Needs::Login, Where::Anywhere, get_operands, run_get, Operand::CapsetName},
    {"request", "KIND [FIELD=VALUE ...]", "any request the codec builds, and its decoded answer", kRequestHelp,
     Needs::Login, Where::Anywhere, request_operands, run_request, Operand::RequestKind},
    {"ping", "", "round trips of the methods listing, timed (no login)",
     "Connect, then time --count round trips of the cheapest request, the methods\n"
     "listing, which needs no login: each as it ends, then min/avg/max.",
     Needs::Connection, Where::Anywhere, no_operands, run_ping},
    {"shell", "", "one login, then a prompt for many commands",
     "Log in once and run every command given on that one session. At a terminal:\n"
     "a prompt with line editing, history and Tab completion of commands and CapSet\n"
     "names; Ctrl-C drops the line, Ctrl-D (or quit) logs out and leaves. Fed from a\n"
     "pipe or a file: one command a line, no prompt, stopping at the first failure\n"
     "with its status (--keep-going goes on). Also what orvik-session without a\n"
     "command does on a terminal.",
     Needs::Login, Where::CommandLine, no_operands, run_shell},
    {"tunnel", "", "carry plain-TCP clients to the gateway over TLS (no login)",
     "Listen on --listen (127.0.0.1 unless told otherwise) and carry each plain-TCP\n"
     "client that connects to the gateway over TLS, so that a program without TLS\n"
     "(the Python module among them) reaches a gateway that requires it. Prints the\n"
     "port it listens on, one line on stdout. With --once it connects to the gateway\n"
     "first, accepts one client, stops listening, and exits when that client leaves;\n"
     "else it serves each client in a process of its own until SIGINT or SIGTERM.",
     Needs::Nothing, Where::CommandLine, no_operands, run_tunnel_command},
    {"help", "[COMMAND]", "the shell's commands, or one command's help", "Show the shell's commands, or one's help.",
     Needs::Nothing, Where::Shell, help_operands, run_help},
    {"quit", "", "log out and leave the shell", "Log out and leave the shell.", Needs::Nothing, Where::Shell,
     no_operands, run_quit},
};

UsageError needs_login(std::string_view command) {
  return UsageError{std::string(command) + " logs in first: give --guest, --anonymous or --user NAME"};
}

std::string command_names(Where where) {
  std::string out;
  for (const CommandSpec& spec : kCommands) {
    if (!usable(spec, where)) continue;
    if (!out.empty()) out += ", ";
    out += spec.name;
  }
  return out;
}

// The command named and its operands, checked, or what is wrong.
std::expected<std::pair<const CommandSpec*, Args>, UsageError> checked(const Words& words, Where where) {
  const CommandSpec* spec = find_command(*words.command);
  if (!spec || !usable(*spec, where)) {
    return std::unexpected(UsageError{"unknown command " + quoted_word(*words.command) + "; the commands are: " +
                                      command_names(where)});
  }
  auto args = spec->parse(spec->name, words.operands);
  if (!args) return std::unexpected(std::move(args.error()));
  if (spec->needs == Needs::Login && std::holds_alternative<std::monostate>(words.options.login) &&
      where == Where::CommandLine) {
    return std::unexpected(needs_login(spec->name));
  }
  return std::pair{spec, std::move(*args)};
}

// The text asked for instead of a command, if any.
std::optional<std::string> shown_instead(const Words& words) {
  const Options& o = words.options;
  if (o.version) return version_text();
  if (o.manual) return manual_page();
  if (o.completion) return completion_script(*o.completion);
  if (!o.help) return std::nullopt;
  if (!words.command) return program_help();
  const CommandSpec* spec = find_command(*words.command);
  return spec ? std::optional(command_help(*spec, words.operands)) : std::nullopt;
}

}  // namespace

std::span<const CommandSpec> command_table() { return kCommands; }

const CommandSpec* find_command(std::string_view name) {
  const auto* found = std::ranges::find(kCommands, name, &CommandSpec::name);
  return found == std::end(kCommands) ? nullptr : found;
}

bool print_out(Failures& failures, std::string_view text) {
  if (auto wrote = write_all(STDOUT_FILENO, text); !wrote) {
    failures.note_lost_output(wrote.error());
    return false;
  }
  return true;
}

int run_command_line(const Words& given) {
  Failures failures;
  if (auto text = shown_instead(given)) {
    print_out(failures, *text);
    return failures.report();
  }
  Words words = given;
  if (!words.command) {
    if (!::isatty(STDIN_FILENO)) {
      failures.note(UsageError{"no command given; the commands are: " + command_names(Where::CommandLine)});
      return failures.report();
    }
    words.command = "shell";
  }
  auto found = checked(words, Where::CommandLine);
  if (!found) {
    failures.note(found.error());
    return failures.report();
  }
  const auto& [spec, args] = *found;
  Invocation invocation{words.options, args, nullptr, failures};
  if (spec->needs == Needs::Nothing) {
    spec->run(invocation);
    return failures.report();
  }
  auto session = Session::open(words.options, spec->needs == Needs::Login, failures);
  if (!session) {
    return failures.report(words.options.transcript ? transcript_text(session.error()) : "");
  }
  invocation.session = &*session;
  spec->run(invocation);
  session->close(failures);
  // The failure comes after the transcript, so that it is the last thing on
  // the screen.
  return failures.report(words.options.transcript ? transcript_text(session->transcript()) : "");
}

bool run_in_shell(const Words& words, Session& session, Failures& failures) {
  if (auto text = shown_instead(words)) {
    print_out(failures, *text);
    return true;
  }
  if (!words.command) return true;
  auto found = checked(words, Where::Shell);
  if (!found) {
    failures.note(found.error());
    return true;
  }
  const auto& [spec, args] = *found;
  Invocation invocation{words.options, args, &session, failures};
  spec->run(invocation);
  return !invocation.leave;
}

}  // namespace orvik_session
