#include "rtl/Format.h"

#include <gtest/gtest.h>

#include "rtl/Exception.h"
#include "rtl/SysUtils.h"

namespace delvan {
namespace {

TEST(Format, Placeholders) {
  const struct {
    const char16_t* format;
    std::initializer_list<FormatArg> args;
    const char16_t* text;
  } cases[] = {
      {u"Invalid date string: %s", {u"123"}, u"Invalid date string: 123"},
      {u"%s - URL:%s - SOAPAction:%s", {u"a", u"b", u"c"}, u"a - URL:b - SOAPAction:c"},
      {u"Unsuppported variant type %d", {257}, u"Unsuppported variant type 257"},
      {u"%d", {-42}, u"-42"},
      {u"OLE error %.8x", {static_cast<std::int32_t>(0x80004005)}, u"OLE error 80004005"},
      {u"%.8x", {0x1A}, u"0000001A"},
      {u"%x", {255u}, u"FF"},
      {u"100%%", {}, u"100%"},
      {u"%s and %s", {u"one"}, u"one and "},
      {u"%s", {7}, u"7"},
      {u"trailing %", {}, u"trailing %"},
      {u"%q stays", {u"x"}, u"%q stays"},
      {u"firmActCode___%d___", {10u}, u"firmActCode___10___"},
  };
  for (const auto& c : cases) EXPECT_EQ(Format(c.format, c.args), c.text);
}

TEST(Exception, MessageAndUtf8What) {
  Exception e(u"'%s' is not a valid integer value", {u"\x03B1"});
  EXPECT_EQ(e.Message(), u"'\x03B1' is not a valid integer value");
  EXPECT_STREQ(e.what(), "'\xCE\xB1' is not a valid integer value");
  e.SetMessage(u"other");
  EXPECT_STREQ(e.what(), "other");
  EXPECT_EQ(EAbort().Message(), u"Operation aborted");
}

TEST(SysUtils, StrToInt) {
  const struct {
    const char16_t* text;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {u"0", true, 0},
      {u"2001", true, 2001},
      {u"-5", true, -5},
      {u"+7", true, 7},
      {u"2147483647", true, INT32_MAX},
      {u"-2147483648", true, INT32_MIN},
      {u"2147483648", false, 0},
      {u"", false, 0},
      {u"-", false, 0},
      {u"12a", false, 0},
      {u" 1", false, 0},
      {u"\x0661", false, 0},
      {u"99999999999999999999", false, 0},
  };
  for (const auto& c : cases) {
    std::int32_t v = -1;
    EXPECT_EQ(rtl::TryStrToInt(c.text, v), c.ok) << std::u16string_view(c.text).size();
    if (c.ok) {
      EXPECT_EQ(v, c.value);
      EXPECT_EQ(rtl::StrToInt(c.text), c.value);
    } else {
      try {
        rtl::StrToInt(c.text);
        ADD_FAILURE() << "no exception";
      } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), u"'" + UnicodeString(c.text) + u"' is not a valid integer value");
      }
    }
  }
  EXPECT_EQ(rtl::StrToInt64(u"9223372036854775807"), INT64_MAX);
  EXPECT_THROW(rtl::StrToInt64(u"9223372036854775808"), EConvertError);
}

}  // namespace
}  // namespace delvan
