// The failure text handed to the host: the fixed Greek sentence, CR LF, and
// the failure's message in the system ANSI code page.
#pragma once

#include <string_view>

#include "rtl/AnsiString.h"

namespace delvan::lookup {

// "Παρουσιάστηκε σφάλμα κατα την ανάκτηση στοιχείων απο το TAXIS" and CR LF,
// stored in Windows code page 1253: 63 bytes, never converted. The storage
// ends in NUL, so data() is also a C string.
inline constexpr std::string_view FailureSentence =
    "\xD0\xE1\xF1\xEF\xF5\xF3\xE9\xDC\xF3\xF4\xE7\xEA\xE5\x20\xF3\xF6\xDC\xEB\xEC\xE1\x20"
    "\xEA\xE1\xF4\xE1\x20\xF4\xE7\xED\x20\xE1\xED\xDC\xEA\xF4\xE7\xF3\xE7\x20\xF3\xF4\xEF"
    "\xE9\xF7\xE5\xDF\xF9\xED\x20\xE1\xF0\xEF\x20\xF4\xEF\x20\x54\x41\x58\x49\x53\x0D\x0A";
static_assert(FailureSentence.size() == 63);

// The sentence followed, byte for byte, by expmsg encoded in the system ANSI
// code page. On a system whose ANSI code page is not 1253 the two halves are
// in different code pages; the text is labelled with the ANSI code page.
AnsiString AddGeneralError(UnicodeStringView expmsg);

}  // namespace delvan::lookup
