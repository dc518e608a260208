// A gateway that answers from pre-encoded frames, for measuring clients.
//
//   canned_gateway [--port P] [--capset-entries N] [--motd-bytes B]
//
// Listens on 127.0.0.1 (port 0, the default, picks a free one), prints
// "listening 127.0.0.1:PORT" on stdout once it accepts connections, and serves
// each connection on a thread of its own. Every request frame gets one answer:
// systemMotd (the default banner, or one of B bytes), sessionInfo, capsetList
// (N entries, default 10) and logout from
// their canned frames with the request's seq written in, anything else an
// error answer. Runs until killed, or until its parent process exits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "canned_messages.h"
#include "flat_message.h"
#include "socket_fd.h"

namespace orvik_bench {
namespace {

// The largest request frame accepted; requests are tens of bytes, and a
// 4-byte prefix could otherwise ask for 4 GiB.
constexpr std::size_t kMaxRequestBytes = 1 << 20;
constexpr std::uint32_t kMaxCapsetEntries = 100'000;

struct CannedAnswers {
  CannedFrame motd;
  CannedFrame session_info;
  CannedFrame capset_list;
  CannedFrame logged_out;
  CannedFrame error;
};

// Each connection numbers its own copy of the answers, so threads never
// share a buffer that is being written.
class Connection {
 public:
  Connection(UniqueFd fd, const CannedAnswers& answers) : fd_(std::move(fd)), answers_(answers) {}

  void serve() {
    std::vector<std::uint8_t> in(64 * 1024);
    std::size_t filled = 0;
    for (;;) {
      if (filled == in.size()) in.resize(in.size() * 2);
      const ssize_t got = recv_some(fd_.get(), in.data() + filled, in.size() - filled);
      if (got <= 0) return;
      filled += static_cast<std::size_t>(got);

      std::size_t used = 0;
      while (filled - used >= 4) {
        const std::size_t length = load_be32(in.data() + used);
        if (length == 0 || length > kMaxRequestBytes) return;  // not a client we can talk to
        if (filled - used < 4 + length) {
          if (in.size() < 4 + length) in.resize(4 + length);
          break;
        }
        if (!answer(in.data() + used + 4, length)) return;
        used += 4 + length;
      }
      std::memmove(in.data(), in.data() + used, filled - used);
      filled -= used;
    }
  }

 private:
  bool answer(const std::uint8_t* message, std::size_t size) {
    std::uint32_t seq = 0;
    std::uint16_t arm = 0xffff;
    if (const std::optional<std::size_t> word = envelope_word_offset(message, size)) {
      seq = load_le32(message + *word);
      arm = load_le16(message + *word + 4);
    }
    CannedFrame& frame = answer_for(arm);
    frame.set_seq(seq);
    return send_all(fd_.get(), frame.bytes.data(), frame.bytes.size());
  }

  CannedFrame& answer_for(std::uint16_t arm) {
    switch (static_cast<RequestArm>(arm)) {
      case RequestArm::SystemMotd: return answers_.motd;
      case RequestArm::SessionInfo: return answers_.session_info;
      case RequestArm::CapsetList: return answers_.capset_list;
      case RequestArm::Logout: return answers_.logged_out;
    }
    return answers_.error;
  }

  UniqueFd fd_;
  CannedAnswers answers_;
};

struct Options {
  std::uint16_t port = 0;
  std::uint32_t capset_entries = 10;
  std::optional<std::size_t> motd_bytes;
};

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: canned_gateway [--port P] [--capset-entries N] [--motd-bytes B]\n");
  std::exit(2);
}

unsigned long parse_number(const char* text, unsigned long max) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value > max) usage();
  return value;
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) usage();
    if (arg == "--port") {
      options.port = static_cast<std::uint16_t>(parse_number(argv[++i], 65535));
    } else if (arg == "--capset-entries") {
      options.capset_entries = static_cast<std::uint32_t>(parse_number(argv[++i], kMaxCapsetEntries));
    } else if (arg == "--motd-bytes") {
      options.motd_bytes = parse_number(argv[++i], kLargestBanner);
    } else {
      usage();
    }
  }
  return options;
}

UniqueFd listen_loopback(std::uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return fd;
  const int one = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 16) != 0) {
    return UniqueFd();
  }
  return fd;
}

std::uint16_t bound_port(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

}  // namespace
}  // namespace orvik_bench

int main(int argc, char** argv) {
  using namespace orvik_bench;
  // A benchmark that dies must not leave its gateway behind.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  const Options options = parse_options(argc, argv);

  const std::string text = options.motd_bytes ? banner(*options.motd_bytes) : std::string(kMotd);
  const CannedAnswers answers{motd_response(text), session_info_response(),
                              capset_list_response(options.capset_entries), logged_out_response(),
                              error_response()};

  const UniqueFd listener = listen_loopback(options.port);
  if (!listener) {
    std::perror("canned_gateway: listen on 127.0.0.1");
    return 1;
  }
  std::printf("listening 127.0.0.1:%u\n", static_cast<unsigned>(bound_port(listener.get())));
  std::fflush(stdout);

  for (;;) {
    UniqueFd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      std::perror("canned_gateway: accept");
      return 1;
    }
    const int one = 1;
    ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::thread([fd = std::move(client), &answers]() mutable {
      Connection(std::move(fd), answers).serve();
    }).detach();
  }
}
