// Ownership of OpenSSL's objects, and the few facts the TLS layer's files
// share.
#pragma once

#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace remote_session_client::tls_detail {

struct SslCtxFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* session) const { SSL_free(session); }
};
using SslContext = std::unique_ptr<SSL_CTX, SslCtxFree>;
using SslSession = std::unique_ptr<SSL, SslFree>;

// A BIO on a non-blocking socket that sends with MSG_NOSIGNAL: OpenSSL's own
// socket BIO writes with write(), and a peer that closed would kill the
// process with SIGPIPE. The descriptor stays the caller's.
BIO* socket_bio(int fd);

// Why the last TLS call failed, as OpenSSL states it: the reason of the
// error it queued ("certificate verify failed"), with the verification
// result when the certificate was refused ("certificate verify failed
// (certificate has expired)"). Empties the error queue.
std::string failure_reason(const SSL* session);

}  // namespace remote_session_client::tls_detail
