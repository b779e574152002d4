// Value holders of the XML Schema scalar types (dateTime and decimal, which
// the service's records use, and the other holders the type registry
// registers), with the text conversions of floats and TDateTime values that
// the SOAP layer uses.
#pragma once

#include "rtl/DateUtils.h"
#include "rtl/Exception.h"
#include "soap/Remotable.h"

namespace delvan::soap {

// A dateTime text that does not fit the dateTime grammar.
class EXSDateTimeException : public Exception {
 public:
  using Exception::Exception;
};

// The parts of a dateTime text, as ParseXSDateTime reads them. Nothing is
// range-checked. The sign of a negative year is in Year; the sign of the
// zone is in both HourOffset and MinuteOffset ("-05:30" gives -5 and -30),
// so the zone's offset east of UTC is HourOffset * 60 + MinuteOffset.
struct TXSDateTimeParts {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  // The fraction of the second in milliseconds: its first three digits,
  // padded with zeros (".5" is 500, ".05" is 50, ".1239" is 123).
  int Millisecond = 0;
  int HourOffset = 0;
  int MinuteOffset = 0;
  bool HasTime = false;    // the text has a "T"
  bool HasOffset = false;  // the time has a "+" or "-" zone
};

// Reads a dateTime text: date part, then optionally "T" and the time part.
// An empty text gives all zeros. Raises EXSDateTimeException "Invalid date
// string: %s", "Invalid time string: %s" or "Hour Offset portion of time
// invalid" for text that does not fit, and EConvertError "'%s' is not a
// valid integer value" for a run of digits that is not ASCII or exceeds
// 2147483647. Runs in time linear in the text's length.
TXSDateTimeParts ParseXSDateTime(UnicodeStringView text);

// A scalar that travels as its XML text.
class TRemotableXS : public TRemotable {
  DELVAN_CLASS()

 public:
  // The value's XML text.
  virtual UnicodeString NativeToXS() = 0;
  // Sets the value from an XML text.
  virtual void XSToNative(const UnicodeString& data) = 0;

  // Written as an element without its properties whose text is NativeToXS.
  IntfPtr<xml::IXMLNode> ObjectToSOAP(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode,
                                      IObjConverter* ObjConverter, const UnicodeString& NodeName,
                                      const UnicodeString& NodeNamespace,
                                      const UnicodeString& ChildNamespace,
                                      TObjectConvertOptions ObjConvOpts,
                                      UnicodeString& RefID) override;
  // Read as the base reads, then the element's text goes to XSToNative.
  void SOAPToObject(xml::IXMLNode* RootNode, xml::IXMLNode* Node,
                    IObjConverter* ObjConverter) override;
};

// xs:decimal, kept as its text: any text is taken and given back unchanged.
class TXSDecimal : public TRemotableXS {
  DELVAN_CLASS()

 public:
  UnicodeString NativeToXS() override { return FDecimalString; }
  void XSToNative(const UnicodeString& data) override { FDecimalString = data; }

  const UnicodeString& DecimalString() const { return FDecimalString; }
  void SetDecimalString(const UnicodeString& value) { FDecimalString = value; }
  void SetDecimalString(UnicodeString&& value) { FDecimalString = std::move(value); }

 private:
  UnicodeString FDecimalString;
};

// The base of the date and time holders: the value is kept as its text, and
// each accessor reads the text again (ParseXSDateTime, with its failures).
class TXSCustomDateTime : public TRemotableXS {
  DELVAN_CLASS()

 public:
  TXSCustomDateTime() : FDateTime(u"0001-01-01T00:00:00") {}

  int Year() const { return Parts().Year; }
  int Month() const { return Parts().Month; }
  int Day() const { return Parts().Day; }
  int Hour() const { return Parts().Hour; }
  int Minute() const { return Parts().Minute; }
  int Second() const { return Parts().Second; }
  // The fraction of the second scaled to milliseconds (see TXSDateTimeParts).
  int Millisecond() const { return Parts().Millisecond; }
  int HourOffset() const { return Parts().HourOffset; }
  int MinuteOffset() const { return Parts().MinuteOffset; }

 protected:
  TXSDateTimeParts Parts() const { return ParseXSDateTime(FDateTime); }

  UnicodeString FDateTime;
};

// xs:dateTime.
class TXSDateTime : public TXSCustomDateTime {
  DELVAN_CLASS()

 public:
  UnicodeString NativeToXS() override { return FDateTime; }
  // Takes the text unchanged when it fits the dateTime grammar; otherwise
  // raises as ParseXSDateTime does and keeps the previous text.
  void XSToNative(const UnicodeString& data) override;
  // XSToNative for a text the caller gives up: moved in when it fits.
  void TakeXS(UnicodeString&& data);

  // The value in the machine's local time, and in UTC (XMLTimeToDateTime).
  TDateTime AsDateTime() const;
  TDateTime AsUTCDateTime() const;
  // Sets the text from a value taken as local time (DateTimeToXMLTime with
  // the machine's offset).
  void SetAsDateTime(TDateTime value);
};

// The other scalar holders. Each keeps its value as the text or the native
// value named below; no record of the registry service uses them.

// xs:time, xs:date and xs:duration, each kept as its text unchanged.
class TXSTime : public TRemotableXS {
  DELVAN_CLASS()

 public:
  UnicodeString NativeToXS() override { return FText; }
  void XSToNative(const UnicodeString& data) override { FText = data; }

 private:
  UnicodeString FText;
};

class TXSDate : public TRemotableXS {
  DELVAN_CLASS()

 public:
  UnicodeString NativeToXS() override { return FText; }
  void XSToNative(const UnicodeString& data) override { FText = data; }

 private:
  UnicodeString FText;
};

class TXSDuration : public TRemotableXS {
  DELVAN_CLASS()

 public:
  UnicodeString NativeToXS() override { return FText; }
  void XSToNative(const UnicodeString& data) override { FText = data; }

 private:
  UnicodeString FText;
};

// xs:hexBinary, kept as its text unchanged.
class TXSHexBinary : public TRemotableXS {
  DELVAN_CLASS()

 public:
  UnicodeString NativeToXS() override { return FHexBinaryString; }
  void XSToNative(const UnicodeString& data) override { FHexBinaryString = data; }

  const UnicodeString& HexBinaryString() const { return FHexBinaryString; }

 private:
  UnicodeString FHexBinaryString;
};

// xs:string.
class TXSString : public TRemotableXS {
  DELVAN_CLASS()

 public:
  UnicodeString NativeToXS() override { return FData; }
  void XSToNative(const UnicodeString& data) override { FData = data; }

  const UnicodeString& Data() const { return FData; }
  void SetData(const UnicodeString& value) { FData = value; }

 private:
  UnicodeString FData;
};

// xs:boolean: "true" or "1" read as true, "false", "0" or the empty text as
// false (ignoring ASCII case); anything else raises EConvertError "'%s' is
// not a valid boolean value" and keeps the value. Written "true" or "false".
class TXSBoolean : public TRemotableXS {
  DELVAN_CLASS()

 public:
  UnicodeString NativeToXS() override { return FValue ? u"true" : u"false"; }
  void XSToNative(const UnicodeString& data) override;

  bool AsBoolean() const { return FValue; }
  void SetAsBoolean(bool value) { FValue = value; }

 private:
  bool FValue = false;
};

// xs:int, a signed 32-bit integer; text that StrToInt refuses raises its
// EConvertError and keeps the value.
class TXSInteger : public TRemotableXS {
  DELVAN_CLASS()

 public:
  UnicodeString NativeToXS() override;
  void XSToNative(const UnicodeString& data) override;

  std::int32_t AsInteger() const { return FValue; }
  void SetAsInteger(std::int32_t value) { FValue = value; }

 private:
  std::int32_t FValue = 0;
};

// xs:long, a signed 64-bit integer, likewise with StrToInt64.
class TXSLong : public TRemotableXS {
  DELVAN_CLASS()

 public:
  UnicodeString NativeToXS() override;
  void XSToNative(const UnicodeString& data) override;

  std::int64_t AsInt64() const { return FValue; }
  void SetAsInt64(std::int64_t value) { FValue = value; }

 private:
  std::int64_t FValue = 0;
};

class TRemotableTypeRegistry;

// Registers the holder classes, all scalar, under the XML Schema namespace:
// TXSTime "time", TXSDate "date", TXSDateTime "dateTime" and "timeInstant",
// TXSDuration "duration" and "timeDuration", TXSDecimal "decimal",
// "negativeInteger", "nonNegativeInteger", "nonPositiveInteger" and
// "positiveInteger", then TXSHexBinary "hexBinary", TXSString "string",
// TXSBoolean "boolean", TXSInteger "int" and TXSLong "long". Part of the
// type registry's built-in registrations.
void RegisterXSBuiltInHolders(TRemotableTypeRegistry& registry);

// True for the built-in scalar holders themselves (not a class derived
// from one): their reading takes nothing of the element but its text.
bool IsXSBuiltInHolder(const rtl::TClass* cls);

// Float text with "." as decimal separator and 15 significant digits, in the
// shortest of fixed and exponent form: "0", "0.1", "1E20", "1.5E-7",
// "-1.23456789012346E-300"; "NAN", "INF" and "-INF" for the special values.
UnicodeString SoapFloatToStr(double value);

// Reads float text with "." as decimal separator, surrounding spaces
// ignored, as SoapFloatToStr writes it or in any other decimal form ("+1",
// ".5", "1e3", "nan", "-inf"). Raises EConvertError "'%s' is not a valid
// floating point value" for anything else, and for a finite number that is
// too large or too small in magnitude for a double.
double SoapStrToFloat(UnicodeStringView text);

// "yyyy-mm-ddThh:nn:ss.zzz" of the value's own clock digits, then the
// machine's current offset from UTC ("+02:00", "-05:30") when
// applyLocalBias is set and that offset is not zero, and "Z" otherwise.
// Raises EConvertError "Invalid argument to date decode" for a value
// outside years 1 to 9999.
UnicodeString DateTimeToXMLTime(TDateTime value, bool applyLocalBias = true);

// The value of a dateTime text (ParseXSDateTime, with its failures), to the
// second, moved from the text's offset (none counts as UTC) to UTC when
// asUTCTime is set, and otherwise to the machine's current offset. A date or
// time that does not exist raises EConvertError "Invalid argument to date
// encode" / "Invalid argument to time encode".
TDateTime XMLTimeToDateTime(UnicodeStringView text, bool asUTCTime = false);

}  // namespace delvan::soap
