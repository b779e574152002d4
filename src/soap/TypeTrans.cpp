#include "soap/TypeTrans.h"

#include "rtl/AnsiString.h"
#include "rtl/SysUtils.h"
#include "rtl/Variant.h"
#include "soap/NativeData.h"
#include "soap/SOAPDomConv.h"
#include "soap/TypeRegistry.h"
#include "soap/XSBuiltIns.h"

namespace delvan::soap {

namespace {

constexpr UnicodeStringView kNoTextForm =
    u"Internal error: data type kind %s cannot be converted to and from text";

const rtl::TTypeInfo* BaseEnumType(const rtl::TTypeInfo* info) {
  const rtl::TTypeInfo* base = info->Ordinal()->BaseType;
  return base ? base : info;
}

}  // namespace

bool IsBooleanType(const rtl::TTypeInfo* Info) {
  if (!Info || Info->Kind != rtl::tkEnumeration) return false;
  const rtl::TTypeInfo* base = BaseEnumType(Info);
  return base == &rtl::TypeInfo_Boolean || base == &rtl::TypeInfo_ByteBool ||
         base == &rtl::TypeInfo_WordBool || base == &rtl::TypeInfo_LongBool;
}

UnicodeString DefaultTextOfKind(rtl::TTypeKind kind) {
  switch (kind) {
    case rtl::tkInteger:
    case rtl::tkFloat:
    case rtl::tkInt64:
      return u"0";
    case rtl::tkChar:
    case rtl::tkWChar:
      return UnicodeString(1, u'\0');
    default:
      return {};
  }
}

std::int64_t SoapTextToOrdinal(const rtl::TTypeInfo* Info, UnicodeStringView Text) {
  // Cardinal values above the 32-bit signed range need the wider parse.
  if (Info->Ordinal()->OrdType == rtl::otULong) return rtl::StrToInt64(Text);
  return rtl::StrToInt(Text);
}

std::int64_t SoapTextToEnum(const rtl::TTypeInfo* Info, UnicodeStringView Text) {
  if (IsBooleanType(Info)) {
    if (rtl::SameTextAscii(Text, u"true") || Text == u"1") return 1;
    if (rtl::SameTextAscii(Text, u"false") || Text == u"0" || Text.empty()) return 0;
  } else if (Text.empty()) {
    return 0;
  }
  const rtl::TTypeInfo* base = BaseEnumType(Info);
  const UnicodeString name =
      IsBooleanType(Info) ? UnicodeString(Text) : RemTypeRegistry().GetInternalPropName(base, Text);
  const auto& names = base->Ordinal()->Names;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (rtl::SameTextAscii(names[i], name)) return static_cast<std::int64_t>(i);
  throw EConvertError(u"Invalid property element: %s", {name});
}

long double SoapTextToFloat(const rtl::TTypeInfo* Info, UnicodeStringView Text) {
  if (Info == &rtl::TypeInfo_TDateTime) return XMLTimeToDateTime(Text, false);
  return SoapStrToFloat(Text);
}

std::int64_t SoapTextToInt64(const rtl::TTypeInfo* Info, UnicodeStringView Text) {
  if (Info == &rtl::TypeInfo_UInt64) {
    // Unsigned 64-bit text: digits only, kept in the signed storage's bits.
    UnicodeStringView digits = Text;
    if (!digits.empty() && digits[0] == u'+') digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 20)
      throw EConvertError(u"'%s' is not a valid integer value", {Text});
    std::uint64_t v = 0;
    for (char16_t c : digits) {
      if (c < u'0' || c > u'9') throw EConvertError(u"'%s' is not a valid integer value", {Text});
      const std::uint64_t d = static_cast<std::uint64_t>(c - u'0');
      if (v > (UINT64_MAX - d) / 10)
        throw EConvertError(u"'%s' is not a valid integer value", {Text});
      v = v * 10 + d;
    }
    return static_cast<std::int64_t>(v);
  }
  return rtl::StrToInt64(Text);
}

std::vector<std::uint8_t> DecodeBase64(UnicodeStringView Text) {
  std::vector<std::uint8_t> out;
  out.reserve(Text.size() / 4 * 3 + 3);
  std::uint32_t acc = 0;
  int bits = 0;
  for (char16_t c : Text) {
    int v;
    if (c >= u'A' && c <= u'Z')
      v = c - u'A';
    else if (c >= u'a' && c <= u'z')
      v = c - u'a' + 26;
    else if (c >= u'0' && c <= u'9')
      v = c - u'0' + 52;
    else if (c == u'+')
      v = 62;
    else if (c == u'/')
      v = 63;
    else if (c == u'=')
      break;
    else if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n')
      continue;
    else
      throw EConvertError(u"Invalid base64 text");
    acc = (acc << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

bool TTypeTranslator::CastSoapToNative(const rtl::TTypeInfo* Info, const UnicodeString& Text,
                                       void* NatData, bool IsNull) {
  // A number is read from where its text lies, trimmed by a view; a nil
  // element reads the kind's default text (short: no allocation).
  const UnicodeString nilText = IsNull ? DefaultTextOfKind(Info->Kind) : UnicodeString();
  auto numberText = [&]() -> UnicodeStringView {
    return IsNull ? UnicodeStringView(nilText) : rtl::TrimView(Text);
  };
  switch (Info->Kind) {
    case rtl::tkInteger:
      WriteOrdinal(NatData, Info, SoapTextToOrdinal(Info, numberText()));
      break;
    case rtl::tkEnumeration:
      WriteOrdinal(NatData, Info, SoapTextToEnum(Info, numberText()));
      break;
    case rtl::tkFloat:
      WriteFloat(NatData, Info, SoapTextToFloat(Info, numberText()));
      break;
    case rtl::tkInt64:
      *static_cast<std::int64_t*>(NatData) = SoapTextToInt64(Info, numberText());
      break;
    case rtl::tkChar:
      if (!Text.empty()) WriteOrdinal(NatData, Info, static_cast<std::uint8_t>(Text[0] & 0xFF));
      break;
    case rtl::tkWChar:
      if (!Text.empty()) WriteOrdinal(NatData, Info, static_cast<std::uint16_t>(Text[0]));
      break;
    case rtl::tkString: {
      AnsiString s = AnsiString::Encode(Text, platform::CP_ACP);
      const std::size_t max = Info->ShortString() ? Info->ShortString()->MaxLength : 255;
      std::string bytes = s.Bytes();
      if (bytes.size() > max) bytes.resize(max);
      *static_cast<AnsiString*>(NatData) = AnsiString(std::move(bytes), s.CodePage());
      break;
    }
    case rtl::tkLString:
      *static_cast<AnsiString*>(NatData) = AnsiString::Encode(Text, platform::CP_ACP);
      break;
    case rtl::tkWString:
    case rtl::tkUString:
      *static_cast<UnicodeString*>(NatData) = Text;
      break;
    case rtl::tkVariant:
      // The declared type is a variant: it holds the text.
      *static_cast<Variant*>(NatData) = IsNull ? Variant::Null() : Variant(Text);
      break;
    default:
      throw ETypeTransException(kNoTextForm, {soap::TypeKindName(Info->Kind)});
  }
  return true;
}

}  // namespace delvan::soap
