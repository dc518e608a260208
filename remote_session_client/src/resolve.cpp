#include "resolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>
#include <memory>

namespace remote_session_client {

namespace {

// Fills `address` if `host` is a literal of the family of `Sockaddr`.
template <typename Sockaddr, auto kFamily, auto kAddr, auto kPort>
bool parse_family(const std::string& host, std::uint16_t port, SocketAddress& address) {
  address = SocketAddress{};
  auto* sockaddr = reinterpret_cast<Sockaddr*>(&address.storage);
  if (::inet_pton(kFamily, host.c_str(), &(sockaddr->*kAddr)) != 1) return false;
  sockaddr->*kPort = htons(port);
  address.storage.ss_family = kFamily;
  address.length = sizeof(Sockaddr);
  return true;
}

std::optional<SocketAddress> parse_literal(const std::string& host, std::uint16_t port) {
  SocketAddress address;
  if (parse_family<sockaddr_in, AF_INET, &sockaddr_in::sin_addr, &sockaddr_in::sin_port>(host, port, address) ||
      parse_family<sockaddr_in6, AF_INET6, &sockaddr_in6::sin6_addr, &sockaddr_in6::sin6_port>(host, port,
                                                                                             address)) {
    return address;
  }
  return std::nullopt;
}

struct AddrinfoDeleter {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

}  // namespace

std::expected<std::vector<SocketAddress>, IoError> resolve(const std::string& host, std::uint16_t port) {
  // The parser and the resolver read C strings: "127.0.0.1\0evil.example"
  // would reach 127.0.0.1, a host other than the one configured.
  if (host.find('\0') != std::string::npos) return std::unexpected(IoError::made(IoError::Kind::NulInHost));
  if (auto literal = parse_literal(host, port)) return std::vector<SocketAddress>{*literal};

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* raw = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &raw); rc != 0) {
    return std::unexpected(IoError::lookup(::gai_strerror(rc)));
  }
  const std::unique_ptr<addrinfo, AddrinfoDeleter> list(raw);

  std::vector<SocketAddress> addresses;
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_addr == nullptr || entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
    SocketAddress address;
    std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
    addresses.push_back(address);
  }
  return addresses;
}

std::optional<std::string> format_address(const SocketAddress& address) {
  char text[INET6_ADDRSTRLEN];
  if (address.family() == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address.storage);
    if (::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text) == nullptr) return std::nullopt;
    return std::string(text) + ":" + std::to_string(ntohs(v4->sin_port));
  }
  if (address.family() == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address.storage);
    if (::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text) == nullptr) return std::nullopt;
    std::string host = text;
    // Appended piece by piece: "%" + std::to_string(...) makes g++ 12 at -O3
    // warn of an overlapping copy that cannot happen.
    if (v6->sin6_scope_id != 0) host.append("%").append(std::to_string(v6->sin6_scope_id));
    return "[" + host + "]:" + std::to_string(ntohs(v6->sin6_port));
  }
  return std::nullopt;
}

}  // namespace remote_session_client
