#include "tls_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <memory>

namespace remote_session_client::testing {

namespace {

struct CtxFree { void operator()(SSL_CTX* c) const { SSL_CTX_free(c); } };
struct SslFree { void operator()(SSL* s) const { SSL_free(s); } };

bool read_exact(SSL* ssl, std::uint8_t* dest, std::size_t length) {
  while (length > 0) {
    std::size_t got = 0;
    if (SSL_read_ex(ssl, dest, length, &got) != 1) return false;
    dest += got;
    length -= got;
  }
  return true;
}

}  // namespace

TlsTestServer::TlsTestServer(Options options, std::vector<TestGateway::Step> script) {
  listener_ = Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(listener_.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener_.fd(), 4);
  ::getsockname(listener_.fd(), reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this, options = std::move(options), script = std::move(script)]() mutable {
    run(std::move(options), std::move(script));
  });
}

TlsTestServer::~TlsTestServer() {
  if (thread_.joinable()) thread_.join();
}

TlsTestServer::Seen TlsTestServer::seen() {
  if (thread_.joinable()) thread_.join();
  return seen_;
}

ClientConfig TlsTestServer::config(const std::string& ca) const {
  ClientConfig config;
  config.host = "localhost";
  config.port = port_;
  config.io_timeout = Duration::from_millis(5000);
  config.connect_deadline = Duration::from_millis(0);
  config.tls = TlsConfig{.ca_file = ca};
  return config;
}

void TlsTestServer::run(Options options, std::vector<TestGateway::Step> script) {
  // Never waits longer than a test may: a client that does not come is a failure, not a hang.
  pollfd ready{listener_.fd(), POLLIN, 0};
  if (::poll(&ready, 1, 10'000) != 1) return;
  Socket peer(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
  timeval patience{10, 0};
  ::setsockopt(peer.fd(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  ::setsockopt(peer.fd(), SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);

  std::unique_ptr<SSL_CTX, CtxFree> context(SSL_CTX_new(TLS_server_method()));
  SSL_CTX_use_certificate_chain_file(context.get(), options.identity.cert.c_str());
  SSL_CTX_use_PrivateKey_file(context.get(), options.identity.key.c_str(), SSL_FILETYPE_PEM);
  if (options.min_version != 0 || options.max_version != 0) {
    // Old versions are offered only at the lowest security level.
    SSL_CTX_set_security_level(context.get(), 0);
    SSL_CTX_set_min_proto_version(context.get(), options.min_version);
    SSL_CTX_set_max_proto_version(context.get(), options.max_version);
  }
  if (options.client_ca) {
    SSL_CTX_load_verify_locations(context.get(), options.client_ca->c_str(), nullptr);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  std::unique_ptr<SSL, SslFree> ssl(SSL_new(context.get()));
  SSL_set_fd(ssl.get(), peer.fd());
  if (SSL_accept(ssl.get()) != 1) {
    // Let the alert reach the client before the close: closing on unread
    // bytes would reset the connection, and the reset could overtake it.
    ERR_clear_error();
    ::shutdown(peer.fd(), SHUT_WR);
    std::uint8_t drain[4096];
    while (::recv(peer.fd(), drain, sizeof drain, 0) > 0) {
    }
    return;
  }
  seen_.handshake = true;
  if (const char* name = SSL_get_servername(ssl.get(), TLSEXT_NAMETYPE_host_name)) seen_.sni = name;
  seen_.version = SSL_get_version(ssl.get());

  for (const TestGateway::Step& step : script) {
    std::uint8_t prefix[4];
    if (!read_exact(ssl.get(), prefix, 4)) break;
    const std::size_t length = (std::size_t{prefix[0]} << 24) | (std::size_t{prefix[1]} << 16) |
                               (std::size_t{prefix[2]} << 8) | prefix[3];
    if (length > (1u << 20)) break;
    Bytes payload(length);
    if (!read_exact(ssl.get(), payload.data(), length)) break;
    ++seen_.requests;
    const Bytes answer = step(request_seq(payload));
    std::size_t sent = 0;
    if (!answer.empty() && SSL_write_ex(ssl.get(), answer.data(), answer.size(), &sent) != 1) break;
  }
  if (options.close_notify) {
    SSL_shutdown(ssl.get());
  }
  ERR_clear_error();
}

}  // namespace remote_session_client::testing
