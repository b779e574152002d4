// The code pages over the system's conversions, under the ANSI code page
// the test run was started with (DELVAN_EXPECTED_ACP: 1253 or 1252).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "lookup/FailureText.h"
#include "platform/CodePage.h"

namespace delvan::platform {
namespace {

TCodePage ExpectedACP() {
  const char* acp = std::getenv("DELVAN_EXPECTED_ACP");
  return acp ? static_cast<TCodePage>(std::strtoul(acp, nullptr, 10)) : 0;
}

TEST(CodePageWin32, AnsiCodePageIsTheSystemsReadOnce) {
  ASSERT_NE(ExpectedACP(), 0u) << "DELVAN_EXPECTED_ACP is not set";
  EXPECT_EQ(GetACP(), ExpectedACP());
  EXPECT_TRUE(IsCodePageSupported(CP_ACP));
  EXPECT_TRUE(IsCodePageSupported(CP_GREEK));
  EXPECT_FALSE(IsCodePageSupported(12345));
}

TEST(CodePageWin32, ConversionsOfTheNamedCodePages) {
  const struct {
    TCodePage cp;
    std::string bytes;
    std::u16string text;
  } decode[] = {
      {CP_GREEK, "\xE1\xE2", u"\u03B1\u03B2"},
      {CP_UTF8, "\xCE\xB1x", u"\u03B1x"},
      {CP_LATIN1, "\xE9", u"\u00E9"},
      {CP_GREEK, "", u""},
  };
  for (const auto& c : decode)
    EXPECT_EQ(MultiByteToWideChar(c.cp, 0, c.bytes), c.text) << c.cp << " " << c.bytes;

  // Malformed UTF-8 never fails; it becomes U+FFFD (Windows writes one per
  // byte here, Wine one for the broken sequence).
  const std::u16string broken = MultiByteToWideChar(CP_UTF8, 0, "\xE1\xE2");
  EXPECT_TRUE(!broken.empty() && broken.find_first_not_of(u'\uFFFD') == std::u16string::npos);

  EXPECT_EQ(WideCharToMultiByte(CP_GREEK, 0, u"\u03B1\u03B2"), "\xE1\xE2");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u03B1"), "\xCE\xB1");
  // An unpaired surrogate becomes U+FFFD in UTF-8.
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
  // Characters the code page lacks become its default character.
  EXPECT_EQ(WideCharToMultiByte(CP_GREEK, 0, u"\u4E2D"), "?");
}

TEST(CodePageWin32, AnsiCodePageDecidesTheBytesOfGreekText) {
  const bool greek = GetACP() == CP_GREEK;
  const std::string ab = WideCharToMultiByte(CP_ACP, 0, u"\u03B1\u03B2");
  if (greek)
    EXPECT_EQ(ab, "\xE1\xE2");
  else  // best-fit or default characters, one per letter
    EXPECT_TRUE(ab.size() == 2 && ab != "\xE1\xE2") << ab;
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE1"), greek ? u"\u03B1" : u"\u00E1");
}

TEST(FailureTextWin32, MessageInTheAnsiCodePageAfterTheSentence) {
  const AnsiString text = lookup::AddGeneralError(u"\u03A3\u03C6\u03AC\u03BB\u03BC\u03B1 404");
  const std::string sentence(lookup::FailureSentence);
  ASSERT_EQ(text.Bytes().substr(0, sentence.size()), sentence);
  EXPECT_EQ(text.Bytes().substr(sentence.size()),
            GetACP() == CP_GREEK
                ? "\xD3\xF6\xDC\xEB\xEC\xE1 404"
                : WideCharToMultiByte(CP_LATIN1, 0, u"\u03A3\u03C6\u03AC\u03BB\u03BC\u03B1 404"));
}

}  // namespace
}  // namespace delvan::platform
