// The certificate store over the CryptoAPI: the personal store, found by
// the serial number as the transport writes it, and a forced close that
// leaves a held certificate valid.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "platform/CertStore.h"
#include "transport/SOAPHTTPTrans.h"

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

// The transport's answer to the platform's request for a client
// certificate: the one whose serial number, written in the order the store
// holds its bytes (least significant first in the CryptoAPI), equals the
// configured one ignoring case. Wine's WinINet never asks (its TLS layer
// fails the handshake with a server that wants a certificate), so the
// selection is driven here as the send loop drives it.
TEST(CryptoApiCertStore, TransportChoosesTheClientCertificateBySerialNumber) {
  const char* paths = std::getenv("DELVAN_CLIENT_CERTS");
  ASSERT_NE(paths, nullptr) << "run these tests through run_unit_tests.sh";
  const std::string both = paths;
  const std::size_t split = both.find(';');
  ASSERT_NE(split, std::string::npos);
  ASSERT_TRUE(AddToPersonalStore(both.substr(0, split).c_str()));   // serial 1A2B3C4D5E
  ASSERT_TRUE(AddToPersonalStore(both.substr(split + 1).c_str()));  // serial 77

  using transport::ESOAPHTTPException;
  using transport::IClientCertInfo;
  const std::uint32_t needed = ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED;
  const struct {
    const char16_t* serial;
    const char* chosen;  // null: none, the platform error is raised
  } cases[] = {
      {u"5E4D3C2B1A", "5E4D3C2B1A"},
      {u"5e4d3c2b1a", "5E4D3C2B1A"},
      {u"77", "77"},
      {u"1A2B3C4D5E", nullptr},  // the serial as the certificate writes it
      {u"5E4D3C2B", nullptr},
      {u"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(test::Utf8(c.serial));
    TComponent owner;
    auto* node = new transport::THTTPReqResp(&owner);
    IntfPtr<IClientCertInfo> info = QueryIntf<IClientCertInfo>(node);
    info->SetCertSerialNumber(c.serial);
    std::uint32_t answer = 0;
    int raised = 0;
    try {
      answer = node->HandleWinInetError(needed, nullptr, true);
    } catch (const ESOAPHTTPException& x) {
      raised = x.StatusCode();
    }
    if (c.chosen) {
      EXPECT_EQ(answer, ERROR_INTERNET_FORCE_RETRY);
      ASSERT_NE(info->GetCertContext(), nullptr);
      EXPECT_EQ(Hex(CertGetSerialNumber(info->GetCertContext())), c.chosen);
    } else {
      EXPECT_EQ(raised, static_cast<int>(needed));
      EXPECT_EQ(info->GetCertContext(), nullptr);
    }
  }
}

}  // namespace
}  // namespace delvan::platform
