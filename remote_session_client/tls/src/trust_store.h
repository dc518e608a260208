// Where the running machine keeps the certificates it trusts. A TLS library
// linked statically carries its build machine's default paths, which need
// not exist on the machine it runs on, so the places are searched here.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace remote_session_client::tls_detail {

struct TrustLocations {
  std::optional<std::string> file;  // a PEM bundle
  std::optional<std::string> dir;   // a hashed certificate directory
  friend bool operator==(const TrustLocations&, const TrustLocations&) = default;
};

// SSL_CERT_FILE and SSL_CERT_DIR (either given: those alone, as the
// machine's administrator asked); else the first bundle of the
// distributions' places that exists (Debian/Ubuntu/Alpine, RHEL/Fedora/
// Amazon Linux, SUSE, Alpine's second name); else the hashed directory
// /etc/ssl/certs. Nothing when the machine has none of them. `env` and
// `exists` are getenv and a file test, given so the search can be tested.
std::optional<TrustLocations> machine_trust(
    const std::function<const char*(const char*)>& env,
    const std::function<bool(const std::string&)>& exists);

}  // namespace remote_session_client::tls_detail
