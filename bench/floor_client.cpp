// The floor: the least a client can do per call on this machine.
//
//   floor_client --port P --op motd|session|capset --calls N [--warmup W]
//                --latencies PATH [--prefix-read]
//
// Per call: write the seq into a pre-encoded request frame, send it with one
// sendmsg, receive until the whole response frame is in, check its seq. No
// decoding, no allocation. Like the library's client it leaves Nagle's
// algorithm on. Output as described in timed_loop.h.
//
// --prefix-read is a diagnostic: it receives the 4-byte length on its own
// and then the message, two receives per call where one would do, to show
// what that second system call costs a client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "canned_messages.h"
#include "flat_message.h"
#include "socket_fd.h"
#include "timed_loop.h"

namespace orvik_bench {
namespace {

// Same bound as the library's default: the largest response accepted.
constexpr std::size_t kMaxResponseBytes = 1 << 20;

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

// One exchange: true when a whole response frame carrying `seq` came back.
class RoundTrip {
 public:
  RoundTrip(int fd, RequestArm arm, bool prefix_read)
      : fd_(fd), prefix_read_(prefix_read), request_(request_frame(arm)), response_(4 + kMaxResponseBytes) {}

  bool run() {
    const std::uint32_t seq = next_seq_++;
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
    const std::optional<std::size_t> word = envelope_word_offset(response_.data() + 4, need - 4);
    return word && load_le32(response_.data() + 4 + *word) == seq;
  }

 private:
  int fd_;
  bool prefix_read_;
  CannedFrame request_;
  std::vector<std::uint8_t> response_;
  std::uint32_t next_seq_ = 1;
};

}  // namespace
}  // namespace orvik_bench

int main(int argc, char** argv) {
  using namespace orvik_bench;
  const LoopOptions options = parse_loop_options("floor_client", argc, argv);
  const UniqueFd fd = connect_loopback(options.port);
  if (!fd) {
    std::perror("floor_client: connect to 127.0.0.1");
    return 1;
  }
  RoundTrip trip(fd.get(), options.arm, options.prefix_read);
  return run_timed_loop("floor_client", options, [&trip] { return trip.run(); });
}
