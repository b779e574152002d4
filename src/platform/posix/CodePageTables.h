// Upper halves (bytes 0x80-0xFF) of the single-byte code pages that need a
// table. The lower halves are US-ASCII; ISO-8859-1 is the identity and needs
// no table. Generated into CodePageTables.cpp by scripts/gen_codepage_tables.py.
#pragma once

#include <array>

namespace delvan::platform::posix {

// Entry i is the UTF-16 unit of byte 0x80 + i, or kUndefinedByte.
using UpperHalfTable = std::array<char16_t, 128>;

// Marks a byte the code page does not define; it decodes to U+FFFD.
inline constexpr char16_t kUndefinedByte = u'\uFFFD';

extern const UpperHalfTable kWindows1253;  // Windows Greek
extern const UpperHalfTable kWindows1252;  // Windows Western
extern const UpperHalfTable kIso8859_7;    // ISO-8859-7 (Greek)

}  // namespace delvan::platform::posix
