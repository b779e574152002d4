#include "xml/XMLNames.h"

#include <cstring>

namespace delvan::xml {

bool IsPrefixed(UnicodeStringView name) { return name.find(u':') != UnicodeStringView::npos; }

UnicodeString ExtractPrefix(UnicodeStringView name) {
  std::size_t c = name.find(u':');
  return c == UnicodeStringView::npos ? UnicodeString() : UnicodeString(name.substr(0, c));
}

UnicodeString ExtractLocalName(UnicodeStringView name) {
  std::size_t c = name.find(u':');
  return UnicodeString(c == UnicodeStringView::npos ? name : name.substr(c + 1));
}

UnicodeString MakeNodeName(UnicodeStringView prefix, UnicodeStringView local) {
  if (prefix.empty()) return UnicodeString(local);
  UnicodeString name;
  name.reserve(prefix.size() + 1 + local.size());
  name.append(prefix).append(1, u':').append(local);
  return name;
}

bool SameNamespace(UnicodeStringView uri1, UnicodeStringView uri2) {
  // Case folding keeps the length; equal texts compare bytes at once (the
  // character traits go one character at a time).
  if (uri1.size() != uri2.size()) return false;
  if (uri1.empty() || std::memcmp(uri1.data(), uri2.data(), uri1.size() * sizeof(char16_t)) == 0)
    return true;
  return rtl::SameTextAscii(uri1, uri2);
}

}  // namespace delvan::xml
