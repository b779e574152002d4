// Text inside the system: UTF-16 strings, and small helpers over them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace delvan {

using UnicodeString = std::u16string;
using UnicodeStringView = std::u16string_view;

namespace rtl {

// Widens ASCII text (literals of our own, numbers); bytes above 0x7F are
// taken as Latin-1. Use platform/CodePage for text of any other origin.
UnicodeString AsciiToUnicode(std::string_view ascii);

// Decimal text of an integer, without leading zeros.
UnicodeString IntToStr(std::int64_t value);

// Removes leading and trailing characters up to U+0020.
UnicodeString Trim(UnicodeStringView text);
// The same, as a view into text: nothing is copied.
UnicodeStringView TrimView(UnicodeStringView text);

// Upper-cases the ASCII letters a to z only; every other character stays.
UnicodeString AsciiUpperCase(UnicodeStringView text);

// Equal when equal after mapping ASCII letters to one case.
bool SameTextAscii(UnicodeStringView a, UnicodeStringView b);

}  // namespace rtl
}  // namespace delvan
