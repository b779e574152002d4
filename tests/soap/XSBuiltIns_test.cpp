#include "soap/XSBuiltIns.h"

#include <gtest/gtest.h>
#include <time.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "TestSupport.h"
#include "platform/TimeZone.h"

namespace delvan::soap {
namespace {

using rtl::EncodeDateTime;

// Sets TZ for one test and puts the previous value back.
class ScopedTZ {
 public:
  explicit ScopedTZ(const char* tz) {
    if (const char* old = std::getenv("TZ")) FOld = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTZ() {
    if (FOld)
      setenv("TZ", FOld->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> FOld;
};

enum class Outcome { Pass, DateTimeError, ConvertError };

// Runs f and tells which exception it raised, with its message.
template <class F>
Outcome Catch(F f, UnicodeString& message) {
  try {
    f();
    return Outcome::Pass;
  } catch (const EXSDateTimeException& e) {
    message = e.Message();
    return Outcome::DateTimeError;
  } catch (const EConvertError& e) {
    message = e.Message();
    return Outcome::ConvertError;
  }
}

// ---- dateTime grammar --------------------------------------------------------

struct GrammarCase {
  const char16_t* text;
  Outcome outcome = Outcome::Pass;
  const char16_t* message = u"";
};

constexpr Outcome D = Outcome::DateTimeError, C = Outcome::ConvertError;

// clang-format off
const GrammarCase kGrammarCases[] = {
    {u"2001-03-15T10:20:30.5+02:00"}, {u"2001-03-15"}, {u"2001"}, {u"20010315"}, {u"01-03-15"},
    {u"2001-03-15T10:20:30Z"}, {u""}, {u"2001-13-45T99:99:99"}, {u"2001-03-"},
    {u"2001-03-15T10:"}, {u"2001-03-15T10:20:30+02:"},
    {u"123", D, u"Invalid date string: 123"},
    {u"-123", D, u"Invalid date string: 123"},
    {u"2001--15", D, u"Invalid date string: 2001--15"},
    {u"-abcd", D, u"Invalid date string: abcd"},
    {u"2001-03-x5", D, u"Invalid date string: 2001-03-x5"},
    {u"T10:20:30", D, u"Invalid date string: "},
    {u"2001-03-15T10x20", D, u"Invalid time string: 10x20"},
    {u"2001-03-15T10:20:30+", D, u"Invalid time string: 10:20:30+"},
    {u"2001-03-15T", D, u"Invalid time string: "},
    {u"2001-03-15T:20", D, u"Invalid time string: :20"},
    {u"2001-03-15T10:20:x0", D, u"Invalid time string: 10:20:x0"},
    {u"2001-03-15T10:20:30.+01", D, u"Invalid time string: 10:20:30.+01"},
    {u"2001-03-15T10:20:30+Z", D, u"Invalid time string: 10:20:30+Z"},
    {u"2001-03-15T10:20:30+02:x0", D, u"Hour Offset portion of time invalid"},
    {u"\u0662\u0660\u0660\u0661-03-15", C, u"'\u0662\u0660\u0660\u0661' is not a valid integer value"},
    {u"2147483648", C, u"'2147483648' is not a valid integer value"},
    {u"2001-03-15T10:20:30-\u0662", C, u"'\u0662' is not a valid integer value"},
    {u"2001-03-15T10:20:30.12345678901", C, u"'12345678901' is not a valid integer value"}};
// clang-format on

TEST(XSDateTime, GrammarAcceptsOrRaises) {
  for (const GrammarCase& c : kGrammarCases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&c - kGrammarCases));
    TXSDateTime dt;
    dt.XSToNative(u"1999-01-01T00:00:00");
    UnicodeString message;
    EXPECT_EQ(Catch([&] { dt.XSToNative(c.text); }, message), c.outcome);
    EXPECT_EQ(message, c.message);
    // A pass keeps the text unchanged; a failure keeps the previous text.
    EXPECT_EQ(dt.NativeToXS(), c.outcome == Outcome::Pass ? c.text : u"1999-01-01T00:00:00");
  }
}

TEST(XSDateTime, FreshHolderAndAccessors) {
  TXSDateTime dt;
  EXPECT_EQ(dt.NativeToXS(), u"0001-01-01T00:00:00");
  EXPECT_EQ((std::array{dt.Year(), dt.Month(), dt.Day()}), (std::array{1, 1, 1}));
  // year, month, day, hour, minute, second, ms, hour and minute offset
  const std::pair<const char16_t*, std::array<int, 9>> cases[] = {
      {u"-2001-03-15T10:20:30.05-05:30", {-2001, 3, 15, 10, 20, 30, 50, -5, -30}},
      {u"20010315", {20010315, 0, 0, 0, 0, 0, 0, 0, 0}},
      {u"2001-3", {2001, 3, 0, 0, 0, 0, 0, 0, 0}},
      {u"2001-03-15T10:20.1239+02x5", {2001, 3, 15, 10, 20, 0, 123, 2, 0}}};
  for (const auto& [text, parts] : cases) {
    dt.XSToNative(text);
    EXPECT_EQ((std::array{dt.Year(), dt.Month(), dt.Day(), dt.Hour(), dt.Minute(), dt.Second(),
                          dt.Millisecond(), dt.HourOffset(), dt.MinuteOffset()}),
              parts);
  }
}

TEST(XSDecimal, KeepsTextUnchanged) {
  EXPECT_EQ(TXSDecimal().NativeToXS(), u"");
  for (const char16_t* text : {u"abc", u"0", u"-12.50", u" 1e3 "}) {
    TXSDecimal d;
    d.XSToNative(text);
    EXPECT_EQ(d.NativeToXS(), text);
  }
}

// ---- Floats --------------------------------------------------------------------

struct FloatTextCase {
  double value;
  const char16_t* text;
};

constexpr double kInf = std::numeric_limits<double>::infinity();

// clang-format off
const FloatTextCase kFloatCases[] = {
    {0.0, u"0"}, {-0.0, u"0"}, {1.0, u"1"}, {-2.5, u"-2.5"}, {0.1, u"0.1"},
    {1.0 / 3, u"0.333333333333333"}, {1e20, u"1E20"}, {1e100, u"1E100"}, {1.5e-7, u"1.5E-7"},
    {0.0001, u"0.0001"}, {123456789012345.0, u"123456789012345"}, {1e15, u"1E15"},
    {-1.23456789012346e-300, u"-1.23456789012346E-300"}, {std::nan(""), u"NAN"}, {kInf, u"INF"},
    {-kInf, u"-INF"}};
// clang-format on

TEST(SoapFloatToStr, WritesAndReadsBack) {
  for (const FloatTextCase& c : kFloatCases) {
    SCOPED_TRACE(::testing::Message() << "case " << (&c - kFloatCases));
    EXPECT_EQ(SoapFloatToStr(c.value), c.text);
    // 15 digits read back to the value within their precision.
    const double back = SoapStrToFloat(c.text);
    if (std::isnan(c.value))
      EXPECT_TRUE(std::isnan(back));
    else if (std::isinf(c.value))
      EXPECT_EQ(back, c.value);
    else
      EXPECT_NEAR(back, c.value, std::fabs(c.value) * 1e-14);
  }
}

TEST(SoapStrToFloat, ReadsOtherFormsAndRejectsMalformed) {
  EXPECT_EQ(
      (std::array{SoapStrToFloat(u"  -2.5e3 "), SoapStrToFloat(u"+1"), SoapStrToFloat(u".5")}),
      (std::array{-2500.0, 1.0, 0.5}));
  // Texts longer than any float needs read alike, up to their last character.
  const UnicodeString longText = u" 0." + UnicodeString(100, u'0') + u"125e102 ";
  EXPECT_EQ(SoapStrToFloat(longText), 12.5);
  for (const UnicodeString& bad : {longText + u"\u0661", longText + u"x", u"+" + longText}) {
    UnicodeString message;
    EXPECT_EQ(Catch([&] { SoapStrToFloat(bad); }, message), Outcome::ConvertError);
  }
  for (const char16_t* text : {u"", u"  ", u"abc", u"1,5", u"1.5x", u"+-1", u"--1", u"++1", u"+",
                               u"1e400", u"\u0661", u"1\u00A0"}) {
    UnicodeString message;
    EXPECT_EQ(Catch([&] { SoapStrToFloat(text); }, message), Outcome::ConvertError);
    UnicodeString expected = u"'";  // built with +=: GCC 12 warns falsely on "'" + text
    expected += text;
    expected += u"' is not a valid floating point value";
    EXPECT_EQ(message, expected);
  }
}

// ---- Date-time conversions --------------------------------------------------------

TEST(DateTimeToXMLTime, WritesClockDigitsAndOffset) {
  const TDateTime v = EncodeDateTime(2001, 3, 15, 10, 20, 30, 5);
  EXPECT_EQ(DateTimeToXMLTime(v, false), u"2001-03-15T10:20:30.005Z");
  EXPECT_EQ(DateTimeToXMLTime(-1.25, false), u"1899-12-29T06:00:00.000Z");
  EXPECT_EQ(DateTimeToXMLTime(EncodeDateTime(1, 1, 1, 0, 0, 0, 0), false),
            u"0001-01-01T00:00:00.000Z");
  for (const auto& [tz, suffix] :
       {std::pair{"UTC-2", u"+02:00"}, std::pair{"XYZ+5:30", u"-05:30"}, std::pair{"UTC0", u"Z"}}) {
    ScopedTZ scoped(tz);
    EXPECT_EQ(platform::CurrentUtcOffsetMinutes(), tz[3] == '-' ? 120 : tz[3] == '+' ? -330 : 0);
    EXPECT_EQ(DateTimeToXMLTime(v, true), u"2001-03-15T10:20:30.005" + UnicodeString(suffix));
  }
  for (TDateTime bad : {std::nan(""), kInf, EncodeDateTime(9999, 12, 31, 0, 0, 0, 0) + 1}) {
    UnicodeString message;
    EXPECT_EQ(Catch([&] { DateTimeToXMLTime(bad, false); }, message), C);
    EXPECT_EQ(message, u"Invalid argument to date decode");
  }
}

TEST(XMLTimeToDateTime, ShiftsToUTCAndLocal) {
  const std::pair<const char16_t*, TDateTime> cases[] = {
      // text, its UTC value
      {u"2001-03-15T10:20:30.5+02:00", EncodeDateTime(2001, 3, 15, 8, 20, 30, 0)},
      {u"2001-03-15T10:20:30Z", EncodeDateTime(2001, 3, 15, 10, 20, 30, 0)},
      {u"2001-03-15", EncodeDateTime(2001, 3, 15, 0, 0, 0, 0)},
      {u"2001-03-15T01:00:00+02:00", EncodeDateTime(2001, 3, 14, 23, 0, 0, 0)},
      {u"2001-03-15T10:20:30-05:30", EncodeDateTime(2001, 3, 15, 15, 50, 30, 0)},
      {u"1899-12-30T01:00:00+02:00", EncodeDateTime(1899, 12, 29, 23, 0, 0, 0)},
      {u"1899-12-29T23:00:00-02:00", EncodeDateTime(1899, 12, 30, 1, 0, 0, 0)}};
  ScopedTZ tz("UTC-2");
  for (const auto& [text, utc] : cases) {
    EXPECT_DOUBLE_EQ(XMLTimeToDateTime(text, true), utc);
    EXPECT_DOUBLE_EQ(XMLTimeToDateTime(text, false), rtl::IncMinute(utc, 120));
  }
}

TEST(XMLTimeToDateTime, RaisesForImpossibleValues) {
  const GrammarCase cases[] = {{u"2001-13-45T99:99:99", C, u"Invalid argument to date encode"},
                               {u"2001-02-29", C, u"Invalid argument to date encode"},
                               {u"", C, u"Invalid argument to date encode"},
                               {u"2001-02-28T24:00:00", C, u"Invalid argument to time encode"},
                               {u"2001-03-15T10x20", D, u"Invalid time string: 10x20"}};
  for (const auto& c : cases) {
    UnicodeString message;
    EXPECT_EQ(Catch([&] { XMLTimeToDateTime(c.text, true); }, message), c.outcome);
    EXPECT_EQ(message, c.message);
  }
}

TEST(XSDateTime, RoundTripsThroughLocalTime) {
  ScopedTZ tz("XYZ+5:30");
  const TDateTime v = EncodeDateTime(2001, 3, 15, 22, 20, 30, 0);
  TXSDateTime dt;
  dt.SetAsDateTime(v);
  EXPECT_EQ(dt.NativeToXS(), u"2001-03-15T22:20:30.000-05:30");
  EXPECT_DOUBLE_EQ(dt.AsDateTime(), v);
  EXPECT_DOUBLE_EQ(dt.AsUTCDateTime(), EncodeDateTime(2001, 3, 16, 3, 50, 30, 0));
}

// The other holders: text in, text out, and what a malformed text does.
TEST(XSHolders, TextInTextOut) {
  struct Case {
    TRemotableXS* holder;
    const char16_t* in;
    const char16_t* out;  // null: EConvertError, and the previous value stays
  };
  TXSTime time;
  TXSDate date;
  TXSDuration duration;
  TXSHexBinary hex;
  TXSString str;
  TXSBoolean b;
  TXSInteger i;
  TXSLong l;
  // clang-format off
  const Case cases[] = {
      {&time, u"10:20:30x", u"10:20:30x"}, {&date, u"not a date", u"not a date"},
      {&duration, u"P1Y2M", u"P1Y2M"}, {&hex, u"0FzZ", u"0FzZ"}, {&str, u" a b ", u" a b "},
      {&b, u"TRUE", u"true"}, {&b, u"0", u"false"}, {&b, u"1", u"true"}, {&b, u"yes", nullptr},
      {&b, u"", u"false"}, {&b, u"False", u"false"},
      {&i, u"-2147483648", u"-2147483648"}, {&i, u"2147483648", nullptr}, {&i, u"12a", nullptr},
      {&l, u"9223372036854775807", u"9223372036854775807"}, {&l, u"", nullptr},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Utf8(c.holder->ClassName()) + " " + test::Utf8(c.in));
    const UnicodeString before = c.holder->NativeToXS();
    if (c.out) {
      c.holder->XSToNative(c.in);
      EXPECT_EQ(c.holder->NativeToXS(), c.out);
    } else {
      EXPECT_THROW(c.holder->XSToNative(c.in), EConvertError);
      EXPECT_EQ(c.holder->NativeToXS(), before);
    }
  }
}

}  // namespace
}  // namespace delvan::soap
