// Certificates made at test time with OpenSSL's API: a CA, and leaves it
// signs, written as PEM files into a directory removed with the object.
#pragma once

#include <string>
#include <vector>

namespace remote_session_client::testing {

struct PemPair {
  std::string cert;  // path of the certificate
  std::string key;   // path of its private key
};

class TestPki {
 public:
  TestPki();
  TestPki(const TestPki&) = delete;
  TestPki& operator=(const TestPki&) = delete;
  ~TestPki();

  // A self-signed CA named `name`.
  PemPair make_ca(const std::string& name);
  // A leaf signed by `issuer`, with the subject alternative names `sans`
  // ("DNS:localhost", "IP:127.0.0.1"); expired: valid until yesterday.
  PemPair make_leaf(const PemPair& issuer, const std::string& name, const std::vector<std::string>& sans,
                    bool expired = false);

 private:
  std::string path(const std::string& file) const { return dir_ + "/" + file; }
  std::string dir_;
  int serial_ = 1;
};

}  // namespace remote_session_client::testing
