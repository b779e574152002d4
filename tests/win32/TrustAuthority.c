/* Adds the certificate authority of a PEM file to the trusted roots of the
 * Wine prefix it runs in (the current user's and the machine's), so that
 * the library's certificate checks accept a test server's certificate.
 *   delvan_trust_authority FILE.pem */
#include <stdio.h>
#include <stdlib.h>
/* clang-format off */
#include <windows.h>
#include <wincrypt.h>
/* clang-format on */

static int AddTo(DWORD location, const BYTE* der, DWORD size) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, location, "ROOT");
  BOOL ok;
  if (!store) return 0;
  ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, size,
                                        CERT_STORE_ADD_REPLACE_EXISTING, NULL);
  CertCloseStore(store, 0);
  return ok;
}

int main(int argc, char** argv) {
  FILE* f;
  char* pem;
  long length;
  BYTE* der;
  DWORD size = 0;
  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE.pem\n", argv[0]);
    return 2;
  }
  f = fopen(argv[1], "rb");
  if (!f) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  fseek(f, 0, SEEK_END);
  length = ftell(f);
  fseek(f, 0, SEEK_SET);
  pem = calloc(1, (size_t)length + 1);
  if (!pem || fread(pem, 1, (size_t)length, f) != (size_t)length) return 1;
  fclose(f);
  if (!CryptStringToBinaryA(pem, 0, CRYPT_STRING_BASE64HEADER, NULL, &size, NULL, NULL)) {
    fprintf(stderr, "no certificate in %s\n", argv[1]);
    return 1;
  }
  der = malloc(size);
  if (!der || !CryptStringToBinaryA(pem, 0, CRYPT_STRING_BASE64HEADER, der, &size, NULL, NULL))
    return 1;
  if (!AddTo(CERT_SYSTEM_STORE_CURRENT_USER, der, size) ||
      !AddTo(CERT_SYSTEM_STORE_LOCAL_MACHINE, der, size)) {
    fprintf(stderr, "cannot add the authority: error %lu\n", (unsigned long)GetLastError());
    return 1;
  }
  free(der);
  free(pem);
  return 0;
}
