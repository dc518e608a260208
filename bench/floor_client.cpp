// The floor: the least a client can do per call on this machine.
//
//   floor_client --port P --op motd|session|capset --calls N [--warmup W]
//                --latencies PATH [--prefix-read]
//
// Per call: write the seq into a pre-encoded request frame, send it with one
// sendmsg, receive until the whole response frame is in, check its seq. No
// decoding, no allocation. Like the library's client it leaves Nagle's
// algorithm on. Writes the per-call latencies (nanoseconds, native int64) of
// the measured calls to PATH and prints one JSON line with the CPU time
// (user and system) the measured calls took.
//
// --prefix-read is a diagnostic: it receives the 4-byte length on its own
// and then the message, two receives per call where one would do, to show
// what that second system call costs a client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "canned_messages.h"
#include "flat_message.h"
#include "socket_fd.h"

namespace orvik_bench {
namespace {

// Same bound as the library's default: the largest response accepted.
constexpr std::size_t kMaxResponseBytes = 1 << 20;
constexpr unsigned long kMaxCalls = 100'000'000;

struct Options {
  std::uint16_t port = 0;
  RequestArm arm = RequestArm::SystemMotd;
  unsigned long calls = 20'000;
  unsigned long warmup = 1'000;
  std::string latencies_path;
  bool prefix_read = false;
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: floor_client --port P --op motd|session|capset --calls N [--warmup W] "
               "--latencies PATH [--prefix-read]\n");
  std::exit(2);
}

unsigned long parse_number(const char* text, unsigned long max) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value > max) usage();
  return value;
}

RequestArm parse_op(std::string_view op) {
  if (op == "motd") return RequestArm::SystemMotd;
  if (op == "session") return RequestArm::SessionInfo;
  if (op == "capset") return RequestArm::CapsetList;
  usage();
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--prefix-read") {
      options.prefix_read = true;
      continue;
    }
    if (i + 1 >= argc) usage();
    const char* value = argv[++i];
    if (arg == "--port") {
      options.port = static_cast<std::uint16_t>(parse_number(value, 65535));
    } else if (arg == "--op") {
      options.arm = parse_op(value);
    } else if (arg == "--calls") {
      options.calls = parse_number(value, kMaxCalls);
    } else if (arg == "--warmup") {
      options.warmup = parse_number(value, kMaxCalls);
    } else if (arg == "--latencies") {
      options.latencies_path = value;
    } else {
      usage();
    }
  }
  if (options.port == 0 || options.calls == 0 || options.latencies_path.empty()) usage();
  return options;
}

UniqueFd connect_loopback(std::uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return fd;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return UniqueFd();
  }
  return fd;
}

std::int64_t cpu_ns(const timeval& tv) {
  return std::int64_t{tv.tv_sec} * 1'000'000'000 + std::int64_t{tv.tv_usec} * 1'000;
}

// One exchange: true when a whole response frame carrying `seq` came back.
class RoundTrip {
 public:
  RoundTrip(int fd, RequestArm arm, bool prefix_read)
      : fd_(fd), prefix_read_(prefix_read), request_(request_frame(arm)), response_(4 + kMaxResponseBytes) {}

  bool run(std::uint32_t seq) {
    request_.set_seq(seq);
    iovec part{request_.bytes.data(), request_.bytes.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t sent = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(request_.bytes.size())) return false;

    std::size_t got = 0;
    std::size_t need = 4;
    while (got < need) {
      const std::size_t want = prefix_read_ ? need - got : response_.size() - got;
      const ssize_t n = recv_some(fd_, response_.data() + got, want);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
      if (need == 4 && got >= 4) {
        const std::size_t length = load_be32(response_.data());
        if (length == 0 || length > kMaxResponseBytes) return false;
        need = 4 + length;
      }
    }
    if (got != need) return false;  // one answer per request, nothing more
    last_size_ = need;
    const std::optional<std::size_t> word = envelope_word_offset(response_.data() + 4, need - 4);
    return word && load_le32(response_.data() + 4 + *word) == seq;
  }

  std::size_t last_size() const { return last_size_; }

 private:
  int fd_;
  bool prefix_read_;
  CannedFrame request_;
  std::vector<std::uint8_t> response_;
  std::size_t last_size_ = 0;
};

}  // namespace
}  // namespace orvik_bench

int main(int argc, char** argv) {
  using namespace orvik_bench;
  using Clock = std::chrono::steady_clock;
  const Options options = parse_options(argc, argv);

  const UniqueFd fd = connect_loopback(options.port);
  if (!fd) {
    std::perror("floor_client: connect to 127.0.0.1");
    return 1;
  }
  RoundTrip trip(fd.get(), options.arm, options.prefix_read);
  std::uint32_t seq = 1;
  for (unsigned long i = 0; i < options.warmup; ++i) {
    if (!trip.run(seq++)) {
      std::fprintf(stderr, "floor_client: warm-up exchange %lu failed\n", i);
      return 1;
    }
  }

  std::vector<std::int64_t> latencies(options.calls);
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  for (unsigned long i = 0; i < options.calls; ++i) {
    const Clock::time_point start = Clock::now();
    const bool ok = trip.run(seq++);
    latencies[i] = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    if (!ok) {
      std::fprintf(stderr, "floor_client: exchange %lu failed\n", i);
      return 1;
    }
  }
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);

  std::FILE* out = std::fopen(options.latencies_path.c_str(), "wb");
  if (out == nullptr ||
      std::fwrite(latencies.data(), sizeof(std::int64_t), latencies.size(), out) != latencies.size() ||
      std::fclose(out) != 0) {
    std::perror("floor_client: write latencies");
    return 1;
  }
  std::printf("{\"calls\": %lu, \"user_ns\": %lld, \"sys_ns\": %lld, \"response_bytes\": %zu}\n",
              options.calls, static_cast<long long>(cpu_ns(after.ru_utime) - cpu_ns(before.ru_utime)),
              static_cast<long long>(cpu_ns(after.ru_stime) - cpu_ns(before.ru_stime)), trip.last_size());
  return 0;
}
