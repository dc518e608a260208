// The command line and the timed loop shared by the C++ measuring clients
// (floor_client, library_client): same options, same clock, same output, so
// that their numbers compare with each other and with measure_client.py.
#pragma once

#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "canned_messages.h"

namespace orvik_bench {

inline constexpr unsigned long kMaxCalls = 100'000'000;

struct LoopOptions {
  std::uint16_t port = 0;
  RequestArm arm = RequestArm::SystemMotd;
  unsigned long calls = 20'000;
  unsigned long warmup = 1'000;
  std::string latencies_path;
  bool prefix_read = false;  // floor_client only
};

[[noreturn]] inline void loop_usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s --port P --op motd|session|capset --calls N [--warmup W] --latencies PATH%s\n",
               program, std::string_view(program) == "floor_client" ? " [--prefix-read]" : "");
  std::exit(2);
}

inline unsigned long parse_count(const char* program, const char* text, unsigned long max) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value > max) loop_usage(program);
  return value;
}

inline LoopOptions parse_loop_options(const char* program, int argc, char** argv) {
  LoopOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--prefix-read" && std::string_view(program) == "floor_client") {
      options.prefix_read = true;
      continue;
    }
    if (i + 1 >= argc) loop_usage(program);
    const char* value = argv[++i];
    if (arg == "--port") {
      options.port = static_cast<std::uint16_t>(parse_count(program, value, 65535));
    } else if (arg == "--op") {
      const std::string_view op = value;
      if (op == "motd") {
        options.arm = RequestArm::SystemMotd;
      } else if (op == "session") {
        options.arm = RequestArm::SessionInfo;
      } else if (op == "capset") {
        options.arm = RequestArm::CapsetList;
      } else {
        loop_usage(program);
      }
    } else if (arg == "--calls") {
      options.calls = parse_count(program, value, kMaxCalls);
    } else if (arg == "--warmup") {
      options.warmup = parse_count(program, value, kMaxCalls);
    } else if (arg == "--latencies") {
      options.latencies_path = value;
    } else {
      loop_usage(program);
    }
  }
  if (options.port == 0 || options.calls == 0 || options.latencies_path.empty()) loop_usage(program);
  return options;
}

inline std::int64_t cpu_ns(const timeval& tv) {
  return std::int64_t{tv.tv_sec} * 1'000'000'000 + std::int64_t{tv.tv_usec} * 1'000;
}

// Runs `warmup` untimed and `calls` timed calls of `call` (a callable
// returning false on failure), writes the latencies (native int64
// nanoseconds) to the options' path and prints one JSON line with the CPU
// time of the timed calls. Returns the process exit status.
template <typename Call>
int run_timed_loop(const char* program, const LoopOptions& options, Call&& call) {
  using Clock = std::chrono::steady_clock;
  for (unsigned long i = 0; i < options.warmup; ++i) {
    if (!call()) {
      std::fprintf(stderr, "%s: warm-up call %lu failed\n", program, i);
      return 1;
    }
  }
  std::vector<std::int64_t> latencies(options.calls);
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  for (unsigned long i = 0; i < options.calls; ++i) {
    const Clock::time_point start = Clock::now();
    const bool ok = call();
    latencies[i] = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    if (!ok) {
      std::fprintf(stderr, "%s: call %lu failed\n", program, i);
      return 1;
    }
  }
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);

  std::FILE* out = std::fopen(options.latencies_path.c_str(), "wb");
  const bool written = out != nullptr &&
                       std::fwrite(latencies.data(), sizeof(std::int64_t), latencies.size(), out) ==
                           latencies.size();
  if (out != nullptr && std::fclose(out) != 0) return 1;
  if (!written) {
    std::fprintf(stderr, "%s: cannot write %s\n", program, options.latencies_path.c_str());
    return 1;
  }
  std::printf("{\"calls\": %lu, \"user_ns\": %lld, \"sys_ns\": %lld}\n", options.calls,
              static_cast<long long>(cpu_ns(after.ru_utime) - cpu_ns(before.ru_utime)),
              static_cast<long long>(cpu_ns(after.ru_stime) - cpu_ns(before.ru_stime)));
  return 0;
}

}  // namespace orvik_bench
