// The type translator: converts the text of a scalar SOAP value into the
// native storage of its type (NativeData.h), and the scalar text-to-native
// conversions that the value reader shares with it.
#pragma once

#include <cstdint>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/TypInfo.h"

namespace delvan::soap {

// A scalar argument kind that has no text form.
class ETypeTransException : public Exception {
 public:
  using Exception::Exception;
};

class TTypeTranslator {
 public:
  // Stores Text, converted by the kind of Info, at NatData. Integer,
  // enumeration, float and Int64 texts are trimmed first and replaced by
  // the kind's default text when IsNull. Always true; a bad number text
  // raises EConvertError, a kind without text form ETypeTransException.
  bool CastSoapToNative(const rtl::TTypeInfo* Info, const UnicodeString& Text, void* NatData,
                        bool IsNull);
};

// The text of a scalar whose element carries a nil marker, by type kind:
// "0" for integers, floats and Int64, one U+0000 for the char kinds, empty
// otherwise.
UnicodeString DefaultTextOfKind(rtl::TTypeKind kind);

// Text to native value, as the value reader and the translator read them.
// Each raises EConvertError for text that does not parse.
std::int64_t SoapTextToOrdinal(const rtl::TTypeInfo* Info, UnicodeStringView Text);
// Booleans: "true"/"1" and "false"/"0"/"" (any case); other enumerations:
// "" gives 0, else the member name (after the registry's rename).
std::int64_t SoapTextToEnum(const rtl::TTypeInfo* Info, UnicodeStringView Text);
// "NaN", "INF", "-INF" (any case) or decimal text with "."; TDateTime takes
// the XML dateTime form in local time.
long double SoapTextToFloat(const rtl::TTypeInfo* Info, UnicodeStringView Text);
std::int64_t SoapTextToInt64(const rtl::TTypeInfo* Info, UnicodeStringView Text);

// Decodes base64 text; white space is skipped, decoding ends at the first
// "=". Raises EConvertError "Invalid base64 text" for any other character.
std::vector<std::uint8_t> DecodeBase64(UnicodeStringView Text);

// True for the boolean enumerations (Boolean, ByteBool, WordBool, LongBool).
bool IsBooleanType(const rtl::TTypeInfo* Info);

}  // namespace delvan::soap
