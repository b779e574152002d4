// One complete lookup as the exported call makes it, for the export and for
// the command-line tool.
#pragma once

#include "rtl/AnsiString.h"

namespace delvan::lookup {

// Looks afmCalledFor up as afmCalledBy with the user name and password
// (UTF-8 bytes; null pointers read as empty), at the address Addr (empty:
// the service endpoint). Returns the result text or, for any failure, the
// failure text; raises nothing but out-of-memory before its handler runs.
// Calls are serialised: the credentials header is shared.
AnsiString Lookup(const char* afmCalledBy, const char* afmCalledFor, const char* username,
                  const char* password, UnicodeStringView Addr = {});

}  // namespace delvan::lookup
