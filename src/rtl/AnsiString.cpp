#include "rtl/AnsiString.h"

namespace delvan {

AnsiString AnsiString::Encode(UnicodeStringView text, TCodePage codePage) {
  if (codePage == platform::CP_ACP) codePage = platform::GetACP();
  return AnsiString(platform::WideCharToMultiByte(codePage, 0, text), codePage);
}

UnicodeString AnsiString::Decode() const {
  return platform::MultiByteToWideChar(FCodePage, 0, FBytes);
}

}  // namespace delvan
