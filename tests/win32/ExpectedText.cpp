// Writes to standard output, byte for byte, the text that RunWSOrvDLL is to
// return in one end-to-end case, built as the Linux end-to-end tests build
// theirs: the failure sentence followed by the message in the ANSI code page
// in force.
//   delvan-expected-text failure MESSAGE  the failure text of MESSAGE (ASCII)
//   delvan-expected-text platform CODE    the failure text of the transport's
//                                         message for platform error CODE at
//                                         the fixed endpoint
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lookup/FailureText.h"
#include "platform/CodePage.h"
#include "platform/HttpClient.h"
#include "service/ServiceConstants.h"

// clang-format off
#include <fcntl.h>
#include <io.h>
// clang-format on

namespace {

using namespace delvan;

std::string Failure(UnicodeStringView message) {
  return std::string(lookup::FailureSentence) +
         platform::WideCharToMultiByte(platform::CP_ACP, 0, message);
}

// The transport's message for a platform error at the fixed endpoint: the
// platform's own text of the code, the URL and the SOAP action.
UnicodeString PlatformMessage(std::uint32_t code) {
  UnicodeString m = platform::FormatMessageW(0x1800, u"wininet.dll", code, 0, 256);
  while (!m.empty() && (m.back() == u'\r' || m.back() == u'\n')) m.pop_back();
  m += u" - URL:";
  m += service::defURL;
  m += u" - SOAPAction:";
  m += service::ServiceNamespace;
  m += u"/rgWsPublicAfmMethod";
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 ||
      (std::strcmp(argv[1], "failure") != 0 && std::strcmp(argv[1], "platform") != 0)) {
    std::fprintf(stderr, "usage: %s failure MESSAGE | platform CODE\n", argv[0]);
    return 2;
  }
  const std::string text =
      std::strcmp(argv[1], "failure") == 0
          ? Failure(platform::MultiByteToWideChar(platform::CP_UTF8, 0, argv[2]))
          : Failure(PlatformMessage(std::strtoul(argv[2], nullptr, 10)));
  _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
