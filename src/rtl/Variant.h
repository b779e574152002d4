// A small variant for node and attribute values: Empty, Null, Boolean,
// signed and unsigned integers, Single and Double, and text. The type codes
// are the platform's variant type numbers.
#pragma once

#include <cstdint>

#include "rtl/UnicodeString.h"

namespace delvan {

enum TVarType : std::uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varOleStr = 0x0008,
  varDispatch = 0x0009,
  varError = 0x000A,
  varBoolean = 0x000B,
  varVariant = 0x000C,
  varUnknown = 0x000D,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varUInt64 = 0x0015,
  varString = 0x0100,
  varUString = 0x0102,
};

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(bool v) : FType(varBoolean) { FInt = v; }
  Variant(std::int32_t v) : FType(varInteger) { FInt = v; }
  Variant(std::int64_t v) : FType(varInt64) { FInt = v; }
  Variant(std::uint32_t v) : FType(varLongWord) { FInt = v; }
  Variant(std::uint64_t v) : FType(varUInt64) { FUInt = v; }
  Variant(double v) : FType(varDouble) { FDouble = v; }
  Variant(UnicodeString v) : FType(varUString), FText(std::move(v)) {}
  Variant(UnicodeStringView v) : Variant(UnicodeString(v)) {}
  Variant(const char16_t* v) : Variant(UnicodeString(v ? v : u"")) {}

  static Variant Null() {
    Variant v;
    v.FType = varNull;
    return v;
  }
  // An integer of a given width, kept with its type code (varSmallint,
  // varShortInt, varByte, varWord, ...).
  static Variant OfInteger(std::int64_t value, TVarType type);
  static Variant OfSingle(float value);

  TVarType VarType() const { return FType; }
  bool IsEmpty() const { return FType == varEmpty; }
  bool IsNull() const { return FType == varNull; }
  bool IsText() const { return FType == varUString || FType == varOleStr || FType == varString; }
  bool IsOrdinal() const;
  bool IsFloat() const { return FType == varSingle || FType == varDouble; }

  bool AsBoolean() const;  // Boolean, or an ordinal other than 0
  std::int64_t AsInt64()
      const;                // ordinals and Boolean; others raise "Invalid variant type conversion"
  double AsDouble() const;  // floats and ordinals; others raise "Invalid variant type conversion"
  const UnicodeString& Text() const { return FText; }  // the text of a text variant

  // The general variant-to-text conversion: Empty and Null give empty text,
  // Boolean "True" or "False", numbers their shortest decimal text.
  UnicodeString ToString() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  TVarType FType = varEmpty;
  union {
    std::int64_t FInt = 0;
    std::uint64_t FUInt;
    double FDouble;
  };
  UnicodeString FText;
};

}  // namespace delvan
