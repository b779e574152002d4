// Fuzz target for URL cracking: every part handed back must lie inside the
// URL text, in order, and a second crack of the same text gives the same.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/HttpClient.h"

using namespace delvan::platform;

namespace {
void Check(const char16_t* begin, std::size_t length, const char16_t* part, std::uint32_t n) {
  if (!part) return;
  if (part < begin || part + n > begin + length) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t length = size / 2;
  auto text = std::make_unique<char16_t[]>(length ? length : 1);
  std::memcpy(text.get(), data, length * sizeof(char16_t));
  if (length == 0) return 0;  // 0 means NUL-terminated; the buffer has no NUL
  URL_COMPONENTSW c;
  c.dwSchemeLength = c.dwHostNameLength = c.dwUserNameLength = c.dwPasswordLength = 1;
  c.dwUrlPathLength = c.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(text.get(), static_cast<std::uint32_t>(length), 0, c)) return 0;
  Check(text.get(), length, c.lpszScheme, c.dwSchemeLength);
  Check(text.get(), length, c.lpszHostName, c.dwHostNameLength);
  Check(text.get(), length, c.lpszUserName, c.dwUserNameLength);
  Check(text.get(), length, c.lpszPassword, c.dwPasswordLength);
  Check(text.get(), length, c.lpszUrlPath, c.dwUrlPathLength);
  Check(text.get(), length, c.lpszExtraInfo, c.dwExtraInfoLength);
  return 0;
}
