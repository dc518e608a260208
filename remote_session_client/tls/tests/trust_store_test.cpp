// Where the machine's trusted certificates are looked for.
#include "trust_store.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace remote_session_client::tls_detail {
namespace {

TEST(MachineTrust, SearchOrder) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> env;
    std::set<std::string> files;
    std::optional<TrustLocations> found;
  };
  const std::set<std::string> debian = {"/etc/ssl/certs/ca-certificates.crt", "/etc/ssl/certs", "/etc/ssl/cert.pem"};
  const Case cases[] = {
      {"environment_file_first", {{"SSL_CERT_FILE", "/x/ca.pem"}}, debian, TrustLocations{"/x/ca.pem", {}}},
      {"environment_dir_alone", {{"SSL_CERT_DIR", "/x/certs"}}, debian, TrustLocations{{}, "/x/certs"}},
      {"empty_environment_ignored", {{"SSL_CERT_FILE", ""}}, debian,
       TrustLocations{"/etc/ssl/certs/ca-certificates.crt", {}}},
      {"rhel", {}, {"/etc/pki/tls/certs/ca-bundle.crt"}, TrustLocations{"/etc/pki/tls/certs/ca-bundle.crt", {}}},
      {"suse", {}, {"/var/lib/ca-certificates/ca-bundle.pem"},
       TrustLocations{"/var/lib/ca-certificates/ca-bundle.pem", {}}},
      {"alpine_second_name", {}, {"/etc/ssl/cert.pem"}, TrustLocations{"/etc/ssl/cert.pem", {}}},
      {"hashed_directory_last", {}, {"/etc/ssl/certs"}, TrustLocations{{}, "/etc/ssl/certs"}},
      {"nothing", {}, {}, std::nullopt},
  };
  for (const Case& c : cases) {
    auto env = [&](const char* name) -> const char* {
      auto it = c.env.find(name);
      return it == c.env.end() ? nullptr : it->second.c_str();
    };
    auto exists = [&](const std::string& path) { return c.files.contains(path); };
    EXPECT_EQ(machine_trust(env, exists), c.found) << c.name;
  }
}

}  // namespace
}  // namespace remote_session_client::tls_detail
