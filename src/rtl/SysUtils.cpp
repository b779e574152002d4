#include "rtl/SysUtils.h"

#include <limits>

#include "rtl/Exception.h"

namespace delvan::rtl {
namespace {

template <class Int>
bool ParseInt(UnicodeStringView text, Int& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  if (i == text.size()) return false;
  using U = std::make_unsigned_t<Int>;
  const U limit =
      negative ? U(std::numeric_limits<Int>::max()) + 1 : U(std::numeric_limits<Int>::max());
  U n = 0;
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c < u'0' || c > u'9') return false;
    U d = static_cast<U>(c - u'0');
    if (n > (limit - d) / 10) return false;
    n = n * 10 + d;
  }
  value = negative ? static_cast<Int>(U(0) - n) : static_cast<Int>(n);
  return true;
}

[[noreturn]] void RaiseNotInteger(UnicodeStringView text) {
  throw EConvertError(u"'%s' is not a valid integer value", {text});
}

}  // namespace

bool TryStrToInt(UnicodeStringView text, std::int32_t& value) { return ParseInt(text, value); }

std::int32_t StrToInt(UnicodeStringView text) {
  std::int32_t v = 0;
  if (!ParseInt(text, v)) RaiseNotInteger(text);
  return v;
}

std::int64_t StrToInt64(UnicodeStringView text) {
  std::int64_t v = 0;
  if (!ParseInt(text, v)) RaiseNotInteger(text);
  return v;
}

}  // namespace delvan::rtl
