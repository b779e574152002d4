// How a value of each type kind is stored behind an argument or array-item
// pointer, for the converter's writer and reader:
//   integer, enumeration, char, wide char: by the ordinal type (int8_t,
//     uint8_t, int16_t, uint16_t, int32_t, uint32_t);
//   Int64: int64_t;
//   float: float, double, long double (Extended), int64_t (Comp) and
//     int64_t holding the value times 10000 (Currency);
//   Unicode and wide strings: UnicodeString; long and short strings:
//     AnsiString (a short string holds at most its declared length);
//   class: TObject* (or a derived pointer); variant: Variant;
//   dynamic array: the std::vector that the type's descriptor walks.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "rtl/TypInfo.h"

namespace delvan::soap {

// The kinds that travel as the text of one element: integers, chars,
// enumerations, floats, Int64 and every string kind.
inline bool IsScalarKind(rtl::TTypeKind kind) {
  switch (kind) {
    case rtl::tkInteger:
    case rtl::tkChar:
    case rtl::tkEnumeration:
    case rtl::tkFloat:
    case rtl::tkString:
    case rtl::tkWChar:
    case rtl::tkLString:
    case rtl::tkWString:
    case rtl::tkInt64:
    case rtl::tkUString:
      return true;
    default:
      return false;
  }
}

// The ordinal at p, widened. info is an ordinal kind.
inline std::int64_t ReadOrdinal(const void* p, const rtl::TTypeInfo* info) {
  switch (info->Ordinal()->OrdType) {
    case rtl::otSByte: return *static_cast<const std::int8_t*>(p);
    case rtl::otUByte: return *static_cast<const std::uint8_t*>(p);
    case rtl::otSWord: return *static_cast<const std::int16_t*>(p);
    case rtl::otUWord: return *static_cast<const std::uint16_t*>(p);
    case rtl::otSLong: return *static_cast<const std::int32_t*>(p);
    case rtl::otULong: return *static_cast<const std::uint32_t*>(p);
  }
  return 0;
}

// Stores v in the width of info (cut to it, as a cast would).
inline void WriteOrdinal(void* p, const rtl::TTypeInfo* info, std::int64_t v) {
  switch (info->Ordinal()->OrdType) {
    case rtl::otSByte: *static_cast<std::int8_t*>(p) = static_cast<std::int8_t>(v); break;
    case rtl::otUByte: *static_cast<std::uint8_t*>(p) = static_cast<std::uint8_t>(v); break;
    case rtl::otSWord: *static_cast<std::int16_t*>(p) = static_cast<std::int16_t>(v); break;
    case rtl::otUWord: *static_cast<std::uint16_t*>(p) = static_cast<std::uint16_t>(v); break;
    case rtl::otSLong: *static_cast<std::int32_t*>(p) = static_cast<std::int32_t>(v); break;
    case rtl::otULong: *static_cast<std::uint32_t*>(p) = static_cast<std::uint32_t>(v); break;
  }
}

// The float at p as a long double; Currency is unscaled.
inline long double ReadFloat(const void* p, const rtl::TTypeInfo* info) {
  switch (info->Float()->FloatType) {
    case rtl::ftSingle: return *static_cast<const float*>(p);
    case rtl::ftDouble: return *static_cast<const double*>(p);
    case rtl::ftExtended: return *static_cast<const long double*>(p);
    case rtl::ftComp: return static_cast<long double>(*static_cast<const std::int64_t*>(p));
    case rtl::ftCurr:
      return static_cast<long double>(*static_cast<const std::int64_t*>(p)) / 10000.0L;
  }
  return 0;
}

// Stores v by the float type of info; Comp and Currency are rounded
// (Currency after scaling by 10000).
inline void WriteFloat(void* p, const rtl::TTypeInfo* info, long double v) {
  switch (info->Float()->FloatType) {
    case rtl::ftSingle: *static_cast<float*>(p) = static_cast<float>(v); break;
    case rtl::ftDouble: *static_cast<double*>(p) = static_cast<double>(v); break;
    case rtl::ftExtended: *static_cast<long double*>(p) = v; break;
    case rtl::ftComp: *static_cast<std::int64_t*>(p) = std::llroundl(v); break;
    case rtl::ftCurr: *static_cast<std::int64_t*>(p) = std::llroundl(v * 10000.0L); break;
  }
}

}  // namespace delvan::soap
