// Certificate store services of the platform, shaped after the CryptoAPI
// calls that pick a client certificate: open the current user's personal
// store, walk its certificates, read a certificate's serial number, release
// certificates and the store. One backend per platform implements this
// header.
//
// The POSIX backend's personal store ("MY") is the directory
// $XDG_CONFIG_HOME/delvan/certs/ (without XDG_CONFIG_HOME:
// ~/.config/delvan/certs/), read when the store is opened, files in name
// order: each *.pem file holds one certificate, optionally followed by the
// certificates of its chain and by its unencrypted private key; each *.p12
// or *.pfx file is a PKCS#12 bundle without password. Files it cannot read
// are skipped.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace delvan::platform {

// Defined by the backend.
struct CertStore;
struct CertContext;
using HCERTSTORE = CertStore*;
using PCCERT_CONTEXT = const CertContext*;

// Frees the store even though certificates taken from it are still held.
// Those certificates stay valid in this backend until they are freed.
inline constexpr std::uint32_t CERT_CLOSE_STORE_FORCE_FLAG = 0x00000001u;

// Opens a system store of the current user by name; "MY" is the personal
// store. Null (with the last error set) for another name. The caller closes
// the store with CertCloseStore. provider must be 0.
HCERTSTORE CertOpenSystemStoreW(std::uintptr_t provider, std::u16string_view subsystemProtocol);

// The certificate after previous (null: the first), or null at the end.
// Frees previous; the certificate returned is the caller's to free (or to
// pass back here).
PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous);

// Another reference to context, freed with CertFreeCertificateContext.
PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context);

// Frees one reference to a certificate; null is allowed.
bool CertFreeCertificateContext(PCCERT_CONTEXT context);

// Closes a store; null is allowed.
bool CertCloseStore(HCERTSTORE store, std::uint32_t flags);

// The serial number's bytes in the order the store holds them. This POSIX
// store holds them as the certificate writes them, most significant first,
// so their hexadecimal is the serial that openssl prints; the CryptoAPI
// holds them least significant first. Valid while the context is held.
std::span<const std::uint8_t> CertGetSerialNumber(PCCERT_CONTEXT context);

// Frees a certificate reference or closes a store when it goes out of scope.
struct CertContextFree {
  void operator()(PCCERT_CONTEXT context) const noexcept { CertFreeCertificateContext(context); }
};
using UniqueCertContext = std::unique_ptr<const CertContext, CertContextFree>;
struct CertStoreClose {
  void operator()(HCERTSTORE store) const noexcept { CertCloseStore(store, 0); }
};
using UniqueCertStore = std::unique_ptr<CertStore, CertStoreClose>;

}  // namespace delvan::platform
