// Conversions of the run-time library: integer text, with the conversion
// errors the system reports.
#pragma once

#include <cstdint>

#include "rtl/UnicodeString.h"

namespace delvan::rtl {

// Parses an optional sign and ASCII digits into a 32-bit integer. Anything
// else, or a value outside the 32-bit range, raises EConvertError
// "'%s' is not a valid integer value".
std::int32_t StrToInt(UnicodeStringView text);

// The same for 64-bit integers ("'%s' is not a valid integer value").
std::int64_t StrToInt64(UnicodeStringView text);

// True and the value when text parses as StrToInt would accept it.
bool TryStrToInt(UnicodeStringView text, std::int32_t& value);

}  // namespace delvan::rtl
