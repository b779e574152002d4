#include "rtl/Interface.h"

namespace delvan {

UnicodeString TGUID::ToString() const {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  UnicodeString s;
  s.reserve(38);
  auto put = [&](std::uint32_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) s.push_back(kHex[(v >> (4 * i)) & 0xF]);
  };
  s.push_back(u'{');
  put(D1, 8);
  s.push_back(u'-');
  put(D2, 4);
  s.push_back(u'-');
  put(D3, 4);
  s.push_back(u'-');
  put(D4[0], 2);
  put(D4[1], 2);
  s.push_back(u'-');
  for (int i = 2; i < 8; ++i) put(D4[i], 2);
  s.push_back(u'}');
  return s;
}

}  // namespace delvan
