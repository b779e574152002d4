// Windows backend of the certificate store: the CryptoAPI of crypt32.dll,
// loaded on first use (never from the loader's notification). The opaque
// handles of platform/CertStore.h are the CryptoAPI's own pointers.
#include <mutex>

#include "platform/CertStore.h"

// The system headers come after the platform headers: their macros would
// otherwise replace the platform layer's constants of the same names.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

namespace delvan::platform {
namespace {

struct Crypt32 {
  decltype(&::CertOpenSystemStoreW) OpenSystemStore = nullptr;
  decltype(&::CertEnumCertificatesInStore) EnumCertificates = nullptr;
  decltype(&::CertDuplicateCertificateContext) Duplicate = nullptr;
  decltype(&::CertFreeCertificateContext) Free = nullptr;
  decltype(&::CertCloseStore) Close = nullptr;
};

template <class F>
void Resolve(HMODULE module, F& f, const char* name) {
  f = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// The module stays loaded for the life of the process: freeing it while
// the loader runs our detach would be a loader-lock hazard.
const Crypt32* Api() {
  static std::once_flag once;
  static Crypt32 api;
  static bool loaded = false;
  std::call_once(once, [] {
    HMODULE module = ::LoadLibraryW(L"crypt32.dll");
    if (!module) return;
    Resolve(module, api.OpenSystemStore, "CertOpenSystemStoreW");
    Resolve(module, api.EnumCertificates, "CertEnumCertificatesInStore");
    Resolve(module, api.Duplicate, "CertDuplicateCertificateContext");
    Resolve(module, api.Free, "CertFreeCertificateContext");
    Resolve(module, api.Close, "CertCloseStore");
    loaded = api.OpenSystemStore && api.EnumCertificates && api.Duplicate && api.Free && api.Close;
  });
  return loaded ? &api : nullptr;
}

::HCERTSTORE Native(HCERTSTORE store) { return reinterpret_cast<::HCERTSTORE>(store); }
::PCCERT_CONTEXT Native(PCCERT_CONTEXT context) {
  return reinterpret_cast<::PCCERT_CONTEXT>(context);
}
PCCERT_CONTEXT Ours(::PCCERT_CONTEXT context) { return reinterpret_cast<PCCERT_CONTEXT>(context); }

}  // namespace

HCERTSTORE CertOpenSystemStoreW(std::uintptr_t provider, std::u16string_view subsystemProtocol) {
  const Crypt32* api = Api();
  if (!api) return nullptr;
  std::wstring name(subsystemProtocol.begin(), subsystemProtocol.end());
  return reinterpret_cast<HCERTSTORE>(
      api->OpenSystemStore(static_cast<HCRYPTPROV_LEGACY>(provider), name.c_str()));
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT previous) {
  const Crypt32* api = Api();
  if (!api || !store) return nullptr;
  return Ours(api->EnumCertificates(Native(store), Native(previous)));
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT context) {
  const Crypt32* api = Api();
  if (!api || !context) return nullptr;
  return Ours(api->Duplicate(Native(context)));
}

bool CertFreeCertificateContext(PCCERT_CONTEXT context) {
  if (!context) return true;
  const Crypt32* api = Api();
  return api && api->Free(Native(context)) != FALSE;
}

bool CertCloseStore(HCERTSTORE store, std::uint32_t flags) {
  if (!store) return true;
  const Crypt32* api = Api();
  if (!api) return false;
  // The CryptoAPI's forced close would free the certificates still held as
  // well; this layer promises that they stay valid until they are freed, so
  // the store closes without it and goes when its last certificate does.
  return api->Close(Native(store), flags & ~std::uint32_t{CERT_CLOSE_STORE_FORCE_FLAG}) != FALSE;
}

std::span<const std::uint8_t> CertGetSerialNumber(PCCERT_CONTEXT context) {
  ::PCCERT_CONTEXT native = Native(context);
  if (!native || !native->pCertInfo) return {};
  const CRYPT_INTEGER_BLOB& serial = native->pCertInfo->SerialNumber;
  return {serial.pbData, serial.cbData};
}

}  // namespace delvan::platform
