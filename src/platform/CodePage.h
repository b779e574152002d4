// Code-page services: the system ANSI code page and the conversions between
// 8-bit text and UTF-16, shaped after GetACP, MultiByteToWideChar and
// WideCharToMultiByte. One backend per platform implements this header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace delvan::platform {

using TCodePage = std::uint32_t;

inline constexpr TCodePage CP_ACP = 0;  // "the system ANSI code page"
inline constexpr TCodePage CP_UTF8 = 65001;
inline constexpr TCodePage CP_GREEK = 1253;   // Windows Greek
inline constexpr TCodePage CP_LATIN1 = 1252;  // Windows Western
inline constexpr TCodePage CP_ISO_8859_7 = 28597;
inline constexpr TCodePage CP_ISO_8859_1 = 28591;
inline constexpr TCodePage CP_US_ASCII = 20127;

// Reads the system ANSI code page once. Called from the library's
// initialisation routine; GetACP calls it on first use if nobody did.
void InitializeCodePages();

// The system ANSI code page, as read at load.
TCodePage GetACP();

// True when the backend can convert with this code page (CP_ACP included).
bool IsCodePageSupported(TCodePage codePage);

// Decodes bytes in codePage (CP_ACP for the system ANSI code page). Never
// fails on malformed input: invalid UTF-8 and bytes a code page does not
// define become U+FFFD. An unsupported code page decodes as US-ASCII.
// flags is accepted for the shape of the platform call and must be 0.
std::u16string MultiByteToWideChar(TCodePage codePage, std::uint32_t flags, std::string_view bytes);

// Encodes UTF-16 text in codePage. Characters the code page lacks become
// "?" (one per code point); an unpaired surrogate becomes U+FFFD in UTF-8.
// flags is accepted for the shape of the platform call and must be 0.
std::string WideCharToMultiByte(TCodePage codePage, std::uint32_t flags, std::u16string_view text);

// WideCharToMultiByte's bytes appended to out, for text encoded piece by
// piece; a surrogate pair must not be split between two pieces.
void AppendWideCharToMultiByte(TCodePage codePage, std::uint32_t flags, std::u16string_view text,
                               std::string& out);

}  // namespace delvan::platform
