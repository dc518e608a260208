#include "test_gateway.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include <capnp/serialize.h>

#include "orvik_config/orvik.capnp.h"

namespace remote_session_client::testing {

namespace {

constexpr int kPollMs = 10;

Socket listen_on(std::uint16_t port) {
  Socket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  ::setsockopt(listener.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener.fd(), 4) != 0) {
    return Socket();
  }
  return listener;
}

std::uint16_t local_port(const Socket& socket) {
  sockaddr_in addr{};
  socklen_t length = sizeof addr;
  ::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&addr), &length);
  return ntohs(addr.sin_port);
}

}  // namespace

TestGateway::TestGateway(std::vector<Step> script, Options options) {
  if (options.listen_after.count() == 0) {
    listener_ = listen_on(options.port);
    port_ = local_port(listener_);
  } else {
    port_ = options.port;
  }
  thread_ = std::jthread([this, script = std::move(script), delay = options.listen_after]() mutable {
    run(std::move(script), delay);
  });
}

TestGateway::~TestGateway() {
  stop_ = true;
  thread_ = {};  // joins
}

ClientConfig TestGateway::config() const {
  ClientConfig config;
  config.host = "127.0.0.1";
  config.port = port_;
  config.io_timeout = Duration::from_millis(1000);
  config.connect_deadline = Duration::from_millis(2000);
  config.connect_retry_interval = Duration::from_millis(10);
  return config;
}

std::vector<Bytes> TestGateway::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool TestGateway::read_exact(int fd, std::uint8_t* dest, std::size_t length) {
  std::size_t filled = 0;
  while (filled < length) {
    if (stop_) return false;
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, kPollMs) <= 0) continue;
    const ssize_t got = ::recv(fd, dest + filled, length - filled, 0);
    if (got <= 0) return false;
    filled += static_cast<std::size_t>(got);
  }
  return true;
}

void TestGateway::run(std::vector<Step> script, std::chrono::milliseconds listen_after) {
  const auto listen_at = std::chrono::steady_clock::now() + listen_after;
  while (!listener_.valid()) {
    if (stop_) return;
    if (std::chrono::steady_clock::now() >= listen_at) {
      listener_ = listen_on(port_);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  Socket connection;
  while (!connection.valid()) {
    if (stop_) return;
    pollfd ready{listener_.fd(), POLLIN, 0};
    if (::poll(&ready, 1, kPollMs) > 0) connection = Socket(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
  }

  for (Step& step : script) {
    std::uint8_t prefix[4];
    if (!read_exact(connection.fd(), prefix, 4)) return;
    const std::size_t length = (std::size_t{prefix[0]} << 24) | (std::size_t{prefix[1]} << 16) |
                               (std::size_t{prefix[2]} << 8) | prefix[3];
    Bytes payload(length);
    if (!read_exact(connection.fd(), payload.data(), length)) return;
    const std::uint32_t seq = request_seq(payload);
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(std::move(payload));
    }
    const Bytes reply = step(seq);
    std::size_t sent = 0;
    while (sent < reply.size()) {
      const ssize_t n = ::send(connection.fd(), reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }
  // Script done: hold the connection open until the test ends.
  while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
}

std::uint16_t unused_port() {
  Socket probe = listen_on(0);
  return local_port(probe);
}

std::uint32_t request_seq(const Bytes& payload) {
  if (payload.size() < 8 || payload.size() % 8 != 0) return 0;
  kj::Array<capnp::word> words = kj::heapArray<capnp::word>(payload.size() / 8);
  std::memcpy(words.begin(), payload.data(), payload.size());
  capnp::FlatArrayMessageReader reader(words);
  return reader.getRoot<orvik_capnp::RemoteGatewayRequest>().getSeq();
}

}  // namespace remote_session_client::testing

namespace remote_session_client::testing {

Bytes framed(const Bytes& payload) {
  const auto length = static_cast<std::uint32_t>(payload.size());
  // Sized once and filled in place: growing a 4-byte vector by the payload
  // makes g++ 12 warn of an over-read that cannot happen.
  Bytes wire(4 + payload.size());
  for (int i = 0; i < 4; ++i) wire[i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
  std::copy(payload.begin(), payload.end(), wire.begin() + 4);
  return wire;
}

}  // namespace remote_session_client::testing
