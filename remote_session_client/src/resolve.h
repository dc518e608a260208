// Turning the configured host and port into socket addresses.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "remote_session_client/io_error.h"

namespace remote_session_client {

struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
  int family() const { return storage.ss_family; }
};

// An IPv4 or IPv6 literal becomes its one address without asking the
// resolver; any other name goes to getaddrinfo (stream sockets, any family),
// whose order is kept. A resolver failure carries the resolver's message. A
// host holding a NUL byte names no host and is refused before either.
std::expected<std::vector<SocketAddress>, IoError> resolve(const std::string& host, std::uint16_t port);

// "127.0.0.1:2327", "[::1]:2327"; nothing for a family other than IPv4/IPv6.
std::optional<std::string> format_address(const SocketAddress& address);

}  // namespace remote_session_client
