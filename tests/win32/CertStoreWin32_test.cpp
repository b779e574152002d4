// The certificate store over the CryptoAPI: the personal store, found by
// the serial number as the transport writes it, and a forced close that
// leaves a held certificate valid.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/CertStore.h"

// After the platform layer's headers, whose constants its macros would hide.
// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

namespace delvan::platform {
namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string hex;
  char two[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    hex += two;
  }
  return hex;
}

// Puts the PEM certificate of path into the current user's "MY" store.
bool AddToPersonalStore(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream pem;
  pem << in.rdbuf();
  const std::string text = pem.str();
  DWORD size = 0;
  if (!::CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                              nullptr))
    return false;
  std::string der(size, '\0');
  if (!::CryptStringToBinaryA(text.c_str(), 0, CRYPT_STRING_BASE64HEADER,
                              reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
    return false;
  ::HCERTSTORE my = ::CertOpenSystemStoreW(0, L"MY");
  if (!my) return false;
  const BOOL ok = ::CertAddEncodedCertificateToStore(
      my, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size,
      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  ::CertCloseStore(my, 0);
  return ok != FALSE;
}

TEST(CryptoApiCertStore, PersonalStoreBySerialAndForcedClose) {
  const char* authority = std::getenv("DELVAN_MOCK_AUTHORITY");
  ASSERT_NE(authority, nullptr) << "run these tests through run_unit_tests.sh";
  ASSERT_TRUE(AddToPersonalStore(authority));

  HCERTSTORE store = platform::CertOpenSystemStoreW(0, u"MY");
  ASSERT_NE(store, nullptr);
  PCCERT_CONTEXT held = nullptr;
  int count = 0;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c;
       c = CertEnumCertificatesInStore(store, c)) {
    ++count;
    // The last one is the authority just added (a replace keeps one copy).
    platform::CertFreeCertificateContext(held);
    held = CertDuplicateCertificateContext(c);
  }
  ASSERT_GT(count, 0);
  ASSERT_NE(held, nullptr);
  const std::string serial = Hex(CertGetSerialNumber(held));
  EXPECT_FALSE(serial.empty());

  // Closed with the force flag while a certificate is held: the certificate
  // stays readable until it is freed.
  EXPECT_TRUE(platform::CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG));
  EXPECT_EQ(Hex(CertGetSerialNumber(held)), serial);
  EXPECT_TRUE(platform::CertFreeCertificateContext(held));
}

}  // namespace
}  // namespace delvan::platform
