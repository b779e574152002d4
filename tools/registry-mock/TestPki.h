// The mock service's own certificate authority: made in memory at start,
// it issues the server certificate and, for tests, client certificates.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace delvan::registrymock {

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct PkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

struct KeyAndCertificate {
  PkeyPtr key;
  X509Ptr certificate;
};

struct IssueOptions {
  std::string commonName;
  std::vector<std::string> dnsNames;
  std::vector<std::string> ipAddresses;
  bool forClient = false;    // extended key usage clientAuth instead of serverAuth
  bool expired = false;      // valid from two days ago until yesterday
  std::uint64_t serial = 0;  // 0: a random serial
};

class TestAuthority {
 public:
  // Makes a new key and a self-signed authority certificate. Throws
  // std::runtime_error when OpenSSL fails.
  TestAuthority();

  KeyAndCertificate Issue(const IssueOptions& options) const;
  X509* Certificate() const { return FCa.certificate.get(); }

 private:
  KeyAndCertificate FCa;
};

// A certificate for options signed by its own new key (its issuer is its
// subject); no authority vouches for it.
KeyAndCertificate SelfSigned(const IssueOptions& options);

// PEM texts of a certificate and of an unencrypted private key.
std::string CertificatePem(X509* certificate);
std::string PrivateKeyPem(EVP_PKEY* key);
// A PKCS#12 bundle (DER) of a certificate and its key, with an empty password.
std::string Pkcs12(X509* certificate, EVP_PKEY* key);

}  // namespace delvan::registrymock
