// Format: fills the placeholders of the system's message texts.
//   %s  text (a number argument gives its decimal text)
//   %d  signed decimal
//   %x  hexadecimal in upper-case digits; %.8x pads with zeros to 8 digits
//   %%  a percent sign
// A placeholder without an argument is left out; extra arguments are ignored.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <variant>

#include "rtl/UnicodeString.h"

namespace delvan {

class FormatArg {
 public:
  FormatArg(UnicodeStringView text) : FValue(UnicodeString(text)) {}
  FormatArg(const UnicodeString& text) : FValue(text) {}
  FormatArg(const char16_t* text) : FValue(UnicodeString(text ? text : u"")) {}
  FormatArg(int value) : FValue(static_cast<std::int64_t>(value)) {}
  FormatArg(long value) : FValue(static_cast<std::int64_t>(value)) {}
  FormatArg(long long value) : FValue(static_cast<std::int64_t>(value)) {}
  FormatArg(unsigned value) : FValue(static_cast<std::uint64_t>(value)) {}
  FormatArg(unsigned long value) : FValue(static_cast<std::uint64_t>(value)) {}
  FormatArg(unsigned long long value) : FValue(static_cast<std::uint64_t>(value)) {}

  const std::variant<UnicodeString, std::int64_t, std::uint64_t>& Value() const { return FValue; }

 private:
  std::variant<UnicodeString, std::int64_t, std::uint64_t> FValue;
};

UnicodeString Format(UnicodeStringView format, std::initializer_list<FormatArg> args);

}  // namespace delvan
