// The result text of a successful lookup: the records as name=value items
// separated by semicolons, quoted where needed, in the system ANSI code page.
#pragma once

#include <vector>

#include "rtl/AnsiString.h"
#include "service/RgWsPublic.h"

namespace delvan::lookup {

// Builds the result text from what the remote call left. auser and aerror
// may be null (their items are left out); afirmact may hold null entries,
// which give their four items with empty values. Takes ownership of nothing.
AnsiString OrganizeOutputData(const service::RgWsPublicBasicRtUser* auser,
                              const service::GenWsErrorRtUser* aerror,
                              const service::RgWsPublicFirmActRtUserArray& afirmact);

// Joins items with ";". An item containing a double quote, a semicolon or a
// character from U+0001 to U+0020 is written between double quotes with its
// own double quotes doubled.
UnicodeString JoinItems(const std::vector<UnicodeString>& items);

}  // namespace delvan::lookup
