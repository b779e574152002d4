// Fuzz target for the dateTime check: any text either fits the grammar or
// raises, a text taken is kept unchanged, and its value can be computed.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lookup/LibraryInit.h"
#include "soap/XSBuiltIns.h"

using namespace delvan;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  InitializeLibrary();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // UTF-16, two bytes a character, exactly sized so a read past the end shows.
  const std::size_t length = size / 2;
  auto text = std::make_unique<char16_t[]>(length ? length : 1);
  std::memcpy(text.get(), data, length * sizeof(char16_t));
  const UnicodeString value(text.get(), length);
  soap::TXSDateTime holder;
  try {
    holder.XSToNative(value);
  } catch (const Exception&) {
    return 0;
  }
  if (holder.NativeToXS() != value) std::abort();
  try {
    (void)holder.AsUTCDateTime();
    (void)soap::XMLTimeToDateTime(value, true);
  } catch (const Exception&) {
    // A value out of the calendar's range may still be refused here.
  }
  return 0;
}
