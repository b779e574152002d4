#include "rtl/Exception.h"

#include "platform/CodePage.h"

namespace delvan {

const char* Exception::what() const noexcept {
  try {
    if (FUtf8.empty() && !FMessage.empty())
      FUtf8 = platform::WideCharToMultiByte(platform::CP_UTF8, 0, FMessage);
    return FUtf8.c_str();
  } catch (...) {
    return "Exception";
  }
}

}  // namespace delvan
