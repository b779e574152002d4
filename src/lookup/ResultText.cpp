#include "lookup/ResultText.h"

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

bool NeedsQuotes(std::u16string_view item) {
  // One bit per character below 64 that needs quotes: U+0001 to U+0020, '"' and ';'.
  constexpr std::uint64_t kQuoted =
      (((std::uint64_t{1} << 33) - 1) & ~std::uint64_t{1}) | (std::uint64_t{1} << u'"') |
      (std::uint64_t{1} << u';');
  for (char16_t c : item)
    if (c < 64 && ((kQuoted >> c) & 1)) return true;
  return false;
}

// Writes items into one text, separated by ";" and quoted as JoinItems
// promises. An item is written in place between Begin and End; Drop takes
// back an item begun but not ended.
class TItemWriter {
 public:
  explicit TItemWriter(UnicodeString& text) : FText(text) {}
  TItemWriter(const TItemWriter&) = delete;
  TItemWriter& operator=(const TItemWriter&) = delete;

  UnicodeString& Begin() {
    FMark = FText.size();
    if (FCount) FText += u';';
    FStart = FText.size();
    return FText;
  }
  void End() {
    ++FCount;
    if (!NeedsQuotes(std::u16string_view(FText).substr(FStart))) return;
    const UnicodeString item = FText.substr(FStart);  // rare: values seldom need quotes
    FText.resize(FStart);
    FText += u'"';
    for (char16_t c : item) {
      if (c == u'"') FText += u'"';
      FText += c;
    }
    FText += u'"';
  }
  void Drop() { FText.resize(FMark); }
  void Add(std::u16string_view item) {
    Begin() += item;
    End();
  }

 private:
  UnicodeString& FText;
  std::size_t FMark = 0, FStart = 0, FCount = 0;
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

// "name___index___=value".
void Numbered(TItemWriter& out, std::u16string_view name, std::u16string_view index,
              std::u16string_view value) {
  UnicodeString& item = out.Begin();
  item += name;
  item += u"___";
  item += index;
  item += u"___=";
  item += value;
  out.End();
}

void AppendActivityItems(TItemWriter& out,
                         const service::RgWsPublicFirmActRtUserArray& activities) {
  for (std::size_t i = 0; i < activities.size(); ++i) {
    const RgWsPublicFirmActRtUser* a = activities[i];
    const UnicodeString index = rtl::IntToStr(static_cast<std::int64_t>(i));
    // An absent entry keeps the numbering contiguous: four empty values.
    if (!a) {
      for (std::u16string_view name :
           {u"firmActDescr", u"firmActKind", u"firmActKindDescr", u"firmActCode"})
        Numbered(out, name, index, {});
      continue;
    }
    Numbered(out, u"firmActDescr", index, a->FfirmActDescr);
    Numbered(out, u"firmActKind", index, a->FfirmActKind);
    Numbered(out, u"firmActKindDescr", index, a->FfirmActKindDescr);
    Numbered(out, u"firmActCode", index,
             a->FfirmActCode ? a->FfirmActCode->NativeToXS() : UnicodeString());
  }
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
  // The items are written straight into the one text; room for a typical
  // record's items up front, so the text seldom grows.
  UnicodeString text;
  text.reserve(1024 + 160 * afirmact.size());
  TItemWriter out(text);
  AppendRecordItems(out, auser, true);
  AppendRecordItems(out, aerror, false);
  AppendActivityItems(out, afirmact);
  // Unpaired surrogates become U+FFFD before the text meets the code page.
  ReplaceUnpairedSurrogates(text);
  return AnsiString::Encode(text, platform::CP_ACP);
}

}  // namespace delvan::lookup
