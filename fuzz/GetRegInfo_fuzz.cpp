// Fuzz target for GetRegInfo: the input's first byte picks the key, the rest
// is the attribute text as UTF-16 (two bytes per character). The scan must
// never read outside the text, and a value it finds is a piece of the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "soap/InvokeRegistry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace delvan;
  if (size < 1) return 0;
  const auto attribute = static_cast<soap::InfoAttribute>(data[0] % 10);  // 9: no such key
  const std::size_t length = (size - 1) / 2;
  // Exactly sized, so that a read past the end is caught.
  auto text = std::make_unique<char16_t[]>(length ? length : 1);
  std::memcpy(text.get(), data + 1, length * sizeof(char16_t));
  const UnicodeStringView view(text.get(), length);
  UnicodeString value;
  if (soap::GetRegInfo(view, attribute, value) && view.find(value) == UnicodeStringView::npos)
    std::abort();
  return 0;
}
