#include "soap/XSBuiltIns.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/TimeZone.h"
#include "rtl/Character.h"
#include "rtl/SysUtils.h"
#include "soap/SOAPConst.h"
#include "soap/TypeRegistry.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

constexpr std::u16string_view kUnitName = u"Soap.XSBuiltIns";

constinit const TClass TRemotableXS::StaticClass = rtl::DefineClass<TRemotableXS, TRemotable>(
    TRemotableXS::StaticClass, u"TRemotableXS", kUnitName);
constinit const TClass TXSDecimal::StaticClass =
    rtl::DefineClass<TXSDecimal, TRemotableXS>(TXSDecimal::StaticClass, u"TXSDecimal", kUnitName);
constinit const TClass TXSCustomDateTime::StaticClass =
    rtl::DefineClass<TXSCustomDateTime, TRemotableXS>(TXSCustomDateTime::StaticClass,
                                                      u"TXSCustomDateTime", kUnitName);
constinit const TClass TXSDateTime::StaticClass = rtl::DefineClass<TXSDateTime, TXSCustomDateTime>(
    TXSDateTime::StaticClass, u"TXSDateTime", kUnitName);

IntfPtr<xml::IXMLNode> TRemotableXS::ObjectToSOAP(
    xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode, IObjConverter* ObjConverter,
    const UnicodeString& NodeName, const UnicodeString& NodeNamespace,
    const UnicodeString& ChildNamespace, TObjectConvertOptions ObjConvOpts, UnicodeString& RefID) {
  ObjConvOpts.Include(ocoDontSerializeProps);
  IntfPtr<xml::IXMLNode> node =
      TRemotable::ObjectToSOAP(RootNode, ParentNode, ObjConverter, NodeName, NodeNamespace,
                               ChildNamespace, ObjConvOpts, RefID);
  if (node) node->SetText(NativeToXS());
  return node;
}

void TRemotableXS::SOAPToObject(xml::IXMLNode* RootNode, xml::IXMLNode* Node,
                                IObjConverter* ObjConverter) {
  TRemotable::SOAPToObject(RootNode, Node, ObjConverter);
  UnicodeString text = Node->GetText();
  // The holders of the records take the element's text as it is, moved in
  // rather than copied; only these exact classes, as a derived one may
  // check or convert in its own XSToNative.
  const TClass* cls = ClassType();
  if (cls == &TXSDecimal::StaticClass) {
    static_cast<TXSDecimal*>(this)->SetDecimalString(std::move(text));
  } else if (cls == &TXSDateTime::StaticClass) {
    static_cast<TXSDateTime*>(this)->TakeXS(std::move(text));
  } else {
    XSToNative(text);
  }
}

#define DELVAN_HOLDER_CLASS(Cls)            \
  constinit const TClass Cls::StaticClass = \
      rtl::DefineClass<Cls, TRemotableXS>(Cls::StaticClass, u"" #Cls, kUnitName)
DELVAN_HOLDER_CLASS(TXSTime);
DELVAN_HOLDER_CLASS(TXSDate);
DELVAN_HOLDER_CLASS(TXSDuration);
DELVAN_HOLDER_CLASS(TXSHexBinary);
DELVAN_HOLDER_CLASS(TXSString);
DELVAN_HOLDER_CLASS(TXSBoolean);
DELVAN_HOLDER_CLASS(TXSInteger);
DELVAN_HOLDER_CLASS(TXSLong);
#undef DELVAN_HOLDER_CLASS

bool IsXSBuiltInHolder(const rtl::TClass* cls) {
  for (const TClass* holder :
       {&TXSTime::StaticClass, &TXSDate::StaticClass, &TXSDateTime::StaticClass,
        &TXSDuration::StaticClass, &TXSDecimal::StaticClass, &TXSHexBinary::StaticClass,
        &TXSString::StaticClass, &TXSBoolean::StaticClass, &TXSInteger::StaticClass,
        &TXSLong::StaticClass})
    if (cls == holder) return true;
  return false;
}

// The order among the holders (time, date, dateTime, duration, decimal,
// then the rest) is ours; only the order of each class's names is fixed.
void RegisterXSBuiltInHolders(TRemotableTypeRegistry& r) {
  auto reg = [&](const TClass& cls, std::initializer_list<UnicodeStringView> names) {
    for (UnicodeStringView name : names)
      r.RegisterXSClass(&cls, XMLSchemaNameSpace, name, u"", true);
  };
  reg(TXSTime::StaticClass, {u"time"});
  reg(TXSDate::StaticClass, {u"date"});
  reg(TXSDateTime::StaticClass, {u"dateTime", u"timeInstant"});
  reg(TXSDuration::StaticClass, {u"duration", u"timeDuration"});
  reg(TXSDecimal::StaticClass, {u"decimal", u"negativeInteger", u"nonNegativeInteger",
                                u"nonPositiveInteger", u"positiveInteger"});
  reg(TXSHexBinary::StaticClass, {u"hexBinary"});
  reg(TXSString::StaticClass, {u"string"});
  reg(TXSBoolean::StaticClass, {u"boolean"});
  reg(TXSInteger::StaticClass, {u"int"});
  reg(TXSLong::StaticClass, {u"long"});
}

// ---- Scalar holders ------------------------------------------------------------

void TXSBoolean::XSToNative(const UnicodeString& data) {
  if (rtl::SameTextAscii(data, u"true") || data == u"1")
    FValue = true;
  else if (rtl::SameTextAscii(data, u"false") || data == u"0" || data.empty())
    FValue = false;
  else
    throw EConvertError(u"'%s' is not a valid boolean value", {data});
}

UnicodeString TXSInteger::NativeToXS() { return rtl::IntToStr(FValue); }
void TXSInteger::XSToNative(const UnicodeString& data) { FValue = rtl::StrToInt(data); }

UnicodeString TXSLong::NativeToXS() { return rtl::IntToStr(FValue); }
void TXSLong::XSToNative(const UnicodeString& data) { FValue = rtl::StrToInt64(data); }

// ---- dateTime grammar --------------------------------------------------------

namespace {

// A cursor over one part of the text (the date part or the time part).
class Scanner {
 public:
  explicit Scanner(UnicodeStringView text) : FText(text) {}

  std::size_t Remaining() const { return FText.size() - FPos; }
  // The next character, or U+0000 at the end.
  char16_t Peek() const { return FPos < FText.size() ? FText[FPos] : u'\0'; }
  void Skip() { ++FPos; }
  bool AtDigit() const { return FPos < FText.size() && rtl::IsUnicodeDecimalDigit(FText[FPos]); }

  // Reads one or more digits; false (nothing read) when none is next. The
  // run goes through StrToInt, which takes ASCII digits only.
  bool ReadNumber(int& value, UnicodeStringView* run = nullptr) {
    const std::size_t start = FPos;
    while (AtDigit()) ++FPos;
    if (FPos == start) return false;
    const UnicodeStringView digits = FText.substr(start, FPos - start);
    value = rtl::StrToInt(digits);
    if (run) *run = digits;
    return true;
  }

 private:
  UnicodeStringView FText;
  std::size_t FPos = 0;
};

[[noreturn]] void RaiseDate(UnicodeStringView date) {
  throw EXSDateTimeException(u"Invalid date string: %s", {date});
}

[[noreturn]] void RaiseTime(UnicodeStringView time) {
  throw EXSDateTimeException(u"Invalid time string: %s", {time});
}

// Month and day: "-" and digits, unless at most one character is left or
// another character is next (then 0, nothing read).
int ReadDateField(Scanner& s, UnicodeStringView date) {
  int value = 0;
  if (s.Remaining() <= 1 || s.Peek() != u'-') return 0;
  s.Skip();
  if (!s.ReadNumber(value)) RaiseDate(date);
  return value;
}

void ParseDatePart(UnicodeStringView date, TXSDateTimeParts& parts) {
  const bool negative = !date.empty() && date[0] == u'-';
  if (negative) date.remove_prefix(1);
  if (date.size() < 4) RaiseDate(date);
  Scanner s(date);
  if (!s.ReadNumber(parts.Year)) RaiseDate(date);
  if (negative) parts.Year = -parts.Year;
  parts.Month = ReadDateField(s, date);
  parts.Day = ReadDateField(s, date);
  // Whatever follows the day is not read.
}

// The first three digits of a fraction as milliseconds.
int FractionToMs(UnicodeStringView digits) {
  int ms = 0;
  for (std::size_t i = 0; i < 3; ++i) ms = ms * 10 + (i < digits.size() ? digits[i] - u'0' : 0);
  return ms;
}

void ParseTimePart(UnicodeStringView time, TXSDateTimeParts& parts) {
  Scanner s(time);
  if (!s.ReadNumber(parts.Hour)) RaiseTime(time);

  if (s.Remaining() > 1) {
    if (s.Peek() != u':') RaiseTime(time);
    s.Skip();
    if (!s.ReadNumber(parts.Minute)) RaiseTime(time);
  }

  if (s.Remaining() > 1 && s.Peek() == u':') {
    s.Skip();
    if (!s.ReadNumber(parts.Second)) RaiseTime(time);
  }

  if (s.Remaining() > 1 && s.Peek() == u'.') {
    s.Skip();
    int fraction = 0;
    UnicodeStringView digits;
    if (!s.ReadNumber(fraction, &digits)) RaiseTime(time);
    parts.Millisecond = FractionToMs(digits);  // ASCII: StrToInt took it
  }

  // Zone: "+" or "-", hours, optionally ":" and minutes. Anything else next
  // ("Z" among it) ends the time; the rest is not read.
  const char16_t sign = s.Peek();
  if (sign != u'+' && sign != u'-') return;
  s.Skip();
  if (!s.AtDigit()) RaiseTime(time);
  int hours = 0, minutes = 0;
  s.ReadNumber(hours);
  if (s.Remaining() > 1 && s.Peek() == u':') {
    s.Skip();
    if (!s.ReadNumber(minutes)) throw EXSDateTimeException(u"Hour Offset portion of time invalid");
  }
  parts.HasOffset = true;
  parts.HourOffset = sign == u'-' ? -hours : hours;
  parts.MinuteOffset = sign == u'-' ? -minutes : minutes;
}

}  // namespace

TXSDateTimeParts ParseXSDateTime(UnicodeStringView text) {
  TXSDateTimeParts parts;
  if (text.empty()) return parts;
  const std::size_t t = text.find(u'T');
  ParseDatePart(text.substr(0, t), parts);
  if (t != UnicodeStringView::npos) {
    parts.HasTime = true;
    ParseTimePart(text.substr(t + 1), parts);
  }
  return parts;
}

// ---- TXSDateTime --------------------------------------------------------------

void TXSDateTime::XSToNative(const UnicodeString& data) {
  ParseXSDateTime(data);
  FDateTime = data;
}

void TXSDateTime::TakeXS(UnicodeString&& data) {
  ParseXSDateTime(data);
  FDateTime = std::move(data);
}

TDateTime TXSDateTime::AsDateTime() const { return XMLTimeToDateTime(FDateTime, false); }

TDateTime TXSDateTime::AsUTCDateTime() const { return XMLTimeToDateTime(FDateTime, true); }

void TXSDateTime::SetAsDateTime(TDateTime value) { FDateTime = DateTimeToXMLTime(value, true); }

// ---- Native conversions ----------------------------------------------------------

UnicodeString SoapFloatToStr(double value) {
  if (std::isnan(value)) return u"NAN";
  if (std::isinf(value)) return value > 0 ? u"INF" : u"-INF";
  if (value == 0) return u"0";  // negative zero included
  char buf[64];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string text(buf, ec == std::errc() ? end : buf);
  // "1.5e-07" becomes "1.5E-7", "1e+20" becomes "1E20".
  const std::size_t e = text.find('e');
  if (e != std::string::npos) {
    std::size_t digits = e + 1;
    const bool negative = text[digits] == '-';
    if (text[digits] == '+' || negative) ++digits;
    while (digits + 1 < text.size() && text[digits] == '0') ++digits;
    text = text.substr(0, e) + (negative ? "E-" : "E") + text.substr(digits);
  }
  return rtl::AsciiToUnicode(text);
}

double SoapStrToFloat(UnicodeStringView text) {
  const UnicodeStringView trimmed = rtl::TrimView(text);
  bool ok = !trimmed.empty();
  // The text narrowed for from_chars: on the stack unless it is longer than
  // any float text needs.
  char small[64];
  std::string large;
  char* ascii = small;
  if (trimmed.size() > sizeof small) {
    large.resize(trimmed.size());
    ascii = large.data();
  }
  for (std::size_t i = 0; ok && i < trimmed.size(); ++i) {
    if (trimmed[i] > 0x7F) ok = false;
    ascii[i] = static_cast<char>(trimmed[i]);
  }
  if (ok) {
    // from_chars takes no "+"; one is allowed before anything but "-".
    const char* first = ascii;
    const char* last = first + trimmed.size();
    if (trimmed.size() > 1 && ascii[0] == '+' && ascii[1] != '-') ++first;
    double value = 0;
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc() && end == last) return value;
  }
  throw EConvertError(u"'%s' is not a valid floating point value", {text});
}

namespace {

UnicodeString Pad(int value, std::size_t width) {
  UnicodeString digits = rtl::IntToStr(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), u'0');
  return digits;
}

}  // namespace

UnicodeString DateTimeToXMLTime(TDateTime value, bool applyLocalBias) {
  int y, m, d, h, n, s, ms;
  rtl::DecodeDate(value, y, m, d);
  rtl::DecodeTime(value, h, n, s, ms);
  UnicodeString text = Pad(y, 4) + u'-' + Pad(m, 2) + u'-' + Pad(d, 2) + u'T' + Pad(h, 2) + u':' +
                       Pad(n, 2) + u':' + Pad(s, 2) + u'.' + Pad(ms, 3);
  const int offset = applyLocalBias ? platform::CurrentUtcOffsetMinutes() : 0;
  if (offset == 0) return text + u'Z';
  const int magnitude = std::abs(offset);
  return text + (offset > 0 ? u'+' : u'-') + Pad(magnitude / 60, 2) + u':' + Pad(magnitude % 60, 2);
}

TDateTime XMLTimeToDateTime(UnicodeStringView text, bool asUTCTime) {
  const TXSDateTimeParts p = ParseXSDateTime(text);
  const TDateTime value =
      rtl::EncodeDateTime(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, 0);
  // The text's clock is UTC + its offset.
  std::int64_t shift = -(std::int64_t(p.HourOffset) * 60 + p.MinuteOffset);
  if (!asUTCTime) shift += platform::CurrentUtcOffsetMinutes();
  return shift == 0 ? value : rtl::IncMinute(value, shift);
}

}  // namespace delvan::soap
