// The C++ client library alone, without Python: the same calls orvik's
// methods make, timed the same way as the floor.
//
//   library_client --port P --op motd|session|capset --calls N [--warmup W]
//                  --latencies PATH
//
// Its distance from the floor is the library's cost per call; orvik's
// distance from it is the cost of the Python layer. Output as described in
// timed_loop.h.
#include <cstdio>
#include <utility>

#include "remote_session_client/client.h"
#include "timed_loop.h"

int main(int argc, char** argv) {
  using namespace orvik_bench;
  namespace rsc = remote_session_client;
  const LoopOptions options = parse_loop_options("library_client", argc, argv);

  rsc::ClientConfig config;
  config.port = options.port;
  config.connect_deadline = rsc::Duration::from_secs(5);
  auto connected = rsc::connect(std::move(config));
  if (!connected) {
    std::fprintf(stderr, "library_client: cannot connect to 127.0.0.1:%u\n", static_cast<unsigned>(options.port));
    return 1;
  }
  rsc::RemoteSessionClient& client = *connected;

  switch (options.arm) {
    case RequestArm::SystemMotd:
      return run_timed_loop("library_client", options, [&client] { return client.system_motd().has_value(); });
    case RequestArm::SessionInfo:
      return run_timed_loop("library_client", options, [&client] { return client.session_info().has_value(); });
    case RequestArm::CapsetList:
    case RequestArm::Logout:
      break;
  }
  return run_timed_loop("library_client", options, [&client] { return client.list_capset().has_value(); });
}
