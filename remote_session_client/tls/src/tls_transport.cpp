// The TLS transport: the context a configuration asks for, and the
// handshake on each connected socket.
#include "remote_session_client/tls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <variant>

#include <openssl/x509v3.h>

#include "tls_stream.h"
#include "trust_store.h"

namespace remote_session_client {

namespace {

using tls_detail::failure_reason;
using tls_detail::SslContext;
using tls_detail::SslSession;
using E = RemoteSessionClientError;

std::unexpected<E> refused(const std::string& target, std::string reason) {
  return std::unexpected(E{E::Tls{target, std::move(reason)}});
}

bool is_ip_literal(const std::string& name) {
  unsigned char address[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, name.c_str(), address) == 1 || ::inet_pton(AF_INET6, name.c_str(), address) == 1;
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// Verification on, no switch to turn it off; TLS 1.2 at least (OpenSSL
// offers 1.3 first); the trust and the client certificate configured.
std::expected<SslContext, std::string> make_context(const TlsConfig& tls) {
  SslContext context(SSL_CTX_new(TLS_client_method()));
  if (!context) return std::unexpected(failure_reason(nullptr));
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  if (SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1) {
    return std::unexpected(failure_reason(nullptr));
  }

  if (tls.ca_file) {
    if (SSL_CTX_load_verify_locations(context.get(), tls.ca_file->c_str(), nullptr) != 1) {
      return std::unexpected("cannot load the CA file " + *tls.ca_file + ": " + failure_reason(nullptr));
    }
  } else {
    auto store = tls_detail::machine_trust([](const char* name) { return std::getenv(name); }, exists);
    if (!store) {
      return std::unexpected("no trusted certificates found on this machine; give a CA file or set SSL_CERT_FILE");
    }
    const char* file = store->file ? store->file->c_str() : nullptr;
    const char* dir = store->dir ? store->dir->c_str() : nullptr;
    if (SSL_CTX_load_verify_locations(context.get(), file, dir) != 1) {
      return std::unexpected("cannot load the machine's trusted certificates: " + failure_reason(nullptr));
    }
  }

  if (tls.cert_file.has_value() != tls.key_file.has_value()) {
    return std::unexpected("a client certificate needs both its certificate file and its key file");
  }
  if (tls.cert_file) {
    if (SSL_CTX_use_certificate_chain_file(context.get(), tls.cert_file->c_str()) != 1) {
      return std::unexpected("cannot load the client certificate " + *tls.cert_file + ": " + failure_reason(nullptr));
    }
    if (SSL_CTX_use_PrivateKey_file(context.get(), tls.key_file->c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context.get()) != 1) {
      return std::unexpected("cannot load the client key " + *tls.key_file + ": " + failure_reason(nullptr));
    }
  }
  return context;
}

// The name the certificate must carry: the server name, else the host. An
// IP literal is checked against the certificate's IP addresses and sent as
// no SNI, which names hosts only.
bool expect_name(SSL* session, const std::string& name) {
  X509_VERIFY_PARAM* param = SSL_get0_param(session);
  if (is_ip_literal(name)) return X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1;
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  return SSL_set_tlsext_host_name(session, name.c_str()) == 1 && SSL_set1_host(session, name.c_str()) == 1;
}

class TlsTransport final : public Transport {
 public:
  std::expected<std::unique_ptr<ByteStream>, E> open(Socket socket, const ClientConfig& config,
                                                      const std::string& target) const override {
    if (!config.tls) return plain_transport().open(std::move(socket), config, target);
    auto context = make_context(*config.tls);
    if (!context) return refused(target, std::move(context.error()));

    // Non-blocking from here: every wait is a poll() within its deadline.
    const int flags = ::fcntl(socket.fd(), F_GETFL);
    if (flags < 0 || ::fcntl(socket.fd(), F_SETFL, flags | O_NONBLOCK) != 0) {
      return std::unexpected(E{E::Io{IoError::os(errno)}});
    }
    SslSession session(SSL_new(context->get()));
    BIO* bio = session ? tls_detail::socket_bio(socket.fd()) : nullptr;
    if (bio == nullptr) return refused(target, failure_reason(nullptr));
    SSL_set_bio(session.get(), bio, bio);  // the session owns the BIO now
    if (!expect_name(session.get(), config.tls->server_name.value_or(config.host))) {
      return refused(target, failure_reason(session.get()));
    }

    // The whole handshake within one io_timeout: a peer that accepts the
    // connection and never answers fails this attempt.
    auto shaken = tls_detail::drive(session.get(), socket.fd(), io_deadline(config.io_timeout),
                                    [&] { return SSL_connect(session.get()); });
    if (!shaken) return handshake_failure(target, std::move(shaken.error()));
    // A close without close_notify between frames is the end of the stream;
    // inside a frame the frame reader finds it truncated.
    SSL_set_options(session.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    return std::make_unique<tls_detail::TlsStream>(std::move(socket), std::move(session), config.io_timeout);
  }

 private:
  // Refused on certificate or protocol grounds: final. The peer closing,
  // resetting or staying silent: an I/O failure of this attempt, retried.
  static std::unexpected<E> handshake_failure(const std::string& target, tls_detail::SslFailure failure) {
    if (failure.code == SSL_ERROR_SSL) return refused(target, std::move(failure.error.detail));
    if (failure.code == SSL_ERROR_WANT_READ || failure.code == SSL_ERROR_WANT_WRITE) {
      const bool timed_out = failure.error.kind == IoError::Kind::Os && failure.error.os_code == EAGAIN;
      if (timed_out) failure.error = IoError::made(IoError::Kind::TimedOut);
    }
    return std::unexpected(E{E::Io{std::move(failure.error)}});
  }
};

}  // namespace

const Transport& tls_transport() {
  static const TlsTransport transport;
  return transport;
}

}  // namespace remote_session_client
