// 8-bit text labelled with the code page its bytes are in. Every conversion
// to or from UTF-16 goes through the platform's code-page services.
#pragma once

#include <string>
#include <string_view>

#include "platform/CodePage.h"
#include "rtl/UnicodeString.h"

namespace delvan {

class AnsiString {
 public:
  using TCodePage = platform::TCodePage;

  AnsiString() = default;
  // Takes the bytes as they are; codePage only labels them.
  AnsiString(std::string bytes, TCodePage codePage)
      : FBytes(std::move(bytes)), FCodePage(codePage) {}

  // Encodes text in codePage (CP_ACP: the system ANSI code page, resolved now).
  static AnsiString Encode(UnicodeStringView text, TCodePage codePage);

  // Decodes the bytes with the code page of the label; never fails.
  UnicodeString Decode() const;

  const std::string& Bytes() const { return FBytes; }
  TCodePage CodePage() const { return FCodePage; }
  bool IsEmpty() const { return FBytes.empty(); }
  std::size_t Length() const { return FBytes.size(); }

  friend bool operator==(const AnsiString&, const AnsiString&) = default;

 private:
  std::string FBytes;
  TCodePage FCodePage = platform::CP_ACP;
};

}  // namespace delvan
