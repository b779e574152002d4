#include "rtl/UnicodeString.h"

namespace delvan::rtl {

UnicodeString AsciiToUnicode(std::string_view ascii) {
  UnicodeString out;
  out.reserve(ascii.size());
  for (unsigned char c : ascii) out.push_back(static_cast<char16_t>(c));
  return out;
}

UnicodeString IntToStr(std::int64_t value) { return AsciiToUnicode(std::to_string(value)); }

UnicodeStringView TrimView(UnicodeStringView text) {
  std::size_t b = 0, e = text.size();
  while (b < e && text[b] <= u' ') ++b;
  while (e > b && text[e - 1] <= u' ') --e;
  return text.substr(b, e - b);
}

UnicodeString Trim(UnicodeStringView text) { return UnicodeString(TrimView(text)); }

static char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? c - (u'a' - u'A') : c; }

UnicodeString AsciiUpperCase(UnicodeStringView text) {
  UnicodeString out(text);
  for (char16_t& c : out) c = AsciiUpper(c);
  return out;
}

bool SameTextAscii(UnicodeStringView a, UnicodeStringView b) {
  if (a.size() != b.size()) return false;
  // Names looked up are mostly spelt as registered: the same bytes settle
  // it at once; only where they differ is case looked at.
  std::size_t i = 0;
  while (i < a.size() && a[i] == b[i]) ++i;
  for (; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

}  // namespace delvan::rtl
