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

// Appends one item per property of record: its published properties, then
// DataContext and SerializationOptions. A property whose value cannot be
// read or shown is left out. An absent record gives no items.
void AppendRecordItems(std::vector<UnicodeString>& items, const soap::TRemotable* record,
                       bool dateTimeStep) {
  if (!record) return;
  for (const rtl::TPropInfo* prop : rtl::GetPropList(record->ClassType())) {
    try {
      UnicodeString item(prop->Name);
      item += u'=';
      item += PropertyText(record, *prop, dateTimeStep);
      items.push_back(std::move(item));
    } catch (const Exception&) {
      // Left out on purpose; running out of memory is not absorbed here.
    }
  }
  UnicodeString context = u"DataContext=";
  context += record->DataContext() ? std::u16string_view(u"(TDataContext)") : kEmpty;
  items.push_back(std::move(context));
  UnicodeString options = u"SerializationOptions=";
  options += soap::SerializationOptionsToText(record->SerializationOptions());
  items.push_back(std::move(options));
}

// "name___index___=value", built in one string.
UnicodeString Numbered(std::u16string_view name, std::u16string_view index,
                       std::u16string_view value) {
  UnicodeString item;
  item.reserve(name.size() + index.size() + value.size() + 7);
  item += name;
  item += u"___";
  item += index;
  item += u"___=";
  item += value;
  return item;
}

void AppendActivityItems(std::vector<UnicodeString>& items,
                         const service::RgWsPublicFirmActRtUserArray& activities) {
  for (std::size_t i = 0; i < activities.size(); ++i) {
    const RgWsPublicFirmActRtUser* a = activities[i];
    const UnicodeString index = rtl::IntToStr(static_cast<std::int64_t>(i));
    // An absent entry keeps the numbering contiguous: four empty values.
    if (!a) {
      for (std::u16string_view name :
           {u"firmActDescr", u"firmActKind", u"firmActKindDescr", u"firmActCode"})
        items.push_back(Numbered(name, index, {}));
      continue;
    }
    items.push_back(Numbered(u"firmActDescr", index, a->FfirmActDescr));
    items.push_back(Numbered(u"firmActKind", index, a->FfirmActKind));
    items.push_back(Numbered(u"firmActKindDescr", index, a->FfirmActKindDescr));
    items.push_back(Numbered(u"firmActCode", index,
                             a->FfirmActCode ? a->FfirmActCode->NativeToXS() : UnicodeString()));
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

bool NeedsQuotes(const UnicodeString& item) {
  for (char16_t c : item)
    if (c == u'"' || c == u';' || (c >= 0x0001 && c <= 0x0020)) return true;
  return false;
}

}  // namespace

UnicodeString JoinItems(const std::vector<UnicodeString>& items) {
  std::size_t total = 0;
  for (const UnicodeString& item : items) total += item.size() + 3;
  UnicodeString text;
  text.reserve(total);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) text += u';';
    const UnicodeString& item = items[i];
    if (!NeedsQuotes(item)) {
      text += item;
      continue;
    }
    text += u'"';
    for (char16_t c : item) {
      if (c == u'"') text += u'"';
      text += c;
    }
    text += u'"';
  }
  return text;
}

AnsiString OrganizeOutputData(const service::RgWsPublicBasicRtUser* auser,
                              const service::GenWsErrorRtUser* aerror,
                              const service::RgWsPublicFirmActRtUserArray& afirmact) {
  std::vector<UnicodeString> items;
  items.reserve(24 + 4 * afirmact.size());
  AppendRecordItems(items, auser, true);
  AppendRecordItems(items, aerror, false);
  AppendActivityItems(items, afirmact);
  UnicodeString joined = JoinItems(items);
  // Unpaired surrogates become U+FFFD before the text meets the code page.
  ReplaceUnpairedSurrogates(joined);
  return AnsiString::Encode(joined, platform::CP_ACP);
}

}  // namespace delvan::lookup
