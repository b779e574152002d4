#include "rtl/Format.h"

#include <string>

namespace delvan {
namespace {

UnicodeString Decimal(const FormatArg& arg) {
  const auto& v = arg.Value();
  if (auto* i = std::get_if<std::int64_t>(&v)) return rtl::IntToStr(*i);
  if (auto* u = std::get_if<std::uint64_t>(&v)) return rtl::AsciiToUnicode(std::to_string(*u));
  return std::get<UnicodeString>(v);
}

UnicodeString Hex(const FormatArg& arg, std::size_t minDigits) {
  const auto& v = arg.Value();
  std::uint64_t n;
  if (auto* i = std::get_if<std::int64_t>(&v)) {
    // A negative 32-bit value prints as its 32-bit pattern (error codes).
    n = (*i < 0 && *i >= INT32_MIN) ? static_cast<std::uint32_t>(*i)
                                    : static_cast<std::uint64_t>(*i);
  } else if (auto* u = std::get_if<std::uint64_t>(&v)) {
    n = *u;
  } else {
    return std::get<UnicodeString>(v);
  }
  UnicodeString digits;
  do {
    digits.insert(digits.begin(), u"0123456789ABCDEF"[n & 0xF]);
    n >>= 4;
  } while (n != 0);
  if (digits.size() < minDigits) digits.insert(0, minDigits - digits.size(), u'0');
  return digits;
}

}  // namespace

UnicodeString Format(UnicodeStringView format, std::initializer_list<FormatArg> args) {
  UnicodeString out;
  out.reserve(format.size() + 16 * args.size());
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    char16_t c = format[i];
    if (c != u'%' || i + 1 == format.size()) {
      out.push_back(c);
      continue;
    }
    // Precision, as in "%.8x": the minimum number of digits.
    std::size_t j = i + 1;
    std::size_t precision = 0;
    if (format[j] == u'.') {
      ++j;
      while (j < format.size() && format[j] >= u'0' && format[j] <= u'9')
        precision = precision * 10 + (format[j++] - u'0');
    }
    if (j == format.size()) {
      out.append(format.substr(i));
      break;
    }
    char16_t spec = format[j];
    if (spec == u'%') {
      out.push_back(u'%');
    } else if (spec == u's' || spec == u'd' || spec == u'x' || spec == u'X') {
      if (next != args.end()) {
        const FormatArg& arg = *next++;
        if (spec == u'x' || spec == u'X') {
          out += Hex(arg, precision);
        } else {
          UnicodeString text = Decimal(arg);
          if (spec == u'd' && precision > text.size())
            text.insert(0, precision - text.size(), u'0');
          out += text;
        }
      }
    } else {
      out.append(format.substr(i, j - i + 1));  // not a placeholder: kept as written
    }
    i = j;
  }
  return out;
}

}  // namespace delvan
