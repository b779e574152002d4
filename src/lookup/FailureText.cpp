#include "lookup/FailureText.h"

namespace delvan::lookup {

AnsiString AddGeneralError(UnicodeStringView expmsg) {
  platform::TCodePage acp = platform::GetACP();
  std::string bytes(FailureSentence);
  bytes += platform::WideCharToMultiByte(acp, 0, expmsg);
  return AnsiString(std::move(bytes), acp);
}

}  // namespace delvan::lookup
