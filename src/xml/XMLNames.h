// Names of XML nodes: prefix and local part of a qualified name, and the
// rule by which two namespace URIs are the same namespace.
#pragma once

#include "rtl/UnicodeString.h"

namespace delvan::xml {

// True when name contains a colon.
bool IsPrefixed(UnicodeStringView name);
// The part before the first colon; empty when there is none.
UnicodeString ExtractPrefix(UnicodeStringView name);
// The part after the first colon; the whole name when there is none.
UnicodeString ExtractLocalName(UnicodeStringView name);
// "prefix:local", or local alone when prefix is empty.
UnicodeString MakeNodeName(UnicodeStringView prefix, UnicodeStringView local);
// Identical texts (two empty ones included), or both non-empty and equal
// ignoring the case of the ASCII letters.
bool SameNamespace(UnicodeStringView uri1, UnicodeStringView uri2);

}  // namespace delvan::xml
