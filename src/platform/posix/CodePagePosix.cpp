// POSIX backend of the code-page services: UTF-8 and the single-byte code
// pages are converted here, by table, without iconv or the C locale.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/CodePage.h"
#include "platform/posix/CodePageState.h"
#include "platform/posix/CodePageTables.h"
#include "platform/posix/LocaleCodePage.h"

namespace delvan::platform {

namespace posix {
constinit std::atomic<TCodePage> g_activeCodePage{0};
constinit std::atomic<TCodePage> g_detectedCodePage{0};
}  // namespace posix

namespace {

using posix::kIso8859_7;
using posix::kUndefinedByte;
using posix::kWindows1252;
using posix::kWindows1253;
using posix::UpperHalfTable;

constexpr char16_t kReplacement = u'\uFFFD';
constexpr char kUnmappable = '?';

constexpr bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

constexpr bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// ---------------------------------------------------------------- UTF-8

// Valid range of the second byte of a sequence led by lead; the following
// bytes are always 0x80-0xBF. Rejects overlongs, surrogates and > U+10FFFF.
struct SecondByteRange {
  unsigned char low;
  unsigned char high;
};

constexpr SecondByteRange SecondByteFor(unsigned char lead) {
  switch (lead) {
    case 0xE0:
      return {0xA0, 0xBF};
    case 0xED:
      return {0x80, 0x9F};
    case 0xF0:
      return {0x90, 0xBF};
    case 0xF4:
      return {0x80, 0x8F};
    default:
      return {0x80, 0xBF};
  }
}

// Number of bytes in a sequence led by lead; 0 for a byte that cannot lead.
constexpr int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Each maximal ill-formed subsequence becomes one U+FFFD.
std::u16string DecodeUtf8(std::string_view bytes) {
  std::u16string out;
  // Every byte yields at most one unit; a 4-byte sequence yields two.
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const int length = SequenceLength(lead);
    if (length == 1) {
      out.push_back(lead);
      ++i;
      continue;
    }
    if (length == 0) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    char32_t cp = lead & (0xFF >> (length + 1));
    std::size_t next = i + 1;
    bool complete = true;
    for (int k = 1; k < length; ++k, ++next) {
      const SecondByteRange range = k == 1 ? SecondByteFor(lead) : SecondByteRange{0x80, 0xBF};
      if (next >= bytes.size()) {
        complete = false;
        break;
      }
      const auto byte = static_cast<unsigned char>(bytes[next]);
      if (byte < range.low || byte > range.high) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (byte & 0x3F);
    }
    if (complete) {
      AppendUtf16(out, cp);
    } else {
      // The lead and its valid continuations so far; resume at the bad byte.
      out.push_back(kReplacement);
    }
    i = next;
  }
  return out;
}

// Whether the eight units at p are all ASCII; then narrowed to d.
constexpr std::size_t kAsciiBlock = 8;
inline bool NarrowAsciiBlock(const char16_t* p, unsigned char* d) {
#if defined(__SSE2__)
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) return false;
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(units, units));
#else
  std::uint64_t a, b;
  std::memcpy(&a, p, sizeof a);
  std::memcpy(&b, p + 4, sizeof b);
  if ((a | b) & 0xFF80FF80FF80FF80u) return false;
  for (std::size_t k = 0; k < kAsciiBlock; ++k) d[k] = static_cast<unsigned char>(p[k]);
#endif
  return true;
}

// Narrows the ASCII units from p on to d, 32 at a time while they last,
// then 8 at a time; p and d are left after them.
void NarrowAsciiLead(const char16_t*& p, const char16_t* end, unsigned char*& d) {
  constexpr std::ptrdiff_t kChunk = 32;
  while (end - p >= kChunk) {
#if defined(__SSE2__)
    const auto* in = reinterpret_cast<const __m128i*>(p);
    const __m128i u0 = _mm_loadu_si128(in), u1 = _mm_loadu_si128(in + 1);
    const __m128i u2 = _mm_loadu_si128(in + 2), u3 = _mm_loadu_si128(in + 3);
    const __m128i any = _mm_or_si128(_mm_or_si128(u0, u1), _mm_or_si128(u2, u3));
    const __m128i high = _mm_and_si128(any, _mm_set1_epi16(static_cast<short>(0xFF80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) break;
    auto* out = reinterpret_cast<__m128i*>(d);
    _mm_storeu_si128(out, _mm_packus_epi16(u0, u1));
    _mm_storeu_si128(out + 1, _mm_packus_epi16(u2, u3));
#else
    char16_t any = 0;
    for (std::ptrdiff_t k = 0; k < kChunk; ++k) any |= p[k];
    if (any >= 0x80) break;
    for (std::ptrdiff_t k = 0; k < kChunk; ++k) d[k] = static_cast<unsigned char>(p[k]);
#endif
    p += kChunk;
    d += kChunk;
  }
  while (end - p >= static_cast<std::ptrdiff_t>(kAsciiBlock) && NarrowAsciiBlock(p, d)) {
    p += kAsciiBlock;
    d += kAsciiBlock;
  }
}

// Appends text in UTF-8 to out, written through a pointer: this encodes
// every request body, so it must not cost much more than a copy. The ASCII
// lead (the whole text, in most messages) is narrowed in one pass; the rest
// is sized, then encoded.
void EncodeUtf8(std::u16string_view text, std::string& out) {
  const char16_t* const begin = text.data();
  const char16_t* const end = begin + text.size();
  const std::size_t at = out.size();
  out.resize(at + text.size());
  auto* d = reinterpret_cast<unsigned char*>(out.data() + at);
  const char16_t* rest = begin;
  NarrowAsciiLead(rest, end, d);
  while (rest < end && *rest < 0x80) *d++ = static_cast<unsigned char>(*rest++);
  if (rest == end) return;
  // One byte per unit, one more from U+0080 and one more from U+0800 (an
  // unpaired surrogate becomes U+FFFD, also three bytes); a pair gives four
  // bytes, not six. A low surrogate pairs with the unit before it exactly
  // when that is a high one, so the pairs are counted without a scan that
  // skips. Every sum is a plain reduction the compiler can widen.
  // The sums run over blocks in 16 bits, the width of the units, so the
  // widened loop needs no widening of its lanes; no block sum can wrap.
  std::size_t size = text.size();
  bool surrogates = false;
  for (const char16_t* block = rest; block < end;) {
    const char16_t* const blockEnd = end - block > 16384 ? block + 16384 : end;
    std::uint16_t extra = 0;
    std::uint16_t any = 0;
    for (const char16_t* p = block; p < blockEnd; ++p) {
      extra = static_cast<std::uint16_t>(extra + (*p >= 0x80) + (*p >= 0x800));
      any |= (*p & 0xF800) == 0xD800;
    }
    size += extra;
    surrogates |= any != 0;
    block = blockEnd;
  }
  if (surrogates) {
    std::size_t pairs = 0;
    for (const char16_t* p = rest + 1; p < end; ++p)
      pairs += IsHighSurrogate(p[-1]) & IsLowSurrogate(p[0]);
    size -= 2 * pairs;
  }
  out.resize(at + size);
  d = reinterpret_cast<unsigned char*>(out.data() + at + (rest - begin));
  // Markup and names come in ASCII runs: a block of them at once, else the
  // block's units one by one (a pair may end one unit past it).
  for (const char16_t* p = rest; p < end;) {
    if (end - p >= static_cast<std::ptrdiff_t>(kAsciiBlock) && NarrowAsciiBlock(p, d)) {
      p += kAsciiBlock;
      d += kAsciiBlock;
      continue;
    }
    const char16_t* const blockEnd =
        end - p > static_cast<std::ptrdiff_t>(kAsciiBlock) ? p + kAsciiBlock : end;
    for (; p < blockEnd; ++p) {
      char32_t cp = *p;
      if (cp < 0x80) {
        *d++ = static_cast<unsigned char>(cp);
      } else if (cp < 0x800) {
        *d++ = static_cast<unsigned char>(0xC0 | (cp >> 6));
        *d++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      } else if (IsHighSurrogate(*p) && p + 1 < end && IsLowSurrogate(p[1])) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(p[1]) - 0xDC00);
        ++p;
        *d++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
        *d++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        *d++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        *d++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      } else {
        if (IsSurrogate(cp)) cp = kReplacement;
        *d++ = static_cast<unsigned char>(0xE0 | (cp >> 12));
        *d++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        *d++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      }
    }
  }
}

// ---------------------------------------------------- single-byte pages

// The byte of every UTF-16 unit an upper-half table defines, looked up in
// two steps: the unit's high byte picks a block of 256, its low byte the
// entry (0: not in the code page, as no upper-half byte is 0). Only the few
// blocks a code page uses are kept.
class DirectTable {
 public:
  explicit DirectTable(const UpperHalfTable& table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
      const char16_t unit = table[i];
      if (unit == kUndefinedByte) continue;
      std::uint8_t& block = index_[unit >> 8];
      if (block == 0) {
        block = static_cast<std::uint8_t>(blocks_.size());
        blocks_.emplace_back();
      }
      unsigned char& byte = blocks_[block][unit & 0xFF];
      if (byte == 0) byte = static_cast<unsigned char>(0x80 + i);  // the first byte wins
    }
  }

  // The byte of unit, 0 when the code page lacks it.
  unsigned char Find(char16_t unit) const { return blocks_[index_[unit >> 8]][unit & 0xFF]; }

 private:
  // Block 0 stays empty for the high bytes no unit of the table has; 128
  // units need at most 128 blocks more, so a block number fits a byte.
  std::array<std::uint8_t, 256> index_{};
  std::vector<std::array<unsigned char, 256>> blocks_ =
      std::vector<std::array<unsigned char, 256>>(1);
};

// A single-byte code page: US-ASCII below 0x80; above, a table, or the
// identity (ISO-8859-1), or nothing (US-ASCII) when table is null.
struct SingleByteCodePage {
  const UpperHalfTable* table;
  const DirectTable* reverse;
  bool identity;
};

SingleByteCodePage SingleByteFor(TCodePage codePage) {
  // Built once, on first use; function-local statics are thread-safe.
  static const DirectTable reverse1253(kWindows1253);
  static const DirectTable reverse1252(kWindows1252);
  static const DirectTable reverse28597(kIso8859_7);
  switch (codePage) {
    case CP_GREEK:
      return {&kWindows1253, &reverse1253, false};
    case CP_LATIN1:
      return {&kWindows1252, &reverse1252, false};
    case CP_ISO_8859_7:
      return {&kIso8859_7, &reverse28597, false};
    case CP_ISO_8859_1:
      return {nullptr, nullptr, true};
    default:
      return {nullptr, nullptr, false};  // US-ASCII, and unsupported pages
  }
}

std::u16string DecodeSingleByte(const SingleByteCodePage& page, std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80 || page.identity) {
      out.push_back(byte);
    } else if (page.table != nullptr) {
      out.push_back((*page.table)[byte - 0x80]);
    } else {
      out.push_back(kReplacement);
    }
  }
  return out;
}

// Appends text in page to out. One pass written through a pointer: every
// code point gives one byte, so the text's length bounds the result.
void EncodeSingleByte(const SingleByteCodePage& page, std::u16string_view text, std::string& out) {
  const std::size_t at = out.size();
  out.resize(at + text.size());
  char* d = out.data() + at;
  const char16_t* p = text.data();
  const char16_t* const end = p + text.size();
  while (p < end) {
    if (end - p >= static_cast<std::ptrdiff_t>(kAsciiBlock) &&
        NarrowAsciiBlock(p, reinterpret_cast<unsigned char*>(d))) {
      p += kAsciiBlock;
      d += kAsciiBlock;
      continue;
    }
    // The block's units one by one (a pair may end one unit past it).
    const char16_t* const blockEnd =
        end - p > static_cast<std::ptrdiff_t>(kAsciiBlock) ? p + kAsciiBlock : end;
    while (p < blockEnd) {
      const char16_t unit = *p++;
      if (unit < 0x80) {
        *d++ = static_cast<char>(unit);
        continue;
      }
      unsigned char byte = 0;
      if (IsHighSurrogate(unit) && p < end && IsLowSurrogate(*p)) {
        ++p;  // a supplementary character is in no single-byte page
      } else if (page.identity) {
        if (unit <= 0xFF) byte = static_cast<unsigned char>(unit);
      } else if (page.reverse != nullptr) {
        byte = page.reverse->Find(unit);  // no table holds a surrogate
      }
      *d++ = byte ? static_cast<char>(byte) : kUnmappable;
    }
  }
  out.resize(static_cast<std::size_t>(d - out.data()));
}

TCodePage Resolve(TCodePage codePage) { return codePage == CP_ACP ? GetACP() : codePage; }

std::once_flag g_initializeOnce;

}  // namespace

void InitializeCodePages() {
  std::call_once(g_initializeOnce, [] {
    const TCodePage detected = posix::DetectSystemCodePage();
    posix::g_detectedCodePage.store(detected, std::memory_order_release);
    posix::g_activeCodePage.store(detected, std::memory_order_release);
  });
}

TCodePage GetACP() {
  TCodePage codePage = posix::g_activeCodePage.load(std::memory_order_acquire);
  if (codePage == CP_ACP) {
    InitializeCodePages();
    codePage = posix::g_activeCodePage.load(std::memory_order_acquire);
  }
  return codePage;
}

bool IsCodePageSupported(TCodePage codePage) {
  switch (Resolve(codePage)) {
    case CP_UTF8:
    case CP_GREEK:
    case CP_LATIN1:
    case CP_ISO_8859_7:
    case CP_ISO_8859_1:
    case CP_US_ASCII:
      return true;
    default:
      return false;
  }
}

std::u16string MultiByteToWideChar(TCodePage codePage, [[maybe_unused]] std::uint32_t flags,
                                   std::string_view bytes) {
  const TCodePage resolved = Resolve(codePage);
  if (resolved == CP_UTF8) return DecodeUtf8(bytes);
  return DecodeSingleByte(SingleByteFor(resolved), bytes);
}

std::string WideCharToMultiByte(TCodePage codePage, std::uint32_t flags, std::u16string_view text) {
  std::string out;
  AppendWideCharToMultiByte(codePage, flags, text, out);
  return out;
}

void AppendWideCharToMultiByte(TCodePage codePage, [[maybe_unused]] std::uint32_t flags,
                               std::u16string_view text, std::string& out) {
  const TCodePage resolved = Resolve(codePage);
  if (resolved == CP_UTF8)
    EncodeUtf8(text, out);
  else
    EncodeSingleByte(SingleByteFor(resolved), text, out);
}

}  // namespace delvan::platform
