#include "rtl/Variant.h"

#include <charconv>
#include <cmath>

#include "rtl/Exception.h"

namespace delvan {

namespace {
[[noreturn]] void InvalidCast() { throw Exception(u"Invalid variant type conversion"); }
}  // namespace

Variant Variant::OfInteger(std::int64_t value, TVarType type) {
  Variant v(value);
  v.FType = type;
  if (type == varUInt64) v.FUInt = static_cast<std::uint64_t>(value);
  return v;
}

Variant Variant::OfSingle(float value) {
  Variant v(static_cast<double>(value));
  v.FType = varSingle;
  return v;
}

bool Variant::IsOrdinal() const {
  switch (FType) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64:
      return true;
    default:
      return false;
  }
}

bool Variant::AsBoolean() const {
  if (FType == varBoolean || IsOrdinal()) return FInt != 0;
  InvalidCast();
}

std::int64_t Variant::AsInt64() const {
  if (FType == varBoolean || IsOrdinal()) return FInt;
  InvalidCast();
}

double Variant::AsDouble() const {
  if (IsFloat()) return FDouble;
  if (FType == varUInt64) return static_cast<double>(FUInt);
  if (IsOrdinal()) return static_cast<double>(FInt);
  InvalidCast();
}

UnicodeString Variant::ToString() const {
  if (IsText()) return FText;
  switch (FType) {
    case varEmpty:
    case varNull:
      return {};
    case varBoolean:
      return FInt ? u"True" : u"False";
    case varUInt64:
      return rtl::AsciiToUnicode(std::to_string(FUInt));
    case varSingle:
    case varDouble: {
      char buf[64];
      auto r = FType == varSingle
                   ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(FDouble))
                   : std::to_chars(buf, buf + sizeof buf, FDouble);
      return rtl::AsciiToUnicode(std::string_view(buf, r.ptr - buf));
    }
    default:
      if (IsOrdinal()) return rtl::IntToStr(FInt);
      InvalidCast();
  }
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.FType != b.FType) return false;
  if (a.IsText()) return a.FText == b.FText;
  if (a.IsFloat()) return a.FDouble == b.FDouble;
  return a.FInt == b.FInt;
}

}  // namespace delvan
