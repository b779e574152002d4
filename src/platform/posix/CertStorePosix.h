// The certificate records of the POSIX certificate store, shared with the
// HTTP backend, which hands a chosen certificate and its key to OpenSSL.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/CertStore.h"

namespace delvan::platform {

// One certificate of a store, counted: the store holds one reference and
// every context handed out holds one more. Owns its OpenSSL objects.
struct CertContext {
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;           // null when the file held no key
  STACK_OF(X509) * chain = nullptr;  // further certificates of the file
  std::vector<std::uint8_t> serial;  // most significant byte first
  mutable std::atomic<int> refs{1};

  CertContext() = default;
  CertContext(const CertContext&) = delete;
  CertContext& operator=(const CertContext&) = delete;
  ~CertContext();
};

namespace posix {

// Another reference to context when it is a live certificate context, or
// null. Lets the HTTP backend take a context from its caller safely.
PCCERT_CONTEXT AcquireCertContext(const void* context);

// The certificates of the personal store that have a private key, in store
// order; each is a reference the caller frees.
std::vector<PCCERT_CONTEXT> PersonalCertificatesWithKey();

}  // namespace posix
}  // namespace delvan::platform
