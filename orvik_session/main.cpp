// orvik-session: an operator's command line on the remote session client.
#include <signal.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"

int main(int argc, char** argv) {
  using namespace orvik_session;
  // A reader that went away is a failed write we report (exit status 6),
  // not a signal that kills us before the logout.
  ::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto words = parse_command_line(args, [](std::string_view name) { return std::getenv(std::string(name).c_str()); });
  if (!words) {
    Failures failures;
    failures.note(words.error());
    return failures.report();
  }
  return run_command_line(*words);
}
