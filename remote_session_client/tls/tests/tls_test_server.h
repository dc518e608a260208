// A TLS stand-in for the gateway: one thread, one listening socket on
// 127.0.0.1, one accepted connection, one handshake (OpenSSL as the server),
// then a script of answers as the plain test gateway has. What the client
// showed (its SNI, the version agreed, its requests) is kept for the test.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "remote_session_client/socket.h"
#include "test_gateway.h"
#include "test_pki.h"

namespace remote_session_client::testing {

class TlsTestServer {
 public:
  struct Options {
    PemPair identity;                      // the server's certificate and key
    std::optional<std::string> client_ca;  // set: a client certificate from it is required
    int min_version = 0;                   // 0: OpenSSL's default
    int max_version = 0;
    bool close_notify = true;              // how the server ends after its script
  };

  TlsTestServer(Options options, std::vector<TestGateway::Step> script);
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;
  ~TlsTestServer();

  std::uint16_t port() const { return port_; }
  // A configuration with short times and TLS trusting `ca`.
  ClientConfig config(const std::string& ca) const;

  // Waits for the connection to end, then what it saw.
  struct Seen {
    bool handshake = false;
    std::string sni;       // empty: none sent
    std::string version;   // "TLSv1.3"
    std::size_t requests = 0;
  };
  Seen seen();

 private:
  void run(Options options, std::vector<TestGateway::Step> script);

  std::uint16_t port_ = 0;
  Socket listener_;
  Seen seen_;
  std::thread thread_;
};

}  // namespace remote_session_client::testing
