// The type translator: scalar argument texts into native storage by kind,
// with trimming, nil defaults, the widths of the storage, and the kinds and
// texts that are refused.
#include "soap/TypeTrans.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "rtl/AnsiString.h"
#include "rtl/Variant.h"
#include "soap/XSBuiltIns.h"

namespace delvan::soap {
namespace {

// Runs the cast into a zeroed buffer guarded by sentinel bytes, so that a
// store wider than the type shows.
template <class T>
T Cast(const rtl::TTypeInfo* info, const UnicodeString& text, bool isNull = false, T start = T{}) {
  struct {
    T value;
    unsigned char guard[8];
  } box{start, {}};
  std::memset(box.guard, 0xA5, sizeof box.guard);
  EXPECT_TRUE(TTypeTranslator().CastSoapToNative(info, text, &box.value, isNull));
  for (unsigned char g : box.guard) EXPECT_EQ(g, 0xA5) << "store past the value";
  return box.value;
}

TEST(TypeTrans, OrdinalsInTheirWidthsTrimmedAndNil) {
  EXPECT_EQ(Cast<std::int32_t>(&rtl::TypeInfo_Integer, u"  -17 \r\n"), -17);
  EXPECT_EQ(Cast<std::int32_t>(&rtl::TypeInfo_Integer, u"garbage", true, 5), 0);
  EXPECT_EQ(Cast<std::uint32_t>(&rtl::TypeInfo_Cardinal, u"4000000000"), 4000000000u);
  EXPECT_EQ(Cast<std::uint8_t>(&rtl::TypeInfo_Byte, u"255"), 255);
  EXPECT_EQ(Cast<std::int16_t>(&rtl::TypeInfo_SmallInt, u"-2"), -2);
  EXPECT_EQ(Cast<std::int64_t>(&rtl::TypeInfo_Int64, u" 9223372036854775807"), INT64_MAX);
  EXPECT_EQ(Cast<std::uint64_t>(&rtl::TypeInfo_UInt64, u"18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(Cast<std::uint8_t>(&rtl::TypeInfo_Boolean, u" TRUE "), 1);
  EXPECT_EQ(Cast<std::uint8_t>(&rtl::TypeInfo_Boolean, u"0", false, 1), 0);
  EXPECT_EQ(Cast<std::uint8_t>(&rtl::TypeInfo_Boolean, u"x", true, 1), 0);
  EXPECT_EQ(Cast<std::uint8_t>(&rtl::TypeInfo_Char, u"\u0141b"), 0x41);  // the low byte
  EXPECT_EQ(Cast<std::uint8_t>(&rtl::TypeInfo_Char, u"", false, 'q'), 'q');
  EXPECT_EQ(Cast<char16_t>(&rtl::TypeInfo_WideChar, u"\u0394x"), u'\u0394');
}

TEST(TypeTrans, FloatsAndDates) {
  EXPECT_DOUBLE_EQ(Cast<double>(&rtl::TypeInfo_Double, u" 2.5E-1 "), 0.25);
  EXPECT_FLOAT_EQ(Cast<float>(&rtl::TypeInfo_Single, u"1.5"), 1.5f);
  EXPECT_EQ(Cast<long double>(&rtl::TypeInfo_Extended, u"-3"), -3.0L);
  EXPECT_TRUE(std::isnan(Cast<double>(&rtl::TypeInfo_Double, u"NaN")));
  EXPECT_EQ(Cast<double>(&rtl::TypeInfo_Double, u"-inf"), -INFINITY);
  EXPECT_EQ(Cast<std::int64_t>(&rtl::TypeInfo_Currency, u"1.23456"), 12346);
  EXPECT_EQ(Cast<std::int64_t>(&rtl::TypeInfo_Comp, u"2.5"), 3);
  EXPECT_EQ(Cast<double>(&rtl::TypeInfo_Double, u"bad", true), 0);
  EXPECT_DOUBLE_EQ(Cast<double>(&rtl::TypeInfo_TDateTime, u"2001-02-03T04:05:06"),
                   XMLTimeToDateTime(u"2001-02-03T04:05:06"));
}

TEST(TypeTrans, StringsAndVariants) {
  EXPECT_EQ(Cast<UnicodeString>(&rtl::TypeInfo_UnicodeString, u" as is "), u" as is ");
  EXPECT_EQ(Cast<UnicodeString>(&rtl::TypeInfo_WideString, u"w"), u"w");
  EXPECT_EQ(Cast<AnsiString>(&rtl::TypeInfo_AnsiString, u"abc").Bytes(), "abc");
  // A short string is cut to its declared length.
  static constexpr rtl::TShortStringTypeData kShort3{3};
  static constexpr rtl::TTypeInfo kString3{rtl::tkString, u"String3", u"Tests", &kShort3};
  EXPECT_EQ(Cast<AnsiString>(&kString3, u"abcdef").Bytes(), "abc");
  EXPECT_EQ(Cast<Variant>(&rtl::TypeInfo_Variant, u"v").ToString(), u"v");
}

TEST(TypeTrans, RefusedKindsAndTexts) {
  static constexpr rtl::TTypeInfo kRecord{rtl::tkRecord, u"TRec", u"Tests", nullptr};
  static constexpr rtl::TTypeInfo kSet{rtl::tkSet, u"TSet", u"Tests", nullptr};
  char buffer[64] = {};
  for (const rtl::TTypeInfo* info : {&kRecord, &kSet}) {
    try {
      TTypeTranslator().CastSoapToNative(info, u"1", buffer, false);
      ADD_FAILURE() << "no exception";
    } catch (const ETypeTransException& e) {
      EXPECT_NE(e.Message().find(u"cannot be converted to and from text"), UnicodeString::npos);
    }
  }
  struct Case {
    const rtl::TTypeInfo* info;
    const char16_t* text;
  } bad[] = {{&rtl::TypeInfo_Integer, u"1.5"},
             {&rtl::TypeInfo_Integer, u"99999999999"},
             {&rtl::TypeInfo_Integer, u""},
             {&rtl::TypeInfo_Double, u"1,5"},
             {&rtl::TypeInfo_Double, u"1e999"},
             {&rtl::TypeInfo_Int64, u"0x10"},
             {&rtl::TypeInfo_UInt64, u"18446744073709551616"},
             {&rtl::TypeInfo_Boolean, u"maybe"},
             {&rtl::TypeInfo_TDateTime, u"noon"}};
  for (const Case& c : bad)
    EXPECT_THROW(TTypeTranslator().CastSoapToNative(c.info, c.text, buffer, false), Exception)
        << static_cast<int>(c.info->Kind);
}

TEST(TypeTrans, Base64) {
  auto text = [](const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); };
  EXPECT_EQ(text(DecodeBase64(u"")), "");
  EXPECT_EQ(text(DecodeBase64(u"TWFu")), "Man");
  EXPECT_EQ(text(DecodeBase64(u"TW E=\r\n")), "Ma");
  EXPECT_EQ(text(DecodeBase64(u"TQ==")), "M");
  EXPECT_THROW(DecodeBase64(u"TW-u"), EConvertError);
}

}  // namespace
}  // namespace delvan::soap
