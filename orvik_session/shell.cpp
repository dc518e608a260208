#include "shell.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>

#include "manual.h"
#include "output.h"
#include "print.h"

#ifdef ORVIK_SESSION_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace orvik_session {

namespace {

constexpr std::string_view kPrompt = "orvik> ";

// Set by SIGINT while the shell waits for a line at the terminal: the line
// is dropped, the shell goes on.
volatile sig_atomic_t interrupted = 0;

extern "C" void note_interrupt(int) { interrupted = 1; }

// Ctrl-C interrupts the wait for a line instead of ending the program, for
// the lifetime of this object: the wait for a line at the terminal. During
// a command it ends the program as anywhere else.
class InterruptDropsLine {
 public:
  InterruptDropsLine() {
    struct sigaction action {};
    action.sa_handler = note_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the terminal's read returns EINTR
    ::sigaction(SIGINT, &action, &previous_);
  }
  InterruptDropsLine(const InterruptDropsLine&) = delete;
  InterruptDropsLine& operator=(const InterruptDropsLine&) = delete;
  ~InterruptDropsLine() { ::sigaction(SIGINT, &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

// $XDG_STATE_HOME/orvik/session_history, else under ~/.local/state; its
// directories made (private) as needed. Empty when there is no home.
std::string history_path() {
  std::string base;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/state";
  } else {
    return {};
  }
  const std::string path = base + "/" + std::string(kHistoryFile);
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return {};
  }
  return path;
}

// The words of a line up to the cursor, split on blanks alone: enough to
// know where Tab was pressed.
std::vector<std::string_view> words_before(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    const auto start = line.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) break;
    const auto end = line.find_first_of(" \t", start);
    words.push_back(line.substr(start, end == std::string_view::npos ? line.npos : end - start));
    at = end == std::string_view::npos ? line.size() : end;
  }
  return words;
}

// What Tab offers after `before` (the complete words before the one being
// typed): commands first, then the operands the command's row names.
std::vector<std::string> candidates(std::span<const std::string_view> before, std::string_view typed,
                                    Session& session, std::optional<std::vector<std::string>>& capset_names) {
  std::vector<std::string> out;
  if (typed.starts_with("-")) {
    for (const OptionSpec& o : option_table()) {
      if (o.scope == Scope::Command) out.push_back("--" + std::string(o.name));
    }
    return out;
  }
  std::vector<std::string_view> words;
  for (std::string_view w : before) {
    if (!w.starts_with("-")) words.push_back(w);
  }
  if (words.empty()) {
    for (const CommandSpec& c : command_table()) {
      if (c.where != Where::CommandLine) out.emplace_back(c.name);
    }
    return out;
  }
  const CommandSpec* command = find_command(words.front());
  if (!command) return out;
  const std::size_t operand = words.size() - 1;
  if (command->completes == Operand::CapsetName && operand == 0) {
    // Asked of the gateway once, at the first Tab that needs them.
    if (!capset_names) {
      capset_names.emplace();
      if (auto listed = session.client().list_capset()) {
        for (const auto& entry : *listed) capset_names->push_back(entry.name);
      }
    }
    return *capset_names;
  }
  if (command->completes == Operand::RequestKind) {
    for (const RequestKindSpec& kind : request_kinds()) {
      if (operand == 0) {
        out.emplace_back(kind.kind);
      } else if (kind.kind == words[1]) {
        for (const RequestFieldSpec& field : kind.fields) {
          if (!field.name.empty()) out.push_back(std::string(field.name) + "=");
        }
      }
    }
  }
  return out;
}

// Where lines come from: the terminal, edited, or a pipe or file, plain.
class LineSource {
 public:
  explicit LineSource(Session& session) : interactive_(::isatty(STDIN_FILENO) != 0), session_(session) {
#ifdef ORVIK_SESSION_HAVE_LIBEDIT
    if (!interactive_) return;
    current = this;
    rl_readline_name = "orvik-session";
    rl_attempted_completion_function = complete;
    using_history();
    stifle_history(1000);
    history_ = history_path();
    if (!history_.empty()) read_history(history_.c_str());
#endif
  }
  LineSource(const LineSource&) = delete;
  LineSource& operator=(const LineSource&) = delete;
  ~LineSource() {
#ifdef ORVIK_SESSION_HAVE_LIBEDIT
    if (interactive_) current = nullptr;
#endif
  }

  bool interactive() const { return interactive_; }

  // The next line; nothing at the end of input. An interrupted line comes
  // back empty.
  std::optional<std::string> next() {
    if (!interactive_) {
      std::string line;
      if (!std::getline(std::cin, line)) return std::nullopt;
      return line;
    }
    interrupted = 0;
    InterruptDropsLine interrupt_drops_line;
#ifdef ORVIK_SESSION_HAVE_LIBEDIT
    char* read = readline(std::string(kPrompt).c_str());
    if (read == nullptr) {
      if (!interrupted) return std::nullopt;
      (void)write_all(STDOUT_FILENO, "\n");
      return std::string();
    }
    std::string line(read);
    std::free(read);
    if (line.find_first_not_of(" \t") != std::string::npos) {
      add_history(line.c_str());
      if (!history_.empty()) write_history(history_.c_str());
    }
    return line;
#else
    (void)write_all(STDOUT_FILENO, kPrompt);
    std::string line;
    if (std::getline(std::cin, line)) return line;
    if (!interrupted) return std::nullopt;
    std::cin.clear();
    (void)write_all(STDOUT_FILENO, "\n");
    return std::string();
#endif
  }

 private:
#ifdef ORVIK_SESSION_HAVE_LIBEDIT
  static inline LineSource* current = nullptr;
  static inline std::vector<std::string> offered;

  static char* offer(const char* text, int state) {
    static std::size_t next_index = 0;
    if (state == 0) next_index = 0;
    const std::string_view typed(text);
    while (next_index < offered.size()) {
      const std::string& candidate = offered[next_index++];
      if (candidate.starts_with(typed)) return ::strdup(candidate.c_str());
    }
    return nullptr;
  }

  static char** complete(const char* text, int start, int) {
    rl_attempted_completion_over = 1;  // never file names
    const auto before = words_before(std::string_view(rl_line_buffer, static_cast<std::size_t>(start)));
    offered = candidates(before, text, current->session_, current->capset_names_);
    // A field name is followed by its value, not by a blank.
    rl_completion_append_character = !offered.empty() && offered.front().ends_with("=") ? '\0' : ' ';
    return rl_completion_matches(text, offer);
  }

  std::string history_;
#endif
  bool interactive_;
  Session& session_;
  std::optional<std::vector<std::string>> capset_names_;
};

}  // namespace

std::expected<std::vector<std::string>, UsageError> split_line(std::string_view line) {
  std::vector<std::string> words;
  std::optional<std::string> word;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      if (word) words.push_back(std::move(*word));
      word.reset();
      continue;
    }
    if (c == '#' && !word && words.empty()) return words;
    if (!word) word.emplace();
    if (c == '\\' && i + 1 < line.size()) {
      *word += line[++i];
    } else if (c == '\'' || c == '"') {
      const auto close = line.find(c, i + 1);
      if (close == std::string_view::npos) return std::unexpected(UsageError{std::string("unclosed ") + c});
      for (std::size_t k = i + 1; k < close; ++k) {
        if (c == '"' && line[k] == '\\' && k + 1 < close) ++k;
        *word += line[k];
      }
      i = close;
    } else {
      *word += c;
    }
  }
  if (word) words.push_back(std::move(*word));
  return words;
}

void run_shell(Invocation& in) {
  LineSource lines(*in.session);
  int first_failure = kExitSuccess;
  std::optional<std::string> line;
  while ((line = lines.next())) {
    Failures failures;
    bool go_on = true;
    bool transcript = false;
    auto words = split_line(*line);
    if (!words) {
      failures.note(words.error());
    } else if (!words->empty()) {
      const std::vector<std::string_view> views(words->begin(), words->end());
      auto parsed = parse_shell_line(views, in.options);
      if (!parsed) {
        failures.note(parsed.error());
      } else {
        go_on = run_in_shell(*parsed, *in.session, failures);
        // Asked by this line: one given to the shell comes at its end.
        transcript = parsed->options.transcript && !in.options.transcript;
      }
    }
    const int status = failures.report(transcript ? transcript_text(in.session->transcript()) : "");
    if (status != kExitSuccess && first_failure == kExitSuccess) first_failure = status;
    if (!go_on || (status != kExitSuccess && !lines.interactive() && !in.options.keep_going)) break;
  }
  if (lines.interactive() && !line) (void)write_all(STDOUT_FILENO, "\n");  // after Ctrl-D
  // At the terminal every failure was seen as it came; a script says
  // whether all of it ran.
  if (!lines.interactive()) in.failures.note_reported(first_failure);
}

}  // namespace orvik_session
