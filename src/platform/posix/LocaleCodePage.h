// Maps POSIX locales and their code sets to code pages.
#pragma once

#include <string_view>

#include "platform/CodePage.h"

namespace delvan::platform::posix {

// Maps a code set name ("UTF-8", "ISO-8859-7", "CP1253", ...) to a code page,
// ignoring case, '-' and '_'. An unrecognised code set gives US-ASCII.
TCodePage CodePageFromCodeSet(std::string_view codeset);

// Maps a locale name ("el_GR.UTF-8", "el_GR.ISO-8859-7@euro", "C", ...) to
// a code page from its code set. "C", "POSIX" and "" give US-ASCII; a Greek
// name without a code set gives ISO-8859-7, any other US-ASCII.
TCodePage CodePageFromLocaleName(std::string_view locale);

// The code page of the effective LC_CTYPE locale named by the environment
// (LC_ALL, then LC_CTYPE, then LANG). Leaves the process's locale alone.
TCodePage DetectSystemCodePage();

}  // namespace delvan::platform::posix
