#include "TestPki.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace delvan::registrymock {

namespace {

[[noreturn]] void Throw(const char* what) {
  ERR_clear_error();
  throw std::runtime_error(std::string("test authority: ") + what);
}

PkeyPtr NewKey() {
  PkeyPtr key(EVP_EC_gen("P-256"));
  if (!key) Throw("key generation failed");
  return key;
}

void AddExtension(X509* cert, X509V3_CTX& ctx, int nid, const std::string& value) {
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  if (!ext || !X509_add_ext(cert, ext, -1)) {
    X509_EXTENSION_free(ext);
    Throw("bad extension");
  }
  X509_EXTENSION_free(ext);
}

X509Ptr NewCertificate(const std::string& commonName, EVP_PKEY* key, std::uint64_t serial,
                       bool expired, long days) {
  X509Ptr cert(X509_new());
  if (!cert || !X509_set_version(cert.get(), 2)) Throw("no certificate");
  if (serial == 0) {
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) != 1)
      Throw("no random");
    serial = (serial >> 1) | 1;  // positive and non-zero
  }
  if (!ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()), serial)) Throw("serial");
  const long day = 24 * 60 * 60;
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), expired ? -2 * day : -60 * 60);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), expired ? -day : days * day);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>("Delvan tests"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  if (!X509_set_pubkey(cert.get(), key)) Throw("public key");
  return cert;
}

}  // namespace

TestAuthority::TestAuthority() {
  FCa.key = NewKey();
  FCa.certificate = NewCertificate("Delvan Test Authority", FCa.key.get(), 0, false, 30);
  X509* ca = FCa.certificate.get();
  X509_set_issuer_name(ca, X509_get_subject_name(ca));
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, ca, ca, nullptr, nullptr, 0);
  AddExtension(ca, ctx, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(ca, ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(ca, ctx, NID_subject_key_identifier, "hash");
  if (!X509_sign(ca, FCa.key.get(), EVP_sha256())) Throw("signing the authority");
}

KeyAndCertificate TestAuthority::Issue(const IssueOptions& options) const {
  KeyAndCertificate out;
  out.key = NewKey();
  out.certificate =
      NewCertificate(options.commonName, out.key.get(), options.serial, options.expired, 7);
  X509* cert = out.certificate.get();
  X509_set_issuer_name(cert, X509_get_subject_name(FCa.certificate.get()));
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, FCa.certificate.get(), cert, nullptr, nullptr, 0);
  AddExtension(cert, ctx, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(cert, ctx, NID_key_usage, "critical,digitalSignature");
  AddExtension(cert, ctx, NID_ext_key_usage, options.forClient ? "clientAuth" : "serverAuth");
  AddExtension(cert, ctx, NID_subject_key_identifier, "hash");
  AddExtension(cert, ctx, NID_authority_key_identifier, "keyid:always");
  std::string names;
  for (const std::string& dns : options.dnsNames) names += (names.empty() ? "DNS:" : ",DNS:") + dns;
  for (const std::string& ip : options.ipAddresses) names += (names.empty() ? "IP:" : ",IP:") + ip;
  if (!names.empty()) AddExtension(cert, ctx, NID_subject_alt_name, names);
  if (!X509_sign(cert, FCa.key.get(), EVP_sha256())) Throw("signing a certificate");
  return out;
}

KeyAndCertificate SelfSigned(const IssueOptions& options) {
  KeyAndCertificate out;
  out.key = NewKey();
  out.certificate =
      NewCertificate(options.commonName, out.key.get(), options.serial, options.expired, 7);
  X509* cert = out.certificate.get();
  X509_set_issuer_name(cert, X509_get_subject_name(cert));
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  AddExtension(cert, ctx, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(cert, ctx, NID_key_usage, "critical,digitalSignature");
  AddExtension(cert, ctx, NID_ext_key_usage, "serverAuth");
  std::string names;
  for (const std::string& dns : options.dnsNames) names += (names.empty() ? "DNS:" : ",DNS:") + dns;
  for (const std::string& ip : options.ipAddresses) names += (names.empty() ? "IP:" : ",IP:") + ip;
  if (!names.empty()) AddExtension(cert, ctx, NID_subject_alt_name, names);
  if (!X509_sign(cert, out.key.get(), EVP_sha256())) Throw("signing a certificate");
  return out;
}

namespace {
template <class Write>
std::string BioBytes(Write write) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  if (!bio || !write(bio.get())) Throw("PEM output");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}
}  // namespace

std::string CertificatePem(X509* certificate) {
  return BioBytes([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate) == 1; });
}

std::string PrivateKeyPem(EVP_PKEY* key) {
  return BioBytes([&](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  });
}

std::string Pkcs12(X509* certificate, EVP_PKEY* key) {
  std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(
      PKCS12_create("", "Delvan test client", key, certificate, nullptr, 0, 0, 0, 0, 0),
      PKCS12_free);
  if (!p12) Throw("PKCS#12 output");
  return BioBytes([&](BIO* bio) { return i2d_PKCS12_bio(bio, p12.get()) == 1; });
}

}  // namespace delvan::registrymock
