#include "trust_store.h"

#include <array>

namespace remote_session_client::tls_detail {

namespace {

constexpr std::array<std::string_view, 6> kBundles = {
    "/etc/ssl/certs/ca-certificates.crt",                 // Debian, Ubuntu, Alpine, Gentoo
    "/etc/pki/tls/certs/ca-bundle.crt",                   // RHEL, Fedora, Amazon Linux
    "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",  // RHEL, Fedora (the extracted store)
    "/etc/ssl/ca-bundle.pem",                             // SUSE
    "/var/lib/ca-certificates/ca-bundle.pem",             // SUSE (the generated store)
    "/etc/ssl/cert.pem",                                  // Alpine, and other systems' one file
};
constexpr std::string_view kHashedDir = "/etc/ssl/certs";

std::optional<std::string> non_empty(const char* value) {
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

}  // namespace

std::optional<TrustLocations> machine_trust(const std::function<const char*(const char*)>& env,
                                            const std::function<bool(const std::string&)>& exists) {
  TrustLocations given{non_empty(env("SSL_CERT_FILE")), non_empty(env("SSL_CERT_DIR"))};
  if (given.file || given.dir) return given;
  for (std::string_view bundle : kBundles) {
    if (exists(std::string(bundle))) return TrustLocations{std::string(bundle), std::nullopt};
  }
  if (exists(std::string(kHashedDir))) return TrustLocations{std::nullopt, std::string(kHashedDir)};
  return std::nullopt;
}

}  // namespace remote_session_client::tls_detail
