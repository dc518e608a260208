// orvik-session: an operator's command line on the remote session client.
#include <unistd.h>

#include <string_view>
#include <vector>

#include "exit_status.h"
#include "options.h"
#include "report.h"
#include "session_run.h"
#include "tunnel.h"

int main(int argc, char** argv) {
  using namespace orvik_session;
  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto parsed = parse_arguments(args);
  if (!parsed) {
    report_usage(parsed.error());
    return kExitUsage;
  }
  if (const auto* text = std::get_if<ShowText>(&*parsed)) {
    write_out(STDOUT_FILENO, text->text);
    return kExitSuccess;
  }
  const auto& options = std::get<Options>(*parsed);
  if (const auto* tunnel = std::get_if<command::Tunnel>(&options.command)) {
    return run_tunnel(tunnel->tunnel, client_config(options));
  }
  return run_session(options);
}
