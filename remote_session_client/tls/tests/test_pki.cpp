#include "test_pki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace remote_session_client::testing {

namespace {

struct KeyFree { void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); } };
struct CertFree { void operator()(X509* cert) const { X509_free(cert); } };
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

template <typename Write>
void write_pem(const std::string& path, Write&& write) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "w"), std::fclose);
  check(file != nullptr && write(file.get()) == 1, "write PEM");
}

Key read_key(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r"), std::fclose);
  check(file != nullptr, "open key");
  Key key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  check(key != nullptr, "read key");
  return key;
}

Cert read_cert(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r"), std::fclose);
  check(file != nullptr, "open cert");
  Cert cert(PEM_read_X509(file.get(), nullptr, nullptr, nullptr));
  check(cert != nullptr, "read cert");
  return cert;
}

void add_extension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  check(extension != nullptr && X509_add_ext(cert, extension, -1) == 1, "extension");
  X509_EXTENSION_free(extension);
}

// A certificate for `key` named `name`, signed by `issuer_key` (as `issuer`,
// or itself when issuer is null).
Cert make_cert(EVP_PKEY* key, const std::string& name, X509* issuer, EVP_PKEY* issuer_key, int serial,
               bool ca, const std::vector<std::string>& sans, bool expired) {
  Cert cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  const long day = 24 * 60 * 60;
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), expired ? -2 * day : -day);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), expired ? -day : 30 * day);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  add_extension(cert.get(), signer, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
  if (ca) add_extension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  std::string alt;
  for (const std::string& san : sans) alt += (alt.empty() ? "" : ",") + san;
  if (!alt.empty()) add_extension(cert.get(), signer, NID_subject_alt_name, alt);
  check(X509_sign(cert.get(), issuer_key, EVP_sha256()) > 0, "sign");
  return cert;
}

}  // namespace

TestPki::TestPki() {
  char pattern[] = "/tmp/orvik-tls-test-XXXXXX";
  check(::mkdtemp(pattern) != nullptr, "mkdtemp");
  dir_ = pattern;
}

TestPki::~TestPki() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

PemPair TestPki::make_ca(const std::string& name) {
  Key key(EVP_EC_gen("P-256"));
  check(key != nullptr, "key");
  Cert cert = make_cert(key.get(), name, nullptr, key.get(), serial_++, true, {}, false);
  PemPair pair{path(name + ".crt"), path(name + ".key")};
  write_pem(pair.cert, [&](FILE* f) { return PEM_write_X509(f, cert.get()); });
  write_pem(pair.key, [&](FILE* f) {
    return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  return pair;
}

PemPair TestPki::make_leaf(const PemPair& issuer, const std::string& name, const std::vector<std::string>& sans,
                           bool expired) {
  Key issuer_key = read_key(issuer.key);
  Cert issuer_cert = read_cert(issuer.cert);
  Key key(EVP_EC_gen("P-256"));
  check(key != nullptr, "key");
  const int serial = serial_++;
  Cert cert = make_cert(key.get(), name, issuer_cert.get(), issuer_key.get(), serial, false, sans, expired);
  const std::string stem = name + "-" + std::to_string(serial);
  PemPair pair{path(stem + ".crt"), path(stem + ".key")};
  write_pem(pair.cert, [&](FILE* f) { return PEM_write_X509(f, cert.get()); });
  write_pem(pair.key, [&](FILE* f) {
    return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  return pair;
}

}  // namespace remote_session_client::testing
