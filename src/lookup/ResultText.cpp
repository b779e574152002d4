#include "lookup/ResultText.h"

#include <algorithm>
#include <array>
#include <string>

#include "rtl/Exception.h"
#include "soap/XSBuiltIns.h"

namespace delvan::lookup {

using service::RgWsPublicFirmActRtUser;

namespace {

constexpr std::u16string_view kEmpty = u"(empty)";

// The text form of one published property's value.
UnicodeString PropertyText(const TObject* record, const rtl::TPropInfo& prop, bool dateTimeStep) {
  const rtl::TTypeInfo* type = prop.PropType;
  if (prop.GetStr) return prop.GetStr(record);
  if (prop.GetObj) {
    TObject* value = prop.GetObj(record);
    if (!value) return UnicodeString(kEmpty);
    if (dateTimeStep)
      if (auto* dt = rtl::ObjectAs<soap::TXSDateTime>(value)) return dt->NativeToXS();
    // A present object of any other kind shows its class, as no record of
    // the service carries one.
    UnicodeString text = u"(";
    text += value->ClassName();
    text += u')';
    return text;
  }
  if (prop.GetOrd) {
    std::int64_t v = prop.GetOrd(record);
    const rtl::TOrdinalTypeData* ord = type ? type->Ordinal() : nullptr;
    if (ord && type->Kind == rtl::tkEnumeration && v >= 0 &&
        static_cast<std::size_t>(v) < ord->Names.size())
      return UnicodeString(ord->Names[static_cast<std::size_t>(v)]);
    return rtl::IntToStr(v);
  }
  throw Exception(u"Property %s cannot be shown as text", {prop.Name});
}

// What one scan of a text finds.
enum : unsigned {
  kQuoted = 1,       // a character that makes its item quoted: U+0001 to U+0020, '"' or ';'
  kDoubleQuote = 2,  // a '"', doubled inside quotes
  kSurrogate = 4,    // a surrogate, paired or not
};

// What each ASCII unit contributes to a scan.
constexpr std::array<std::uint8_t, 128> kAsciiScan = [] {
  std::array<std::uint8_t, 128> table{};
  for (char16_t c = 1; c <= 32; ++c) table[c] = kQuoted;
  table[u';'] = kQuoted;
  table[u'"'] = kQuoted | kDoubleQuote;
  return table;
}();

// One pass over text for everything an item needs to know: blocks of
// eight units through a plain reduction over 16-bit units, which the
// compiler widens, and the rest through one table look-up per unit.
unsigned ScanText(std::u16string_view text) {
  const std::size_t blocks = text.size() & ~std::size_t{7};
  unsigned found = 0;
  if (blocks) {
    std::uint16_t quoted = 0, doubleQuote = 0, surrogate = 0;
    for (std::size_t i = 0; i < blocks; ++i) {
      const char16_t c = text[i];
      quoted |= static_cast<std::uint16_t>((static_cast<char16_t>(c - 1) < 32) | (c == u';'));
      doubleQuote |= static_cast<std::uint16_t>(c == u'"');
      surrogate |= static_cast<std::uint16_t>((c & 0xF800) == 0xD800);
    }
    found = (quoted || doubleQuote ? kQuoted : 0u) | (doubleQuote ? kDoubleQuote : 0u) |
            (surrogate ? kSurrogate : 0u);
  }
  for (char16_t c : text.substr(blocks))
    found |= c < 128 ? kAsciiScan[c] : (c & 0xF800) == 0xD800 ? kSurrogate : 0u;
  return found;
}

// The double quotes of text, when scan says it has any.
std::size_t DoubleQuotes(std::u16string_view text, unsigned scan) {
  return scan & kDoubleQuote ? static_cast<std::size_t>(std::count(text.begin(), text.end(), u'"'))
                             : 0;
}

char16_t* Put(char16_t* d, std::u16string_view text) {
  std::char_traits<char16_t>::copy(d, text.data(), text.size());
  return d + text.size();
}

// Copies text with each double quote doubled.
char16_t* PutDoubled(char16_t* d, std::u16string_view text) {
  for (char16_t c : text) {
    if (c == u'"') *d++ = u'"';
    *d++ = c;
  }
  return d;
}

// Replaces each unpaired surrogate with U+FFFD, in place: what a round trip
// through UTF-8 would give, without making the two copies.
void ReplaceUnpairedSurrogates(UnicodeString& text) {
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    if (c < 0xD800 || c > 0xDFFF) continue;
    if (c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;  // a pair
      continue;
    }
    text[i] = u'\uFFFD';
  }
}

// Units of UTF-16 text held before they go into the 8-bit text, when the
// items are encoded as they are written: a large answer's text is never
// held whole in UTF-16 as well.
constexpr std::size_t kPieceUnits = 16 * 1024;

// Writes items into one text, separated by ";" and quoted as JoinItems
// promises. An item is written in place between Begin and End; Drop takes
// back an item begun but not ended. Given bytes, the writer moves the
// items written so far into them, encoded in codePage, whenever text
// holds kPieceUnits or more, and at Flush; text then holds a piece only.
class TItemWriter {
 public:
  explicit TItemWriter(UnicodeString& text, std::string* bytes = nullptr,
                       platform::TCodePage codePage = platform::CP_UTF8)
      : FText(text), FBytes(bytes), FCodePage(codePage) {}
  TItemWriter(const TItemWriter&) = delete;
  TItemWriter& operator=(const TItemWriter&) = delete;

  UnicodeString& Begin() {
    FMark = FText.size();
    if (FCount) FText += u';';
    FStart = FText.size();
    return FText;
  }
  // Quotes the item in place when it needs it, its double quotes doubled
  // from the back, so nothing is copied out.
  void End() {
    ++FCount;
    const std::u16string_view item = std::u16string_view(FText).substr(FStart);
    const unsigned scan = ScanText(item);
    FSurrogates |= scan & kSurrogate;
    if (!(scan & kQuoted)) {
      FlushWhenFull();
      return;
    }
    const std::size_t n = item.size();
    const std::size_t doubled = DoubleQuotes(item, scan);
    FText.resize(FStart + n + 2 + doubled);
    char16_t* const p = FText.data() + FStart;
    if (!doubled) {
      std::char_traits<char16_t>::move(p + 1, p, n);
    } else {
      // Every unit moves right by the double quotes still before it, so
      // each is read before its place is written.
      std::size_t to = n + doubled;
      for (std::size_t from = n; from-- > 0;) {
        const char16_t c = p[from];
        p[to--] = c;
        if (c == u'"') p[to--] = u'"';
      }
    }
    p[0] = u'"';
    p[n + 1 + doubled] = u'"';
    FlushWhenFull();
  }
  void Drop() { FText.resize(FMark); }
  void Add(std::u16string_view item) {
    Begin() += item;
    End();
  }

  // Writes the four items of one activity, "name___index___=value", in one
  // step: their size worked out first, then written through a pointer.
  // infix is "___index___="; the names need no quotes.
  void AddActivity(std::u16string_view infix, const std::u16string_view (&values)[4]) {
    static constexpr std::u16string_view kNames[4] = {u"firmActDescr", u"firmActKind",
                                                      u"firmActKindDescr", u"firmActCode"};
    unsigned scans[4];
    std::size_t doubled[4];
    std::size_t size = FCount ? 4 : 3;  // separators
    for (std::size_t k = 0; k < 4; ++k) {
      scans[k] = ScanText(values[k]);
      doubled[k] = DoubleQuotes(values[k], scans[k]);
      size += kNames[k].size() + infix.size() + values[k].size() +
              (scans[k] & kQuoted ? 2 + doubled[k] : 0);
      FSurrogates |= scans[k] & kSurrogate;
    }
    const std::size_t at = FText.size();
    FText.resize(at + size);
    char16_t* d = FText.data() + at;
    for (std::size_t k = 0; k < 4; ++k) {
      if (FCount++) *d++ = u';';
      const bool quoted = scans[k] & kQuoted;
      if (quoted) *d++ = u'"';
      d = Put(d, kNames[k]);
      d = Put(d, infix);
      d = doubled[k] ? PutDoubled(d, values[k]) : Put(d, values[k]);
      if (quoted) *d++ = u'"';
    }
    FlushWhenFull();
  }

  // Moves the items written so far into the bytes. Unpaired surrogates
  // become U+FFFD before the text meets the code page; the items' scans
  // said whether there is any surrogate at all. A pair never spans two
  // items, as separators and quotes lie between them, so a piece ends
  // with no half of one.
  void Flush() {
    if (FSurrogates) ReplaceUnpairedSurrogates(FText);
    platform::AppendWideCharToMultiByte(FCodePage, 0, FText, *FBytes);
    FText.clear();
    FSurrogates = 0;
  }

 private:
  void FlushWhenFull() {
    if (FBytes && FText.size() >= kPieceUnits) Flush();
  }

  UnicodeString& FText;
  std::string* FBytes;
  platform::TCodePage FCodePage;
  std::size_t FMark = 0, FStart = 0, FCount = 0;
  unsigned FSurrogates = 0;
};

// Writes one item per property of record: its published properties, then
// DataContext and SerializationOptions. A property whose value cannot be
// read or shown is left out. An absent record gives no items.
void AppendRecordItems(TItemWriter& out, const soap::TRemotable* record, bool dateTimeStep) {
  if (!record) return;
  for (const rtl::TPropInfo* prop : rtl::GetPropList(record->ClassType())) {
    UnicodeString& text = out.Begin();
    try {
      text += prop->Name;
      text += u'=';
      const rtl::TTypeInfo* type = prop->PropType;
      // A string field is appended from where it lies, without a copy.
      if (prop->GetStr && prop->FieldAddress && type &&
          (type->Kind == rtl::tkUString || type->Kind == rtl::tkWString))
        text += *static_cast<const UnicodeString*>(
            prop->FieldAddress(const_cast<soap::TRemotable*>(record)));
      else
        text += PropertyText(record, *prop, dateTimeStep);
      out.End();
    } catch (const Exception&) {
      // Left out on purpose; running out of memory is not absorbed here.
      out.Drop();
    }
  }
  UnicodeString& context = out.Begin();
  context += u"DataContext=";
  context += record->DataContext() ? std::u16string_view(u"(TDataContext)") : kEmpty;
  out.End();
  UnicodeString& options = out.Begin();
  options += u"SerializationOptions=";
  options += soap::SerializationOptionsToText(record->SerializationOptions());
  out.End();
}

// "___index___=" for each index, the digits written in place.
class TIndexInfix {
 public:
  std::u16string_view Text(std::size_t index) {
    char16_t* d = FBuffer + sizeof FBuffer / sizeof FBuffer[0];
    d = Put(d - 4, u"___=") - 4;
    do {
      *--d = static_cast<char16_t>(u'0' + index % 10);
      index /= 10;
    } while (index);
    d -= 3;
    Put(d, u"___");
    return {d, static_cast<std::size_t>(FBuffer + sizeof FBuffer / sizeof FBuffer[0] - d)};
  }

 private:
  char16_t FBuffer[3 + 20 + 4];  // room for any 64-bit index
};

void AppendActivityItems(TItemWriter& out,
                         const service::RgWsPublicFirmActRtUserArray& activities) {
  TIndexInfix infix;
  for (std::size_t i = 0; i < activities.size(); ++i) {
    const RgWsPublicFirmActRtUser* a = activities[i];
    // An absent entry keeps the numbering contiguous: four empty values.
    if (!a) {
      out.AddActivity(infix.Text(i), {{}, {}, {}, {}});
      continue;
    }
    // The decimal's text is taken from where it lies; a holder of another
    // class answers through NativeToXS.
    UnicodeString code;
    std::u16string_view codeText;
    if (const soap::TXSDecimal* decimal = a->FfirmActCode) {
      if (decimal->ClassType() == &soap::TXSDecimal::StaticClass)
        codeText = decimal->DecimalString();
      else
        codeText = code = a->FfirmActCode->NativeToXS();
    }
    out.AddActivity(infix.Text(i),
                    {a->FfirmActDescr, a->FfirmActKind, a->FfirmActKindDescr, codeText});
  }
}

}  // namespace

UnicodeString JoinItems(const std::vector<UnicodeString>& items) {
  std::size_t total = 0;
  for (const UnicodeString& item : items) total += item.size() + 3;
  UnicodeString text;
  text.reserve(total);
  TItemWriter out(text);
  for (const UnicodeString& item : items) out.Add(item);
  return text;
}

AnsiString OrganizeOutputData(const service::RgWsPublicBasicRtUser* auser,
                              const service::GenWsErrorRtUser* aerror,
                              const service::RgWsPublicFirmActRtUserArray& afirmact) {
  // The items are written into a piece of UTF-16 text that goes into the
  // 8-bit text whenever it is full. Room for the records' items and about
  // 160 units per activity up front; the 8-bit text reserves a byte for
  // each, what the single-byte code pages take, and UTF-8 grows it as
  // needed.
  const platform::TCodePage codePage = platform::GetACP();
  const std::size_t units = 1024 + 160 * afirmact.size();
  UnicodeString piece;
  piece.reserve(std::min(units, kPieceUnits + 1024));
  std::string bytes;
  bytes.reserve(units);
  TItemWriter out(piece, &bytes, codePage);
  AppendRecordItems(out, auser, true);
  AppendRecordItems(out, aerror, false);
  AppendActivityItems(out, afirmact);
  out.Flush();
  return AnsiString(std::move(bytes), codePage);
}

}  // namespace delvan::lookup
