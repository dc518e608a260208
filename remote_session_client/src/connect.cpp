// connect: resolution, one bounded TCP connect per address, retries until the
// deadline, and the socket's time-outs.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "remote_session_client/client.h"
#include "resolve.h"
#include "time_limits.h"

namespace remote_session_client {

namespace {

// Connects one socket to one address, waiting at most `timeout`. The socket
// is non-blocking only while connecting, so the wait can be bounded, and is
// blocking afterwards as read_frame and write_frame expect.
std::expected<Socket, IoError> connect_to(const SocketAddress& address, Duration timeout) {
  if (timeout.is_zero()) return std::unexpected(IoError::made(IoError::Kind::ZeroTimeout));

  Socket socket(::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket.valid()) return std::unexpected(IoError::os(errno));

  if (::connect(socket.fd(), address.get(), address.length) != 0) {
    // EINTR leaves the connection in progress, like EINPROGRESS.
    if (errno != EINPROGRESS && errno != EINTR) return std::unexpected(IoError::os(errno));
    const auto deadline = saturating_deadline(MonotonicClock::now(), timeout);
    for (;;) {
      pollfd ready{socket.fd(), POLLOUT, 0};
      const auto now = MonotonicClock::now();
      const int rc = ::poll(&ready, 1, poll_timeout_ms(now, deadline));
      if (rc > 0) break;
      if (rc < 0 && errno != EINTR) return std::unexpected(IoError::os(errno));
      if (rc == 0 && MonotonicClock::now() >= deadline) {
        return std::unexpected(IoError::made(IoError::Kind::TimedOut));
      }
    }
    int failure = 0;
    socklen_t length = sizeof failure;
    if (::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &failure, &length) != 0) {
      return std::unexpected(IoError::os(errno));
    }
    if (failure != 0) return std::unexpected(IoError::os(failure));
  }

  const int flags = ::fcntl(socket.fd(), F_GETFL);
  if (flags < 0 || ::fcntl(socket.fd(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return std::unexpected(IoError::os(errno));
  }
  return socket;
}

// Read time-out, then write time-out; nothing else is set, Nagle included:
// write_frame sends each frame in one piece.
std::expected<void, IoError> set_timeouts(const Socket& socket, Duration timeout) {
  const timeval tv = socket_timeout(timeout);
  for (int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
    if (::setsockopt(socket.fd(), SOL_SOCKET, option, &tv, sizeof tv) != 0) {
      return std::unexpected(IoError::os(errno));
    }
  }
  return {};
}

// One attempt: resolve afresh, then every address in the resolver's order
// until one connects. A failure to set the time-outs ends the attempt.
std::expected<Socket, RemoteSessionClientError> attempt(const ClientConfig& config,
                                                         const std::string& target) {
  using E = RemoteSessionClientError;
  auto addresses = resolve(config.host, config.port);
  if (!addresses) return std::unexpected(E{E::Resolve{target, std::move(addresses.error())}});

  IoError last_error = IoError::made(IoError::Kind::NoAddresses);
  for (const SocketAddress& address : *addresses) {
    auto socket = connect_to(address, config.io_timeout);
    if (!socket) {
      last_error = std::move(socket.error());
      continue;
    }
    if (auto set = set_timeouts(*socket, config.io_timeout); !set) {
      return std::unexpected(E{E::Io{std::move(set.error())}});
    }
    return std::move(*socket);
  }
  return std::unexpected(E{E::Io{std::move(last_error)}});
}

std::optional<std::string> peer_of(const Socket& socket) {
  SocketAddress peer;
  peer.length = sizeof peer.storage;
  if (::getpeername(socket.fd(), reinterpret_cast<sockaddr*>(&peer.storage), &peer.length) != 0) {
    return std::nullopt;
  }
  return format_address(peer);
}

}  // namespace

RemoteSessionClient::RemoteSessionClient(ClientConfig config, Transcript transcript, Socket stream)
    : config_(std::move(config)), transcript_(std::move(transcript)), stream_(std::move(stream)) {}

std::expected<RemoteSessionClient, RemoteSessionConnectError> connect(ClientConfig config) {
  const std::string target = config.host + ":" + std::to_string(config.port);
  const auto deadline = saturating_deadline(MonotonicClock::now(), config.connect_deadline);
  Transcript transcript;
  transcript.record(event::Connect{target});

  // The deadline is looked at only after a failure: the first attempt always
  // runs, and an attempt that started is never cut short.
  Socket stream;
  for (;;) {
    auto connected = attempt(config, target);
    if (connected) {
      stream = std::move(*connected);
      break;
    }
    if (MonotonicClock::now() >= deadline) {
      using E = RemoteSessionClientError;
      return std::unexpected(RemoteSessionConnectError{
          E{E::ConnectTimeout{target, to_string(connected.error())}}, std::move(transcript)});
    }
    sleep_for(config.connect_retry_interval);
  }

  if (auto peer = peer_of(stream)) {
    transcript.record(event::Connected{std::move(*peer)});
  } else {
    transcript.record(event::Note{"connected but peer address was unavailable"});
  }
  return RemoteSessionClient(std::move(config), std::move(transcript), std::move(stream));
}

}  // namespace remote_session_client
