#include "tunnel.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "exit_status.h"
#include "remote_session_client/client.h"
#include "remote_session_client/socket.h"
#include "output.h"
#include "transport.h"

namespace orvik_session {

namespace {

namespace rsc = remote_session_client;

volatile std::sig_atomic_t stop_requested = 0;
void request_stop(int) { stop_requested = 1; }

// SIGINT and SIGTERM end the tunnel in order (close_notify to the gateway).
// They stay blocked except inside ppoll, so that one arriving between the
// check of the flag and the wait cannot be missed, and none cuts a read or
// write of a session short. Returns the mask to wait with.
sigset_t catch_stop_signals() {
  struct sigaction action{};
  action.sa_handler = request_stop;
  sigemptyset(&action.sa_mask);
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  for (const int signal_number : {SIGINT, SIGTERM}) {
    ::sigaction(signal_number, &action, nullptr);
    sigaddset(&stop_signals, signal_number);
  }
  // A client or gateway that went away is an EPIPE error, never a signal.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t waiting;
  ::sigprocmask(SIG_BLOCK, &stop_signals, &waiting);
  sigdelset(&waiting, SIGINT);
  sigdelset(&waiting, SIGTERM);
  return waiting;
}

// Each failure is reported as it happens: a tunnel serves on after one
// connection failed.
void report(int status, std::string text) {
  Failures failure;
  failure.note(status, std::move(text));
  failure.report();
}

std::expected<rsc::Socket, std::string> listen_on(const TunnelOptions& tunnel) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(tunnel.listen_port);
  if (const int status = ::getaddrinfo(tunnel.listen_host.c_str(), port.c_str(), &hints, &found); status != 0) {
    return std::unexpected(std::string(::gai_strerror(status)));
  }
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
  int last_error = EADDRNOTAVAIL;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    rsc::Socket listener(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    const int yes = 1;
    if (listener.valid() && ::setsockopt(listener.fd(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
        ::bind(listener.fd(), a->ai_addr, a->ai_addrlen) == 0 && ::listen(listener.fd(), tunnel.once ? 1 : 16) == 0) {
      return listener;
    }
    last_error = errno;
  }
  return std::unexpected(os_error_text(last_error));
}

std::uint16_t bound_port(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  const auto network_order = address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                                           : reinterpret_cast<sockaddr_in*>(&address)->sin_port;
  return ntohs(network_order);
}

// Waits until one of `fds` is ready or a stop signal came (false).
bool wait_any(std::span<pollfd> fds, bool at_once, const sigset_t& waiting) {
  const timespec no_wait{};
  while (!stop_requested) {
    const int ready = ::ppoll(fds.data(), fds.size(), at_once ? &no_wait : nullptr, &waiting);
    if (ready >= 0) return true;
    if (errno != EINTR) return false;
  }
  return false;
}

enum class Relayed { Ended, Failed };

// What has arrived on `from`, written whole to `to`; nullopt while both go
// on. A readable TLS socket may hold no application data (a session ticket,
// a record not yet whole): read_ready then has nothing, at once.
std::optional<Relayed> carry(rsc::ByteStream& from, const char* from_name, rsc::ByteStream& to,
                             const char* to_name, std::span<std::uint8_t> buffer) {
  auto got = from.read_ready(buffer);
  if (!got && got.error().kind == rsc::IoError::Kind::Os && got.error().os_code == EAGAIN) return std::nullopt;
  if (!got) {
    report(kExitProtocol, std::string("tunnel: reading from the ") + from_name + " failed: " + to_string(got.error()));
    return Relayed::Failed;
  }
  if (*got == 0) return Relayed::Ended;
  if (auto sent = to.write_all(buffer.first(*got)); !sent) {
    report(kExitProtocol, std::string("tunnel: writing to the ") + to_name + " failed: " + to_string(sent.error()));
    return Relayed::Failed;
  }
  return std::nullopt;
}

// Carries bytes both ways until either side ends its stream or a stop signal
// comes. Bytes the TLS session has already decrypted (pending) are read
// without waiting: the socket would not show them as readable.
Relayed relay(int client_fd, rsc::ByteStream& gateway, const sigset_t& waiting) {
  const auto client = rsc::borrow_socket(client_fd);
  std::array<std::uint8_t, 64 * 1024> buffer;
  std::array<pollfd, 2> fds{pollfd{client_fd, POLLIN, 0}, pollfd{gateway.fd(), POLLIN, 0}};
  for (;;) {
    const bool pending = gateway.pending() > 0;
    if (!wait_any(fds, pending, waiting)) return stop_requested ? Relayed::Ended : Relayed::Failed;
    std::optional<Relayed> done;
    if (fds[0].revents != 0) done = carry(*client, "client", gateway, "gateway", buffer);
    if (!done && (fds[1].revents != 0 || pending)) done = carry(gateway, "gateway", *client, "client", buffer);
    if (done) return *done;
  }
}

// A client's writes are bounded as the gateway's are.
void bound_writes(int fd, rsc::Duration io_timeout) {
  // A year is as good as for ever, and fits every time_t.
  constexpr std::uint64_t kLongest = 365ULL * 24 * 3600;
  const timeval tv{static_cast<time_t>(std::min(io_timeout.secs, kLongest)),
                   static_cast<suseconds_t>(io_timeout.nanos / 1000)};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int serve(int client_fd, rsc::ByteStream& gateway, const rsc::ClientConfig& config, const sigset_t& waiting) {
  bound_writes(client_fd, config.io_timeout);
  // Each side wrote its bytes as it meant them to go; holding a tail back
  // for an acknowledgement (Nagle) would only delay an answer's last part.
  const int yes = 1;
  for (const int fd : {client_fd, gateway.fd()}) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  return relay(client_fd, gateway, waiting) == Relayed::Ended ? kExitSuccess : kExitProtocol;
}

std::expected<std::unique_ptr<rsc::ByteStream>, int> open_gateway(const rsc::ClientConfig& config) {
  auto opened = rsc::open_stream(config, gateway_transport());
  if (!opened) {
    report(kExitConnect, to_string(opened.error()));
    return std::unexpected(kExitConnect);
  }
  return std::move(opened->stream);
}

rsc::Socket accept_one(int listener, const sigset_t& waiting) {
  std::array<pollfd, 1> fds{pollfd{listener, POLLIN, 0}};
  while (wait_any(fds, false, waiting)) {
    rsc::Socket client(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (client.valid()) return client;
    if (errno != EINTR && errno != ECONNABORTED) break;
  }
  return rsc::Socket();
}

}  // namespace

int run_tunnel(const TunnelOptions& tunnel, const rsc::ClientConfig& config) {
  const sigset_t waiting = catch_stop_signals();
  // One client: the gateway first, so that a refused certificate is reported
  // before anyone connects, and nothing listens once the one client is in.
  std::unique_ptr<rsc::ByteStream> gateway;
  if (tunnel.once) {
    auto opened = open_gateway(config);
    if (!opened) return opened.error();
    gateway = std::move(*opened);
  }
  auto listener = listen_on(tunnel);
  if (!listener) {
    report(kExitConnect, "tunnel: cannot listen on " + tunnel.listen_host + ":" + std::to_string(tunnel.listen_port) +
                             ": " + listener.error());
    return kExitConnect;
  }
  if (auto printed = write_all(STDOUT_FILENO, std::to_string(bound_port(listener->fd())) + "\n"); !printed) {
    report(kExitOutput, "cannot write to standard output: " + os_error_text(printed.error()));
    return kExitOutput;
  }

  if (tunnel.once) {
    rsc::Socket client = accept_one(listener->fd(), waiting);
    listener->reset();
    return client.valid() ? serve(client.fd(), *gateway, config, waiting) : kExitSuccess;
  }
  // Every client in a child of its own, which the system reaps.
  struct sigaction reap{};
  reap.sa_handler = SIG_IGN;
  reap.sa_flags = SA_NOCLDWAIT;
  ::sigaction(SIGCHLD, &reap, nullptr);
  for (;;) {
    rsc::Socket client = accept_one(listener->fd(), waiting);
    if (!client.valid()) return stop_requested ? kExitSuccess : kExitConnect;
    const pid_t child = ::fork();
    if (child == 0) {
      listener->reset();
      int status = kExitConnect;
      if (auto opened = open_gateway(config)) status = serve(client.fd(), **opened, config, waiting);
      ::_exit(status);  // the gateway's stream is closed (close_notify) by now
    }
    if (child < 0) report(kExitConnect, "tunnel: cannot serve a client: " + os_error_text(errno));
  }
}

}  // namespace orvik_session
