// POSIX backend of the certificate store: the personal store is a directory
// of PEM and PKCS#12 files in the user's configuration directory.
#include "platform/posix/CertStorePosix.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/HttpClient.h"
#include "rtl/UnicodeString.h"

namespace delvan::platform {

struct CertStore {
  std::vector<CertContext*> certs;  // one reference each
};

CertContext::~CertContext() {
  X509_free(cert);
  EVP_PKEY_free(key);
  sk_X509_pop_free(chain, X509_free);
}

namespace {

namespace fs = std::filesystem;

// Live contexts and stores: every call checks its argument here, so a stale
// or foreign pointer fails instead of being used. References are counted
// and released under the same lock.
struct Registry {
  std::mutex lock;
  std::unordered_set<const CertContext*> contexts;
  std::unordered_set<const CertStore*> stores;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

CertContext* Register(std::unique_ptr<CertContext> context) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  r.contexts.insert(context.get());
  return context.release();
}

// Drops one reference; the caller holds the registry lock.
void ReleaseLocked(Registry& r, const CertContext* context) {
  if (context->refs.fetch_sub(1) == 1) {
    r.contexts.erase(context);
    delete context;
  }
}

std::vector<std::uint8_t> SerialOf(X509* cert) {
  const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
  const unsigned char* data = ASN1_STRING_get0_data(serial);
  return {data, data + ASN1_STRING_length(serial)};
}

std::unique_ptr<CertContext> MakeContext(X509* cert, EVP_PKEY* key, STACK_OF(X509) * chain) {
  auto context = std::make_unique<CertContext>();
  context->cert = cert;
  context->key = key;
  context->chain = chain;
  context->serial = SerialOf(cert);
  return context;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::unique_ptr<CertContext> LoadPem(const std::string& bytes) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())), BIO_free);
  if (!bio) return nullptr;
  X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
  if (!cert) return nullptr;
  STACK_OF(X509)* chain = sk_X509_new_null();
  while (X509* next = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
    sk_X509_push(chain, next);
  // The key may stand anywhere in the file; reading again skips the
  // certificates. An encrypted key is not read (no password prompt).
  std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(
      BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())), BIO_free);
  static pem_password_cb* const kNoPassword = [](char*, int, int, void*) { return 0; };
  EVP_PKEY* key =
      keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, kNoPassword, nullptr) : nullptr;
  return MakeContext(cert, key, chain);
}

std::unique_ptr<CertContext> LoadPkcs12(const std::string& bytes) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())), BIO_free);
  if (!bio) return nullptr;
  std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(d2i_PKCS12_bio(bio.get(), nullptr),
                                                      PKCS12_free);
  if (!p12) return nullptr;
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* chain = nullptr;
  if (!PKCS12_parse(p12.get(), "", &key, &cert, &chain) &&
      !PKCS12_parse(p12.get(), nullptr, &key, &cert, &chain))
    return nullptr;
  if (!cert) {
    EVP_PKEY_free(key);
    sk_X509_pop_free(chain, X509_free);
    return nullptr;
  }
  return MakeContext(cert, key, chain);
}

// $XDG_CONFIG_HOME/delvan/certs, or ~/.config/delvan/certs. Relative
// XDG_CONFIG_HOME values are ignored, as the base directory rules say.
fs::path PersonalStoreDirectory() {
  if (const char* xdg = secure_getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
    return fs::path(xdg) / "delvan" / "certs";
  std::string home;
  if (const char* h = secure_getenv("HOME"); h && h[0] == '/') {
    home = h;
  } else {
    struct passwd pw;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && pw.pw_dir)
      home = pw.pw_dir;
  }
  if (home.empty()) return {};
  return fs::path(home) / ".config" / "delvan" / "certs";
}

bool HasExtension(const fs::path& path, std::initializer_list<std::string_view> extensions) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return std::find(extensions.begin(), extensions.end(), ext) != extensions.end();
}

std::unique_ptr<CertStore> LoadPersonalStore() {
  auto store = std::make_unique<CertStore>();
  const fs::path dir = PersonalStoreDirectory();
  std::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec)) return store;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir, ec))
    if (entry.is_regular_file(ec)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::unique_ptr<CertContext> context;
    if (HasExtension(file, {".pem", ".crt"}))
      context = LoadPem(ReadFile(file));
    else if (HasExtension(file, {".p12", ".pfx"}))
      context = LoadPkcs12(ReadFile(file));
    if (context) store->certs.push_back(Register(std::move(context)));
  }
  // Files that did not parse leave errors on the thread's OpenSSL queue,
  // where the TLS layer would later read them as its own.
  ERR_clear_error();
  return store;
}

}  // namespace

HCERTSTORE CertOpenSystemStoreW(std::uintptr_t provider, std::u16string_view subsystemProtocol) {
  if (provider != 0 || !rtl::SameTextAscii(subsystemProtocol, u"MY")) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::unique_ptr<CertStore> store = LoadPersonalStore();
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  r.stores.insert(store.get());
  return store.release();
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  if (!r.stores.contains(store) || (previous && !r.contexts.contains(previous))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto at = store->certs.begin();
  if (previous) {
    at = std::find(store->certs.begin(), store->certs.end(), previous);
    ReleaseLocked(r, previous);
    if (at != store->certs.end()) ++at;
  }
  if (at == store->certs.end()) {
    SetLastError(0x80092004u);  // CRYPT_E_NOT_FOUND
    return nullptr;
  }
  (*at)->refs.fetch_add(1);
  return *at;
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context) {
  return posix::AcquireCertContext(context);
}

bool CertFreeCertificateContext(PCCERT_CONTEXT context) {
  if (!context) return true;
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  if (!r.contexts.contains(context)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  ReleaseLocked(r, context);
  return true;
}

bool CertCloseStore(HCERTSTORE store, std::uint32_t /*flags*/) {
  if (!store) return true;
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  if (!r.stores.erase(store)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // Forced or not, certificates still held elsewhere keep their own
  // reference and stay valid.
  for (CertContext* context : store->certs) ReleaseLocked(r, context);
  delete store;
  return true;
}

std::span<const std::uint8_t> CertGetSerialNumber(PCCERT_CONTEXT context) {
  if (!context) return {};
  return context->serial;
}

namespace posix {

PCCERT_CONTEXT AcquireCertContext(const void* context) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  auto* c = static_cast<const CertContext*>(context);
  if (!c || !r.contexts.contains(c)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  c->refs.fetch_add(1);
  return c;
}

std::vector<PCCERT_CONTEXT> PersonalCertificatesWithKey() {
  std::vector<PCCERT_CONTEXT> out;
  UniqueCertStore store(CertOpenSystemStoreW(0, u"MY"));
  if (!store) return out;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store.get(), nullptr); c;
       c = CertEnumCertificatesInStore(store.get(), c)) {
    if (c->key) out.push_back(CertDuplicateCertificateContext(c));
  }
  return out;
}

}  // namespace posix
}  // namespace delvan::platform
