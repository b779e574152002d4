#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/CodePageTestSeam.h"
#include "platform/posix/LocaleCodePage.h"

namespace delvan::platform {
namespace {

using testing::ScopedACP;

struct DecodeCase {
  TCodePage codePage;
  std::string bytes;
  std::u16string expected;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, Decodes) {
  const DecodeCase& c = GetParam();
  EXPECT_EQ(MultiByteToWideChar(c.codePage, 0, c.bytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    CodePage, DecodeTest,
    ::testing::Values(
        DecodeCase{CP_GREEK, "\xE1\xE2", u"\u03B1\u03B2"},
        DecodeCase{CP_ISO_8859_7, "\xE1\xE2", u"\u03B1\u03B2"},
        DecodeCase{CP_GREEK, "\xAA\xD2\xFF\x81", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        DecodeCase{CP_ISO_8859_7, "\x80\x9F\xAE\xD2\xFF", u"\u0080\u009F\uFFFD\uFFFD\uFFFD"},
        DecodeCase{CP_LATIN1, "\x80\x81\x9F\xE9", u"\u20AC\uFFFD\u0178\u00E9"},
        DecodeCase{CP_ISO_8859_1, "\x80\xFF", u"\u0080\u00FF"},
        DecodeCase{CP_US_ASCII, "A\x80\xFF", u"A\uFFFD\uFFFD"},
        DecodeCase{4242, "A\xE1", u"A\uFFFD"},  // unsupported: US-ASCII
        DecodeCase{CP_GREEK, std::string("a\0\xE1", 3), std::u16string(u"a\0\u03B1", 3)},
        DecodeCase{CP_UTF8, std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        // UTF-8: each maximal ill-formed subsequence is one U+FFFD.
        DecodeCase{CP_UTF8, "\xE1\xE2", u"\uFFFD\uFFFD"},
        DecodeCase{CP_UTF8, "\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
        DecodeCase{CP_UTF8, "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong
        DecodeCase{CP_UTF8, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // surrogate
        DecodeCase{CP_UTF8, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // > U+10FFFF
        DecodeCase{CP_UTF8, "\xE2\x82", u"\uFFFD"},                            // truncated
        DecodeCase{CP_UTF8, "\xF0\x9F\x98x", u"\uFFFDx"},                      // truncated
        DecodeCase{CP_UTF8, "\x80", u"\uFFFD"}, DecodeCase{CP_UTF8, "\xFF", u"\uFFFD"},
        DecodeCase{CP_UTF8, "a\xE2\x82\xAC\xCE\xB1", u"a\u20AC\u03B1"},
        DecodeCase{CP_UTF8, "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", u"\U0001F600\U0010FFFF"}));

struct EncodeCase {
  TCodePage codePage;
  std::u16string text;
  std::string expected;
};

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, Encodes) {
  const EncodeCase& c = GetParam();
  EXPECT_EQ(WideCharToMultiByte(c.codePage, 0, c.text), c.expected);
  // Appended, the bytes follow what the string held, which stays.
  std::string out = "head\xE1";
  AppendWideCharToMultiByte(c.codePage, 0, c.text, out);
  EXPECT_EQ(out, "head\xE1" + c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    CodePage, EncodeTest,
    ::testing::Values(
        EncodeCase{CP_GREEK, u"\u03B1\u03B2", "\xE1\xE2"}, EncodeCase{CP_GREEK, u"\u0386", "\xA2"},
        EncodeCase{CP_ISO_8859_7, u"\u0386", "\xB6"}, EncodeCase{CP_GREEK, u"\u00B6", "\xB6"},
        EncodeCase{CP_ISO_8859_7, u"\u00B6", "?"},
        EncodeCase{CP_GREEK, u"\u00E9\U0001F600\uFFFD\u0080", "????"},
        EncodeCase{CP_LATIN1, u"\u20AC\u03B1\U0001F600", "\x80??"},
        EncodeCase{CP_ISO_8859_7, u"\u20AC\u00E9\U0001F600", "\xA4??"},
        EncodeCase{CP_ISO_8859_1, u"\u00FF\u0100", "\xFF?"},
        EncodeCase{CP_US_ASCII, u"a\u00E9\U0001F600\u03B1", "a???"},
        EncodeCase{4242, u"a\u00E9", "a?"},  // unsupported: US-ASCII
        EncodeCase{CP_GREEK,
                   u"\xD800"
                   u"a"
                   u"\xDC00",
                   "?a?"},
        EncodeCase{CP_GREEK, std::u16string(u"a\0\u03B1", 3), std::string("a\0\xE1", 3)},
        EncodeCase{CP_UTF8, u"a\u20AC\U0001F600", "a\xE2\x82\xAC\xF0\x9F\x98\x80"},
        EncodeCase{CP_UTF8, u"\xD800", "\xEF\xBF\xBD"},
        EncodeCase{CP_UTF8,
                   u"\xDC00"
                   u"a",
                   "\xEF\xBF\xBD"
                   "a"},
        EncodeCase{CP_UTF8, u"\xD800\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
        EncodeCase{CP_UTF8, std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
        // Long enough that the size is summed in several blocks.
        EncodeCase{CP_UTF8, std::u16string(40000, u'\u20AC') + u"\U0001F600\xD800", [] {
                     std::string s;
                     for (int i = 0; i < 40000; ++i) s += "\xE2\x82\xAC";
                     return s + "\xF0\x9F\x98\x80\xEF\xBF\xBD";
                   }()}));

// ASCII runs of every length around other characters, pairs and lone
// halves, at every offset: each text encodes as its pieces one by one.
TEST(CodePageTest, AsciiRunsBesideOtherCharacters) {
  const std::u16string others[] = {u"\u03B1", u"\u20AC", u"\U0001F600", u"\xD800", u"\xDC00",
                                   u"\u00E9\u03A9"};
  for (TCodePage codePage : {CP_UTF8, CP_GREEK, CP_ISO_8859_1}) {
    for (const std::u16string& other : others) {
      for (std::size_t lead = 0; lead <= 40; ++lead) {
        for (std::size_t run = 0; run <= 17; ++run) {
          const std::u16string a(lead, u'a'), b(run, u'<');
          const std::u16string text = a + other + b + other + a;
          const std::string wanted =
              WideCharToMultiByte(codePage, 0, a) + WideCharToMultiByte(codePage, 0, other) +
              WideCharToMultiByte(codePage, 0, b) + WideCharToMultiByte(codePage, 0, other) +
              WideCharToMultiByte(codePage, 0, a);
          ASSERT_EQ(WideCharToMultiByte(codePage, 0, text), wanted)
              << codePage << " lead " << lead << " run " << run;
        }
      }
    }
  }
}

TEST(CodePageTest, EveryDefinedByteRoundTrips) {
  for (TCodePage codePage : {CP_GREEK, CP_LATIN1, CP_ISO_8859_7, CP_ISO_8859_1, CP_US_ASCII}) {
    for (int b = 0; b < 256; ++b) {
      const std::string byte(1, static_cast<char>(b));
      const std::u16string text = MultiByteToWideChar(codePage, 0, byte);
      ASSERT_EQ(text.size(), 1u);
      if (text[0] == u'\uFFFD') continue;
      EXPECT_EQ(WideCharToMultiByte(codePage, 0, text), byte) << codePage << " byte " << b;
    }
  }
}

// Every BMP character a page does not define is "?", whatever its
// neighbours in the lookup of the encoder.
TEST(CodePageTest, EveryUndefinedCharacterIsUnmappable) {
  for (TCodePage codePage : {CP_GREEK, CP_LATIN1, CP_ISO_8859_7, CP_ISO_8859_1, CP_US_ASCII}) {
    std::string expected(0x10000, '?');
    for (int b = 0; b < 256; ++b) {
      const std::u16string text =
          MultiByteToWideChar(codePage, 0, std::string(1, static_cast<char>(b)));
      if (text[0] != u'\uFFFD') expected[text[0]] = static_cast<char>(b);
    }
    std::u16string all;
    std::string want;
    for (char32_t u = 0; u < 0x10000; ++u) {
      if (u >= 0xD800 && u <= 0xDFFF) continue;  // covered with the surrogate cases
      all.push_back(static_cast<char16_t>(u));
      want.push_back(expected[u]);
    }
    EXPECT_EQ(WideCharToMultiByte(codePage, 0, all), want) << codePage;
  }
}

TEST(CodePageTest, SupplementaryCharactersRoundTripThroughUtf8) {
  const std::u16string text = u"\U00010000\U0001F600\U0010FFFF\uFFFF";
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, WideCharToMultiByte(CP_UTF8, 0, text)), text);
}

TEST(CodePageTest, AcpFollowsScopedAcp) {
  const TCodePage detected = posix::DetectSystemCodePage();
  EXPECT_EQ(GetACP(), detected);
  {
    ScopedACP greek(CP_GREEK);
    EXPECT_EQ(GetACP(), CP_GREEK);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE1\xE2"), u"\u03B1\u03B2");
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u0386"), "\xA2");
    ScopedACP utf8(CP_UTF8);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE1\xE2"), u"\uFFFD\uFFFD");
  }
  EXPECT_EQ(GetACP(), detected);
  EXPECT_TRUE(IsCodePageSupported(CP_ACP));
  EXPECT_TRUE(IsCodePageSupported(CP_ISO_8859_7));
  EXPECT_FALSE(IsCodePageSupported(4242));
}

TEST(LocaleCodePageTest, MapsCodeSets) {
  const std::pair<const char*, TCodePage> cases[] = {{"UTF-8", CP_UTF8},
                                                     {"utf8", CP_UTF8},
                                                     {"ISO-8859-7", CP_ISO_8859_7},
                                                     {"ISO8859-7", CP_ISO_8859_7},
                                                     {"iso88597", CP_ISO_8859_7},
                                                     {"CP1253", CP_GREEK},
                                                     {"WINDOWS-1253", CP_GREEK},
                                                     {"cp1252", CP_LATIN1},
                                                     {"Windows-1252", CP_LATIN1},
                                                     {"ISO-8859-1", CP_ISO_8859_1},
                                                     {"ISO8859-1", CP_ISO_8859_1},
                                                     {"ANSI_X3.4-1968", CP_US_ASCII},
                                                     {"ASCII", CP_US_ASCII},
                                                     {"US-ASCII", CP_US_ASCII},
                                                     {"KOI8-R", CP_US_ASCII},
                                                     {"", CP_US_ASCII},
                                                     {"ISO-8859-15", CP_US_ASCII}};
  for (const auto& [codeset, expected] : cases) {
    EXPECT_EQ(posix::CodePageFromCodeSet(codeset), expected) << codeset;
  }
}

TEST(LocaleCodePageTest, MapsLocaleNames) {
  const std::pair<const char*, TCodePage> cases[] = {{"el_GR.UTF-8", CP_UTF8},
                                                     {"el_GR.ISO-8859-7@euro", CP_ISO_8859_7},
                                                     {"C", CP_US_ASCII},
                                                     {"POSIX", CP_US_ASCII},
                                                     {"C.UTF-8", CP_UTF8},
                                                     {"", CP_US_ASCII},
                                                     {"el_GR", CP_ISO_8859_7},
                                                     {"el", CP_ISO_8859_7},
                                                     {"el_CY@euro", CP_ISO_8859_7},
                                                     {"en_US", CP_US_ASCII},
                                                     {"en_US.utf8@x.y", CP_UTF8},
                                                     {"de_DE.KOI8-R", CP_US_ASCII}};
  for (const auto& [locale, expected] : cases) {
    EXPECT_EQ(posix::CodePageFromLocaleName(locale), expected) << locale;
  }
}

// Sets an environment variable for the scope, restoring it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(LocaleCodePageTest, DetectsFromEnvironmentInOrder) {
  struct Case {
    const char* lcAll;
    const char* lcCtype;
    const char* lang;
    TCodePage expected;
  };
  // Installed or not, these locales name their code page.
  const Case cases[] = {{"C.UTF-8", "el_GR", "el_GR", CP_UTF8},
                        {"", "el_GR.ISO-8859-7", "C.UTF-8", CP_ISO_8859_7},
                        {"", "", "el_GR", CP_ISO_8859_7},
                        {"", "", "xx_NOWHERE.UTF-8", CP_UTF8},
                        {"", "", "", CP_US_ASCII}};
  for (const Case& c : cases) {
    ScopedEnv all("LC_ALL", c.lcAll), ctype("LC_CTYPE", c.lcCtype), lang("LANG", c.lang);
    EXPECT_EQ(posix::DetectSystemCodePage(), c.expected)
        << c.lcAll << "|" << c.lcCtype << "|" << c.lang;
  }
}

}  // namespace
}  // namespace delvan::platform
