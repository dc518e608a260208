// The TLS transport against an OpenSSL server in a thread, with certificates
// made for the test: what is verified, what each refusal says, and how the
// session ends.
#include "remote_session_client/tls.h"

#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "interrupting_timer.h"
#include "remote_session_client/client.h"
#include "remote_session_client/protocol.h"
#include "test_gateway.h"
#include "test_pki.h"
#include "tls_test_server.h"

namespace remote_session_client {
namespace {

using testing::answer;
using testing::answer_raw;
using testing::PemPair;
using testing::TestGateway;
using testing::TestPki;
using testing::TlsTestServer;
using E = RemoteSessionClientError;
using Root = orvik_capnp::RemoteGatewayResponse::Builder;

auto motd(const char* text) {
  return answer([text](Root root) { root.setSystemMotd(text); });
}

template <typename T>
std::string text_of(const T& result) {
  return result ? std::string("success") : to_string(result.error());
}

struct Pki {
  TestPki files;
  PemPair ca = files.make_ca("test-ca");
  PemPair other_ca = files.make_ca("other-ca");
  PemPair localhost = files.make_leaf(ca, "localhost", {"DNS:localhost", "IP:127.0.0.1"});
  PemPair dns_only = files.make_leaf(ca, "dns-only", {"DNS:localhost"});
  PemPair expired = files.make_leaf(ca, "expired", {"DNS:localhost"}, true);
  PemPair untrusted = files.make_leaf(other_ca, "untrusted", {"DNS:localhost"});
  PemPair client = files.make_leaf(ca, "client", {"DNS:client"});
};

Pki& pki() {
  static Pki made;
  return made;
}

// One case: a server, what the client asks for, and how the first call ends.
struct HandshakeCase {
  const char* name;
  std::function<TlsTestServer::Options()> server;
  std::function<void(ClientConfig&)> client;
  std::string connect_text;  // "success", or the whole error text, "PORT" for the port
  std::string call_text;     // after a successful connect: the first call's outcome
  std::string sni;           // what the server saw
  std::string version;
};

std::string with_port(std::string text, std::uint16_t port) {
  const auto at = text.find("PORT");
  if (at != std::string::npos) text.replace(at, 4, std::to_string(port));
  return text;
}

TEST(Tls, HandshakeOutcomes) {
  Pki& p = pki();
  const std::string refused = "TLS handshake with localhost:PORT failed: ";
  const std::vector<HandshakeCase> cases = {
      {"trusted", [&] { return TlsTestServer::Options{p.localhost}; }, [](ClientConfig&) {}, "success",
       "hello", "localhost", "TLSv1.3"},
      {"tls_1_2_only",
       [&] { return TlsTestServer::Options{p.localhost, {}, TLS1_2_VERSION, TLS1_2_VERSION}; },
       [](ClientConfig&) {}, "success", "hello", "localhost", "TLSv1.2"},
      {"untrusted_ca", [&] { return TlsTestServer::Options{p.untrusted}; }, [](ClientConfig&) {},
       refused + "certificate verify failed (unable to get local issuer certificate)", "", "", ""},
      {"expired", [&] { return TlsTestServer::Options{p.expired}; }, [](ClientConfig&) {},
       refused + "certificate verify failed (certificate has expired)", "", "", ""},
      {"wrong_name", [&] { return TlsTestServer::Options{p.localhost}; },
       [](ClientConfig& c) { c.tls->server_name = "gateway.example"; },
       refused + "certificate verify failed (hostname mismatch)", "", "", ""},
      {"server_name_sent_as_sni", [&] { return TlsTestServer::Options{p.localhost}; },
       [](ClientConfig& c) {
         c.host = "127.0.0.1";
         c.tls->server_name = "localhost";
       },
       "success", "hello", "localhost", "TLSv1.3"},
      {"ip_literal_checked_against_ip_san", [&] { return TlsTestServer::Options{p.localhost}; },
       [](ClientConfig& c) { c.host = "127.0.0.1"; }, "success", "hello", "", "TLSv1.3"},
      {"ip_literal_without_ip_san", [&] { return TlsTestServer::Options{p.dns_only}; },
       [](ClientConfig& c) { c.host = "127.0.0.1"; },
       "TLS handshake with 127.0.0.1:PORT failed: certificate verify failed (IP address mismatch)", "", "", ""},
      {"client_cert_given", [&] { return TlsTestServer::Options{p.localhost, p.ca.cert}; },
       [&](ClientConfig& c) {
         c.tls->cert_file = p.client.cert;
         c.tls->key_file = p.client.key;
       },
       "success", "hello", "localhost", "TLSv1.3"},
      // Under TLS 1.3 the server's refusal arrives after the handshake.
      {"client_cert_missing_tls_1_3", [&] { return TlsTestServer::Options{p.localhost, p.ca.cert}; },
       [](ClientConfig&) {}, "success", "frame I/O failed: TLS: tlsv13 alert certificate required", "", ""},
      {"client_cert_missing_tls_1_2",
       [&] { return TlsTestServer::Options{p.localhost, p.ca.cert, TLS1_2_VERSION, TLS1_2_VERSION}; },
       [](ClientConfig&) {}, refused + "sslv3 alert handshake failure", "", "", ""},
      {"client_cert_from_another_ca", [&] { return TlsTestServer::Options{p.localhost, p.other_ca.cert}; },
       [&](ClientConfig& c) {
         c.tls->cert_file = p.client.cert;
         c.tls->key_file = p.client.key;
       },
       "success", "frame I/O failed: TLS: tlsv1 alert unknown ca", "", ""},
      {"no_common_version",
       [&] { return TlsTestServer::Options{p.localhost, {}, TLS1_VERSION, TLS1_1_VERSION}; },
       [](ClientConfig&) {}, refused + "tlsv1 alert protocol version", "", "", ""},
      // No CA file: the machine's store, which SSL_CERT_FILE names first.
      {"machine_store_named_by_ssl_cert_file", [&] { return TlsTestServer::Options{p.localhost}; },
       [&](ClientConfig& c) {
         c.tls->ca_file.reset();
         ::setenv("SSL_CERT_FILE", p.ca.cert.c_str(), 1);
       },
       "success", "hello", "localhost", "TLSv1.3"},
      {"key_without_certificate", [&] { return TlsTestServer::Options{p.localhost}; },
       [&](ClientConfig& c) { c.tls->key_file = p.client.key; },
       refused + "a client certificate needs both its certificate file and its key file", "", "", ""},
  };
  for (const HandshakeCase& c : cases) {
    TlsTestServer server(c.server(), {motd("hello")});
    ClientConfig config = server.config(p.ca.cert);
    c.client(config);
    std::optional<std::string> call_text;
    {
      auto client = connect(config, tls_transport());
      EXPECT_EQ(text_of(client), with_port(c.connect_text, server.port())) << c.name;
      if (client) {
        auto call = client->system_motd();
        call_text = call ? *call : to_string(call.error());
      }
    }
    EXPECT_EQ(call_text.value_or(""), c.call_text) << c.name;
    const auto seen = server.seen();
    if (call_text == "hello") {
      EXPECT_EQ(seen.sni, c.sni) << c.name;
      EXPECT_EQ(seen.version, c.version) << c.name;
    }
    ::unsetenv("SSL_CERT_FILE");
  }
}

// How the gateway's end of the stream reaches the caller: between frames it
// is the end of the stream and the client stays in step; inside a frame the
// stream is out of step.
TEST(Tls, EndOfStream) {
  struct Case {
    const char* name;
    Bytes answer;
    bool close_notify;
    bool in_step;
  };
  const Bytes half_frame = {0, 0, 0, 40, 1, 2, 3};
  const Case cases[] = {
      {"close_notify_between_frames", {}, true, true},
      {"close_without_notify_between_frames", {}, false, true},
      {"truncated_inside_a_frame", half_frame, true, false},
  };
  for (const Case& c : cases) {
    TlsTestServer server(TlsTestServer::Options{pki().localhost, {}, 0, 0, c.close_notify}, {answer_raw(c.answer)});
    auto client = connect(server.config(pki().ca.cert), tls_transport());
    ASSERT_TRUE(client) << c.name << ": " << text_of(client);
    auto call = client->system_motd();
    EXPECT_EQ(text_of(call), "frame I/O failed: failed to fill whole buffer") << c.name;
    EXPECT_EQ(client->in_step(), c.in_step) << c.name;
  }
}

// The plain transport never sends in clear what was meant to be encrypted:
// a configuration asking for TLS ends connect at once, without a retry.
TEST(Tls, PlainTransportRefusesATlsConfiguration) {
  TestGateway gateway({});
  ClientConfig config = gateway.config();
  config.connect_deadline = Duration::from_secs(60);
  config.tls = TlsConfig{.ca_file = pki().ca.cert};
  EXPECT_EQ(text_of(connect(config)), "TLS handshake with 127.0.0.1:" + std::to_string(gateway.port()) +
                                          " failed: no TLS layer is linked into this program");
}

// Each side speaking the other's protocol gets one clear error, not a hang.
TEST(Tls, MismatchedTransports) {
  // A TLS client on a plain gateway: the gateway waits for a frame the
  // hello's first bytes announce as hundreds of megabytes, so the handshake
  // times out after io_timeout, as on any peer that takes the connection
  // and never answers, and is retried until the deadline.
  TestGateway plain({});
  ClientConfig tls_config = plain.config();
  tls_config.io_timeout = Duration::from_millis(200);
  tls_config.connect_deadline = Duration::from_millis(0);
  tls_config.tls = TlsConfig{.ca_file = pki().ca.cert};
  EXPECT_EQ(text_of(connect(tls_config, tls_transport())),
            "timed out connecting to 127.0.0.1:" + std::to_string(plain.port()) +
                "; last error: remote session TCP I/O failed: connection timed out");

  // A plain client on a TLS gateway: its frame is no hello, and the
  // gateway closes without a word.
  TlsTestServer tls_server(TlsTestServer::Options{pki().localhost}, {motd("hello")});
  ClientConfig plain_config = tls_server.config(pki().ca.cert);
  plain_config.tls.reset();
  auto plain_client = connect(plain_config);
  ASSERT_TRUE(plain_client) << text_of(plain_client);
  EXPECT_EQ(text_of(plain_client->system_motd()), "frame I/O failed: failed to fill whole buffer");
}

// A child made by fork() is refused before sending, and releasing its copy
// sends no alert: the parent's session goes on.
TEST(Tls, ForkedChildLeavesTheSessionAlone) {
  TlsTestServer server(TlsTestServer::Options{pki().localhost}, {motd("one"), motd("two")});
  {
    auto client = connect(server.config(pki().ca.cert), tls_transport());
    ASSERT_TRUE(client) << text_of(client);
    ASSERT_EQ(text_of(client->system_motd()), "success");
    std::optional<RemoteSessionClient> moved(std::move(*client));
    const pid_t child = ::fork();
    if (child == 0) {
      auto refused = moved->system_motd();
      const bool ok = !refused && std::holds_alternative<E::OtherProcess>(refused.error().value);
      moved.reset();  // releasing the child's copy
      ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto second = moved->system_motd();
    EXPECT_EQ(second ? *second : to_string(second.error()), "two");
    moved.reset();
  }
  EXPECT_EQ(server.seen().requests, 2u);
}

// The raw stream a tunnel forwards: bytes out, bytes in, what TLS holds.
TEST(Tls, RawStream) {
  TlsTestServer server(TlsTestServer::Options{pki().localhost}, {motd("hello")});
  auto opened = open_stream(server.config(pki().ca.cert), tls_transport());
  ASSERT_TRUE(opened) << to_string(opened.error());
  ByteStream& stream = *opened->stream;
  // Nothing asked yet: read_ready has nothing, at once (not after the 5 s
  // io_timeout), though the socket may hold the server's session tickets;
  // the stream stays usable.
  std::uint8_t none[16];
  const auto asked = IoClock::now();
  auto early = stream.read_ready(none);
  ASSERT_FALSE(early);
  EXPECT_EQ(to_string(early.error()), "Resource temporarily unavailable (os error 11)");
  EXPECT_LT(IoClock::now() - asked, std::chrono::seconds(2));
  auto request = encode_request(7, request::SystemMotd{});
  ASSERT_TRUE(request);
  ASSERT_TRUE(stream.write_all(testing::framed(*request)));
  std::uint8_t first[1];
  ASSERT_EQ(stream.read_some(first).value_or(0), 1u);
  // The rest of the answer came in the same record: TLS holds it, the
  // socket shows nothing more.
  EXPECT_GT(stream.pending(), 0u);
}

// Signals more often than io_timeout: a TLS read on a silent gateway still
// ends within its one time-out, with a socket time-out's text.
TEST(Tls, InterruptedReadEndsWithinItsTimeOut) {
  using testing::InterruptingTimer;
  std::optional<TlsTestServer> silent;
  {
    InterruptingTimer::Blocked in_servers;
    // Reads the request, answers nothing, then waits for the next one.
    silent.emplace(TlsTestServer::Options{pki().localhost}, std::vector<TestGateway::Step>{answer_raw({}), answer_raw({})});
  }
  ClientConfig config = silent->config(pki().ca.cert);
  config.io_timeout = Duration::from_millis(300);
  auto client = connect(config, tls_transport());
  ASSERT_TRUE(client) << text_of(client);
  InterruptingTimer timer(std::chrono::milliseconds(50));
  EXPECT_EQ(text_of(client->system_motd()), "frame I/O failed: Resource temporarily unavailable (os error 11)");
  EXPECT_LT(timer.signals(), InterruptingTimer::kMostSignals);
}

}  // namespace
}  // namespace remote_session_client
