// Windows backend of the code-page services: GetACP, MultiByteToWideChar
// and WideCharToMultiByte of the system, called with flags 0, no default
// character and no used-default flag.
#include <atomic>
#include <climits>
#include <mutex>
#include <stdexcept>

#include "platform/CodePage.h"

// The system headers come after the platform headers: their macros would
// otherwise replace the platform layer's constants of the same names.
// clang-format off
#include <windows.h>
// clang-format on

namespace delvan::platform {
namespace {

std::once_flag gInitializeOnce;
std::atomic<TCodePage> gActiveCodePage{0};

TCodePage Resolve(TCodePage codePage) { return codePage == CP_ACP ? GetACP() : codePage; }

int CheckedLength(std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long to convert");
  return static_cast<int>(size);
}

// What the header promises for a code page the system cannot convert with:
// US-ASCII, every other byte U+FFFD.
std::u16string DecodeAscii(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (unsigned char b : bytes) text += b < 0x80 ? static_cast<char16_t>(b) : u'\uFFFD';
  return text;
}

void EncodeAscii(std::u16string_view text, std::string& bytes) {
  bytes.reserve(bytes.size() + text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    // A surrogate pair is one code point and so one "?".
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      ++i;
    bytes += c < 0x80 ? static_cast<char>(c) : '?';
  }
}

}  // namespace

void InitializeCodePages() {
  std::call_once(gInitializeOnce,
                 [] { gActiveCodePage.store(::GetACP(), std::memory_order_release); });
}

TCodePage GetACP() {
  InitializeCodePages();
  return gActiveCodePage.load(std::memory_order_acquire);
}

bool IsCodePageSupported(TCodePage codePage) {
  return ::IsValidCodePage(Resolve(codePage)) != FALSE;
}

std::u16string MultiByteToWideChar(TCodePage codePage, std::uint32_t flags,
                                   std::string_view bytes) {
  if (bytes.empty()) return {};
  const UINT cp = Resolve(codePage);
  const int count = CheckedLength(bytes.size());
  const int needed = ::MultiByteToWideChar(cp, flags, bytes.data(), count, nullptr, 0);
  if (needed <= 0) return DecodeAscii(bytes);
  std::u16string text(static_cast<std::size_t>(needed), u'\0');
  const int written = ::MultiByteToWideChar(cp, flags, bytes.data(), count,
                                            reinterpret_cast<wchar_t*>(text.data()), needed);
  text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}

std::string WideCharToMultiByte(TCodePage codePage, std::uint32_t flags, std::u16string_view text) {
  std::string bytes;
  AppendWideCharToMultiByte(codePage, flags, text, bytes);
  return bytes;
}

void AppendWideCharToMultiByte(TCodePage codePage, std::uint32_t flags, std::u16string_view text,
                               std::string& bytes) {
  if (text.empty()) return;
  const UINT cp = Resolve(codePage);
  const int count = CheckedLength(text.size());
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int needed = ::WideCharToMultiByte(cp, flags, wide, count, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    EncodeAscii(text, bytes);
    return;
  }
  const std::size_t at = bytes.size();
  bytes.resize(at + static_cast<std::size_t>(needed));
  const int written =
      ::WideCharToMultiByte(cp, flags, wide, count, bytes.data() + at, needed, nullptr, nullptr);
  bytes.resize(at + (written > 0 ? static_cast<std::size_t>(written) : 0));
}

}  // namespace delvan::platform
