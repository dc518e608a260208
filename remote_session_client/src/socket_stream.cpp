// The plain socket as the stream frames travel over.
#include "socket_stream.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

#include "time_limits.h"

namespace remote_session_client {

namespace {

// When a call that began at `start` times out under the socket's time-out
// option (SO_RCVTIMEO, SO_SNDTIMEO): never if none is set, or if it cannot
// be read.
IoClock::time_point timeout_instant(int fd, int option, IoClock::time_point start) {
  timeval tv{};
  socklen_t length = sizeof tv;
  if (::getsockopt(fd, SOL_SOCKET, option, &tv, &length) != 0 || (tv.tv_sec <= 0 && tv.tv_usec <= 0)) {
    return IoClock::time_point::max();
  }
  return saturating_deadline(start, Duration{static_cast<std::uint64_t>(tv.tv_sec),
                                             static_cast<std::uint32_t>(tv.tv_usec) * 1000});
}

// A call a signal interrupted. The kernel does not resume a socket call that
// has a time-out (SA_RESTART or not), and calling it again would start the
// time-out afresh: a process signalled more often than its time-out would
// wait on a silent peer for ever. So the rest is waited for by poll, up to
// the instant the first call would have timed out, and `call` (which must
// not block) runs once the socket is ready.
template <typename Call>
std::expected<std::size_t, IoError> resume(int fd, short events, int option, IoClock::time_point start,
                                           Call&& call) {
  const auto deadline = timeout_instant(fd, option, start);
  for (;;) {
    if (auto ready = wait_ready(fd, events, deadline); !ready) return std::unexpected(std::move(ready.error()));
    const ssize_t moved = call();
    if (moved >= 0) return static_cast<std::size_t>(moved);
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return std::unexpected(IoError::os(errno));
  }
}

}  // namespace

std::expected<std::size_t, IoError> SocketStream::read_some(std::span<std::uint8_t> dest) {
  const auto start = IoClock::now();
  const ssize_t got = ::recv(fd_, dest.data(), dest.size(), 0);
  if (got >= 0) return static_cast<std::size_t>(got);
  if (errno != EINTR) return std::unexpected(IoError::os(errno));
  return resume(fd_, POLLIN, SO_RCVTIMEO, start,
                [&] { return ::recv(fd_, dest.data(), dest.size(), MSG_DONTWAIT); });
}

std::expected<std::size_t, IoError> SocketStream::write_some(std::span<const ByteView> parts) {
  // A frame is two parts; a caller with more sends the rest next time.
  constexpr std::size_t kMostParts = 8;
  iovec vectors[kMostParts];
  msghdr message{};
  message.msg_iov = vectors;
  for (const ByteView& part : parts.first(std::min(parts.size(), kMostParts))) {
    vectors[message.msg_iovlen++] = iovec{const_cast<std::uint8_t*>(part.data()), part.size()};
  }
  const auto start = IoClock::now();
  // MSG_NOSIGNAL: a closed peer is an EPIPE error, not a SIGPIPE.
  const ssize_t sent = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
  if (sent >= 0) return static_cast<std::size_t>(sent);
  if (errno != EINTR) return std::unexpected(IoError::os(errno));
  return resume(fd_, POLLOUT, SO_SNDTIMEO, start,
                [&] { return ::sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_DONTWAIT); });
}

namespace {

class PlainTransport final : public Transport {
 public:
  std::expected<std::unique_ptr<ByteStream>, RemoteSessionClientError> open(
      Socket socket, const ClientConfig& config, const std::string& target) const override {
    using E = RemoteSessionClientError;
    if (config.tls) return std::unexpected(E{E::Tls{target, "no TLS layer is linked into this program"}});
    return std::make_unique<SocketStream>(std::move(socket));
  }
};

}  // namespace

const Transport& plain_transport() {
  static const PlainTransport transport;
  return transport;
}

}  // namespace remote_session_client
