// The one place a TLS failure's text is taken from OpenSSL.
#include <openssl/err.h>
#include <openssl/x509.h>

#include "openssl_handles.h"

namespace remote_session_client::tls_detail {

std::string failure_reason(const SSL* session) {
  // The queue's last entry is the one the failing call itself pushed
  // (OpenSSL adds the causes below it first).
  const unsigned long error = ERR_peek_last_error();
  ERR_clear_error();
  std::string text;
  if (const char* reason = error != 0 ? ERR_reason_error_string(error) : nullptr) {
    text = reason;
  } else if (error != 0) {
    char buffer[256];
    ERR_error_string_n(error, buffer, sizeof buffer);
    text = buffer;
  } else {
    text = "TLS failure without a reason";
  }
  const long verified = session != nullptr ? SSL_get_verify_result(session) : X509_V_OK;
  if (ERR_GET_LIB(error) == ERR_LIB_SSL && ERR_GET_REASON(error) == SSL_R_CERTIFICATE_VERIFY_FAILED &&
      verified != X509_V_OK) {
    text += " (" + std::string(X509_verify_cert_error_string(verified)) + ")";
  }
  return text;
}

}  // namespace remote_session_client::tls_detail
