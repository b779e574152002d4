// The run-time library's dynamic arrays of scalars, with their type
// information. Each is a std::vector of its element type.
#pragma once

#include <cstdint>
#include <vector>

#include "rtl/TypInfo.h"

namespace delvan::rtl {

// One byte per entry, 0 or 1: std::vector<bool> packs bits and has no
// element addresses for the generic readers and writers.
enum class TBooleanElement : std::uint8_t { False = 0, True = 1 };

using TIntegerDynArray = std::vector<std::int32_t>;
using TCardinalDynArray = std::vector<std::uint32_t>;
using TWordDynArray = std::vector<std::uint16_t>;
using TSmallIntDynArray = std::vector<std::int16_t>;
using TByteDynArray = std::vector<std::uint8_t>;
using TShortIntDynArray = std::vector<std::int8_t>;
using TInt64DynArray = std::vector<std::int64_t>;
using TLongWordDynArray = std::vector<std::uint32_t>;
using TSingleDynArray = std::vector<float>;
using TDoubleDynArray = std::vector<double>;
using TBooleanDynArray = std::vector<TBooleanElement>;
using TStringDynArray = std::vector<UnicodeString>;
using TWideStringDynArray = std::vector<UnicodeString>;

// Arrays that share a C++ type (TCardinalDynArray and TLongWordDynArray,
// TStringDynArray and TWideStringDynArray) still have a type information
// record each; the SOAP layer tells them apart by that record alone.
extern const TTypeInfo TypeInfo_TIntegerDynArray;
extern const TTypeInfo TypeInfo_TCardinalDynArray;
extern const TTypeInfo TypeInfo_TWordDynArray;
extern const TTypeInfo TypeInfo_TSmallIntDynArray;
extern const TTypeInfo TypeInfo_TByteDynArray;
extern const TTypeInfo TypeInfo_TShortIntDynArray;
extern const TTypeInfo TypeInfo_TInt64DynArray;
extern const TTypeInfo TypeInfo_TLongWordDynArray;
extern const TTypeInfo TypeInfo_TSingleDynArray;
extern const TTypeInfo TypeInfo_TDoubleDynArray;
extern const TTypeInfo TypeInfo_TBooleanDynArray;
extern const TTypeInfo TypeInfo_TStringDynArray;
extern const TTypeInfo TypeInfo_TWideStringDynArray;

}  // namespace delvan::rtl
