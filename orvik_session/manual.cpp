#include "manual.h"

#include <algorithm>

namespace orvik_session {

namespace {

constexpr std::string_view kProgram = "orvik-session";
constexpr std::size_t kWidth = 80;
constexpr std::size_t kOptionColumn = 32;
constexpr std::size_t kCommandColumn = 34;

constexpr std::string_view kDescription =
    "An operator's client of the orvik remote session gateway: one connection, one\n"
    "login, one command, one logout; or, with shell, many commands on one login.";

constexpr Group kGroups[] = {Group::Connection, Group::Tls, Group::Login, Group::Output, Group::Commands, Group::Program};

// `text` broken into lines of at most kWidth columns, the first continuing
// a line already `column` wide, the others indented to `indent`.
std::string wrapped(std::string_view text, std::size_t column, std::size_t indent) {
  std::string out;
  bool first = true;
  while (!text.empty()) {
    const auto end = text.find(' ');
    const std::string_view word = text.substr(0, end);
    if (!first && column + 1 + word.size() > kWidth) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
    } else if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    first = false;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return out;
}

std::string padded(std::string text, std::size_t column) {
  text.append(text.size() + 1 < column ? column - text.size() : 1, ' ');
  return text;
}

// "-h, --host HOST" or "    --json".
std::string option_synopsis(const OptionSpec& o) {
  std::string out = o.short_name ? std::string("-") + o.short_name + ", " : "    ";
  out += "--" + std::string(o.name);
  if (!o.value.empty()) out += " " + std::string(o.value);
  return out;
}

// The help, and in parentheses the default and the variable.
std::string option_text(const OptionSpec& o) {
  std::string text(o.help);
  std::string notes;
  if (o.default_text) notes = "default " + o.default_text(Options{});
  if (!o.variable.empty()) notes += (notes.empty() ? "" : "; ") + std::string("else $") + std::string(o.variable);
  return notes.empty() ? text : text + " (" + notes + ")";
}

std::string options_help(Scope scope) {
  std::string out;
  for (Group group : kGroups) {
    std::string lines;
    for (const OptionSpec& o : option_table()) {
      if (o.group != group || (scope == Scope::Command && o.scope != Scope::Command)) continue;
      const std::string left = padded("  " + option_synopsis(o), kOptionColumn);
      lines += left + wrapped(option_text(o), left.size(), kOptionColumn) + "\n";
    }
    if (!lines.empty()) out += std::string(group_title(group)) + ":\n" + lines;
  }
  return out;
}

std::string command_synopsis(const CommandSpec& c) {
  return c.operands.empty() ? std::string(c.name) : std::string(c.name) + " " + std::string(c.operands);
}

std::string commands_help(Where where) {
  std::string out;
  for (const CommandSpec& c : command_table()) {
    if (!usable(c, where)) continue;
    out += padded("  " + command_synopsis(c), kCommandColumn) + std::string(c.summary) + "\n";
  }
  return out;
}

std::string exit_status_help() {
  std::string out = "exit status:\n";
  for (const ExitStatusSpec& s : exit_statuses()) {
    out += "  " + std::to_string(s.status) + "  " + std::string(s.meaning) + "\n";
  }
  return out;
}

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

// ---------------------------------------------------------------- roff

// Text for roff: backslashes and hyphens escaped, and no line starting with
// a control character.
std::string roff(std::string_view text) {
  std::string out;
  bool line_start = true;
  for (char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
    line_start = c == '\n';
  }
  return out;
}

// ---------------------------------------------------------------- shells

template <typename Items, typename Name>
std::string joined(const Items& items, Name name, std::string_view separator = " ") {
  std::string out;
  for (const auto& item : items) {
    const std::string word = name(item);
    if (word.empty()) continue;
    if (!out.empty()) out += separator;
    out += word;
  }
  return out;
}

std::string spellings(const OptionSpec& o, std::string_view separator) {
  std::string out = "--" + std::string(o.name);
  if (o.short_name) out += std::string(separator) + "-" + o.short_name;
  return out;
}

std::string shell_commands() {
  return joined(command_table(), [](const CommandSpec& c) {
    return usable(c, Where::CommandLine) ? std::string(c.name) : std::string();
  });
}

std::string request_kind_names() {
  return joined(request_kinds(), [](const RequestKindSpec& k) { return std::string(k.kind); });
}

std::string bash_script() {
  std::string values;   // the options that take a value, as a case pattern
  std::string by_kind;  // the fields of each request kind, as case arms
  std::string value_cases;
  for (const OptionSpec& o : option_table()) {
    if (o.value.empty()) continue;
    values += (values.empty() ? "" : "|") + spellings(o, "|");
    if (o.completes == Completes::File) value_cases += "    " + spellings(o, "|") + ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
    if (o.completes == Completes::Host) value_cases += "    " + spellings(o, "|") + ") COMPREPLY=($(compgen -A hostname -- \"$cur\")); return ;;\n";
    if (o.completes == Completes::Shell) value_cases += "    " + spellings(o, "|") + ") COMPREPLY=($(compgen -W \"bash zsh\" -- \"$cur\")); return ;;\n";
  }
  for (const RequestKindSpec& k : request_kinds()) {
    const std::string fields = joined(k.fields, [](const RequestFieldSpec& f) {
      return f.name.empty() ? std::string() : std::string(f.name) + "=";
    });
    if (!fields.empty()) by_kind += "      " + std::string(k.kind) + ") fields=\"" + fields + "\" ;;\n";
  }
  const std::string options = joined(option_table(), [](const OptionSpec& o) { return spellings(o, " "); });
  return "# bash completion for orvik-session (orvik-session --completion bash)\n"
         "_orvik_session() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
         "  case $prev in\n" + value_cases +
         "    " + values + ") return ;;\n"
         "  esac\n"
         "  if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W \"" + options + "\" -- \"$cur\")); return; fi\n"
         "  # The words that are not options or their values: the command, then its operands.\n"
         "  local i word operands=()\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    word=${COMP_WORDS[i]}\n"
         "    case $word in\n"
         "      " + values + ") ((i++)) ;;\n"
         "      -*) ;;\n"
         "      *) operands+=(\"$word\") ;;\n"
         "    esac\n"
         "  done\n"
         "  if ((${#operands[@]} == 0)); then COMPREPLY=($(compgen -W \"" + shell_commands() + "\" -- \"$cur\")); return; fi\n"
         "  if [[ ${operands[0]} == request ]]; then\n"
         "    if ((${#operands[@]} == 1)); then COMPREPLY=($(compgen -W \"" + request_kind_names() + "\" -- \"$cur\")); return; fi\n"
         "    local fields=\n"
         "    case ${operands[1]} in\n" + by_kind +
         "    esac\n"
         "    compopt -o nospace 2>/dev/null\n"
         "    COMPREPLY=($(compgen -W \"$fields\" -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "complete -F _orvik_session orvik-session\n";
}

// A text inside single quotes and zsh's [description].
std::string zsh_quoted(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else if (c == '[' || c == ']' || c == ':') {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out;
}

std::string zsh_script() {
  std::string specs;
  for (const OptionSpec& o : option_table()) {
    std::string exclusion;
    if (o.exclusive_set != 0) {
      for (const OptionSpec& other : option_table()) {
        if (other.exclusive_set == o.exclusive_set) exclusion += (exclusion.empty() ? "" : " ") + spellings(other, " ");
      }
    } else if (o.short_name) {
      exclusion = spellings(o, " ");
    }
    const std::string action = o.value.empty() ? ""
                               : o.completes == Completes::File  ? ":" + std::string(o.value) + ":_files"
                               : o.completes == Completes::Host  ? ":" + std::string(o.value) + ":_hosts"
                               : o.completes == Completes::Shell ? ":" + std::string(o.value) + ":(bash zsh)"
                                                                 : ":" + std::string(o.value) + ": ";
    const std::string description = "[" + zsh_quoted(o.help) + "]" + action;
    const std::string prefix = exclusion.empty() ? "" : "(" + exclusion + ")";
    if (o.short_name) {
      // Each spelling quoted: -? would otherwise be a glob.
      specs += "    '" + prefix + "'{'-" + std::string(1, o.short_name) + (o.value.empty() ? "" : "+") + "','--" +
               std::string(o.name) + (o.value.empty() ? "" : "=") + "'}'" + description + "' \\\n";
    } else {
      specs += "    '" + prefix + "--" + std::string(o.name) + (o.value.empty() ? "" : "=") + description + "' \\\n";
    }
  }
  std::string commands;
  for (const CommandSpec& c : command_table()) {
    if (!usable(c, Where::CommandLine)) continue;
    commands += "    '" + std::string(c.name) + ":" + zsh_quoted(c.summary) + "'\n";
  }
  return "#compdef orvik-session\n"
         "# zsh completion for orvik-session (orvik-session --completion zsh)\n"
         "_orvik_session() {\n"
         "  local curcontext=$curcontext state line\n"
         "  local -a commands=(\n" + commands + "  )\n"
         "  _arguments -s -S \\\n" + specs +
         "    '1:command:->command' \\\n"
         "    '*::operand:->operand'\n"
         "  case $state in\n"
         "    command) _describe -t commands command commands ;;\n"
         "    operand) [[ $words[1] == request && CURRENT -eq 2 ]] && _values kind " + request_kind_names() + " ;;\n"
         "  esac\n"
         "}\n"
         "_orvik_session \"$@\"\n";
}

}  // namespace

std::string program_help() {
  return "usage: orvik-session [OPTIONS] [COMMAND [ARGUMENTS]]\n\n" + std::string(kDescription) +
         "\nWithout a command, on a terminal: the shell.\n\ncommands:\n" + commands_help(Where::CommandLine) + "\n" +
         options_help(Scope::Session) + "\n" + exit_status_help();
}

std::string command_help(const CommandSpec& command, std::span<const std::string_view> operands) {
  if (command.name == "request" && !operands.empty()) {
    const auto kinds = request_kinds();
    const auto spec = std::ranges::find(kinds, operands.front(), &RequestKindSpec::kind);
    if (spec != kinds.end()) return kind_help(*spec);
  }
  std::string out = "usage: orvik-session [OPTIONS] " + command_synopsis(command) + "\n\n" +
                    std::string(command.help) + "\n";
  if (command.name == "request") {
    out += "\nkinds and their fields (request KIND --help for one):\n";
    for (const RequestKindSpec& spec : request_kinds()) out += kind_line(spec);
  }
  out += "\nSee orvik-session --help for the options.\n\n";
  return out + exit_status_help();
}

std::string shell_help() {
  return "commands:\n" + commands_help(Where::Shell) + "\na line may also carry:\n" + options_help(Scope::Command);
}

std::string version_text() { return "orvik-session " ORVIK_SESSION_VERSION "\n"; }

std::string manual_page() {
  std::string out = ".TH ORVIK\\-SESSION 1 \"\" \"orvik-session " ORVIK_SESSION_VERSION "\" \"User Commands\"\n"
                    ".SH NAME\norvik\\-session \\- an operator's client of the orvik remote session gateway\n"
                    ".SH SYNOPSIS\n.B orvik\\-session\n[\\fIOPTIONS\\fR] [\\fICOMMAND\\fR [\\fIARGUMENTS\\fR]]\n"
                    ".SH DESCRIPTION\n" + roff(kDescription) + "\nWithout a command, on a terminal, it starts the shell.\n"
                    ".SH COMMANDS\n";
  for (const CommandSpec& c : command_table()) {
    out += ".TP\n.B " + roff(c.name) + (c.operands.empty() ? "" : " \\fI" + roff(c.operands) + "\\fR") + "\n";
    out += roff(c.help) + (c.where == Where::Shell ? " In the shell only." : "") + "\n";
  }
  out += ".SH OPTIONS\n";
  for (Group group : kGroups) {
    out += ".SS " + roff(group_title(group)) + "\n";
    for (const OptionSpec& o : option_table()) {
      if (o.group != group) continue;
      out += ".TP\n.B " + roff(option_synopsis(o).substr(o.short_name ? 0 : 4)) + "\n" + roff(option_text(o)) + "\n";
    }
  }
  out += ".SH REQUEST KINDS\nThe kinds of \\fBrequest\\fR and their fields:\n.nf\n";
  for (const RequestKindSpec& spec : request_kinds()) out += roff(kind_line(spec));
  out += ".fi\n.SH ENVIRONMENT\n";
  for (const OptionSpec& o : option_table()) {
    if (!o.variable.empty()) out += ".TP\n.B " + roff(o.variable) + "\nas \\fB\\-\\-" + roff(o.name) + "\\fR, which wins over it\n";
  }
  out += ".TP\n.B ORVIK_PASSWORD\nthe password of \\fB\\-\\-user\\fR without \\fB\\-\\-password\\-file\\fR; "
         "taken once and wiped from the environment\n"
         ".TP\n.B XDG_STATE_HOME\nwhere the shell's history is kept (default ~/.local/state)\n"
         ".SH FILES\n.TP\n.I $XDG_STATE_HOME/" + roff(kHistoryFile) + "\nthe shell's history, one line a command\n"
         ".SH EXIT STATUS\n";
  for (const ExitStatusSpec& s : exit_statuses()) {
    out += ".TP\n.B " + std::to_string(s.status) + "\n" + roff(s.meaning) + "\n";
  }
  return out;
}

std::string completion_script(std::string_view shell) { return shell == "zsh" ? zsh_script() : bash_script(); }

}  // namespace orvik_session
