#include "help.h"

#include <algorithm>

#include "request_builders.h"

namespace orvik_session {

namespace {

constexpr std::string_view kExitStatuses =
    "exit status:\n"
    "  0  success\n"
    "  2  usage: a command line that cannot be acted on, or no password to be had\n"
    "  3  could not connect to the gateway\n"
    "  4  the gateway refused (its error answer, shown as the library reports it)\n"
    "  5  a protocol or frame failure: I/O, framing, decoding, or an answer of the wrong kind\n";

struct CommandHelp {
  std::string_view name;
  std::string_view synopsis;
  std::string_view summary;  // for the program's --help
  std::string_view text;     // for the command's own
};

constexpr CommandHelp kCommands[] = {
    {"methods", "methods", "the gateway's authentication methods (no login)", "List the authentication methods the gateway offers. Does not log in."},
    {"info", "info", "the session, as the gateway sees it", "Log in and show the session as the gateway sees it."},
    {"motd", "motd", "the system message of the day", "Log in and show the system message of the day."},
    {"capset", "capset", "the capabilities in the session's CapSet", "Log in and list the capabilities forwarded into the session's CapSet."},
    {"get", "get NAME INTERFACE_ID", "one CapSet entry, stating its interface id",
     "Log in and fetch one CapSet entry by name, stating the Cap'n Proto interface id\n"
     "expected for it (decimal or 0x hex); the gateway refuses a mismatch."},
    {"request", "request KIND [FIELD=VALUE ...]", "any request the codec builds, and its decoded answer",
     "Log in, send one request of any kind the codec builds, and show the decoded\n"
     "answer. Fields are named as in the gateway schema; a field not given is sent\n"
     "as the schema's default. Numbers are decimal or 0x hex. The logins are the\n"
     "--guest, --anonymous and --user options, not kinds."},
};

std::string kind_line(const RequestKindSpec& spec) {
  std::string line = "  " + std::string(spec.kind);
  for (const RequestFieldSpec& field : spec.fields) {
    if (!field.name.empty()) line += " " + std::string(field.name) + "=";
  }
  return line + "\n";
}

std::string kind_help(const RequestKindSpec& spec) {
  std::string out = "usage: orvik-session [OPTIONS] request " + std::string(spec.kind);
  for (const RequestFieldSpec& field : spec.fields) {
    if (!field.name.empty()) out += " [" + std::string(field.name) + "=VALUE]";
  }
  out += "\n\nanswered by: " + std::string(spec.answer) + "\n";
  bool any = false;
  for (const RequestFieldSpec& field : spec.fields) {
    if (field.name.empty()) continue;
    if (!any) out += "fields:\n";
    any = true;
    out += "  " + std::string(field.name) + ": " + std::string(describe(field.type)) + "\n";
  }
  return out;
}

}  // namespace

std::string program_help() {
  std::string out =
      "usage: orvik-session [OPTIONS] COMMAND [ARGUMENTS]\n"
      "\n"
      "An operator's client of the orvik remote session gateway: one connection, one\n"
      "login, one command, one logout.\n"
      "\n"
      "commands:\n";
  for (const CommandHelp& c : kCommands) {
    std::string line = "  " + std::string(c.synopsis);
    line.append(line.size() < 34 ? 34 - line.size() : 1, ' ');
    out += line + std::string(c.summary) + "\n";
  }
  out +=
      "\n"
      "connection:\n"
      "  --host H                  the gateway's host name or address (default 127.0.0.1)\n"
      "  --port P                  the gateway's TCP port (default 2327)\n"
      "  --connect-deadline-ms N   give up connecting after N ms, retries included (default 10000)\n"
      "  --io-timeout-ms N         bound each connection try and every read and write (default 60000)\n"
      "login (every command but methods logs in first, and logs out before it exits):\n"
      "  --guest | --anonymous | --user NAME\n"
      "  --password-file F         the password of --user, read from F ('-': standard input);\n"
      "                            without it ORVIK_PASSWORD, else a prompt on the terminal.\n"
      "                            Never on the command line.\n"
      "  --profile P               the profile to request (default operator)\n"
      "output:\n"
      "  --json                    the answer as one JSON document on stdout\n"
      "  --transcript              the session's transcript, secrets redacted, on stderr\n"
      "  --help                    this text; COMMAND --help for one command\n"
      "  --version                 the version\n"
      "\n";
  out += kExitStatuses;
  return out;
}

std::optional<std::string> command_help(std::string_view command, std::span<const std::string_view> operands) {
  const auto* found = std::ranges::find(kCommands, command, &CommandHelp::name);
  if (found == std::end(kCommands)) return std::nullopt;
  if (command == "request" && !operands.empty()) {
    const auto kinds = request_kinds();
    const auto spec = std::ranges::find(kinds, operands.front(), &RequestKindSpec::kind);
    if (spec != kinds.end()) return kind_help(*spec);
  }
  std::string out = "usage: orvik-session [OPTIONS] " + std::string(found->synopsis) + "\n\n" +
                    std::string(found->text) + "\n";
  if (command == "request") {
    out += "\nkinds and their fields (request KIND --help for one):\n";
    for (const RequestKindSpec& spec : request_kinds()) out += kind_line(spec);
  }
  out += "\nSee orvik-session --help for the options.\n\n";
  out += kExitStatuses;
  return out;
}

std::string version_text() { return "orvik-session " ORVIK_SESSION_VERSION "\n"; }

}  // namespace orvik_session
