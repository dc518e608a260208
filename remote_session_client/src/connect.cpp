// connect: resolution, one bounded TCP connect per address, retries until the
// deadline, and the socket's time-outs.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <variant>

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
    // Interruptions resume the wait within what is left of the one time-out.
    if (auto ready = wait_ready(socket.fd(), POLLOUT, io_deadline(timeout)); !ready) {
      if (ready.error().kind == IoError::Kind::Os && ready.error().os_code == EAGAIN) {
        return std::unexpected(IoError::made(IoError::Kind::TimedOut));
      }
      return std::unexpected(std::move(ready.error()));
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
// until one connects and the transport's stream opens on it. A failure to
// set the time-outs, or a refusal of the transport, ends the attempt.
std::expected<std::unique_ptr<ByteStream>, RemoteSessionClientError> attempt(const ClientConfig& config,
                                                                             const std::string& target,
                                                                             const Transport& transport) {
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
    auto stream = transport.open(std::move(*socket), config, target);
    if (stream) return stream;
    // An I/O failure of a handshake counts as this address's failure.
    auto* io = std::get_if<E::Io>(&stream.error().value);
    if (io == nullptr) return stream;
    last_error = std::move(io->error);
  }
  return std::unexpected(E{E::Io{std::move(last_error)}});
}

std::optional<std::string> peer_of(int fd) {
  SocketAddress peer;
  peer.length = sizeof peer.storage;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer.storage), &peer.length) != 0) {
    return std::nullopt;
  }
  return format_address(peer);
}

}  // namespace

RemoteSessionClient::RemoteSessionClient(ClientConfig config, Transcript transcript,
                                         std::unique_ptr<ByteStream> stream)
    : config_(std::move(config)), transcript_(std::move(transcript)), stream_(std::move(stream)) {}

std::expected<OpenedStream, RemoteSessionConnectError> open_stream(const ClientConfig& config,
                                                                   const Transport& transport) {
  using E = RemoteSessionClientError;
  const std::string target = config.host + ":" + std::to_string(config.port);
  const auto deadline = saturating_deadline(MonotonicClock::now(), config.connect_deadline);
  Transcript transcript;
  transcript.record(event::Connect{target});

  // The deadline is looked at only after a failure: the first attempt always
  // runs, and an attempt that started is never cut short. A refused
  // handshake is final: the same certificate would be refused again.
  std::unique_ptr<ByteStream> stream;
  for (;;) {
    auto connected = attempt(config, target, transport);
    if (connected) {
      stream = std::move(*connected);
      break;
    }
    if (std::holds_alternative<E::Tls>(connected.error().value)) {
      return std::unexpected(RemoteSessionConnectError{std::move(connected.error()), std::move(transcript)});
    }
    if (MonotonicClock::now() >= deadline) {
      return std::unexpected(RemoteSessionConnectError{
          E{E::ConnectTimeout{target, to_string(connected.error())}}, std::move(transcript)});
    }
    sleep_for(config.connect_retry_interval);
  }

  if (auto peer = peer_of(stream->fd())) {
    transcript.record(event::Connected{std::move(*peer)});
  } else {
    transcript.record(event::Note{"connected but peer address was unavailable"});
  }
  return OpenedStream{std::move(stream), std::move(transcript)};
}

std::expected<RemoteSessionClient, RemoteSessionConnectError> connect(ClientConfig config,
                                                                     const Transport& transport) {
  auto opened = open_stream(config, transport);
  if (!opened) return std::unexpected(std::move(opened.error()));
  return RemoteSessionClient(std::move(config), std::move(opened->transcript), std::move(opened->stream));
}

std::expected<RemoteSessionClient, RemoteSessionConnectError> connect(ClientConfig config) {
  return connect(std::move(config), plain_transport());
}

}  // namespace remote_session_client
