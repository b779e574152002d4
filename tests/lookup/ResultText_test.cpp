#include "lookup/ResultText.h"

#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "platform/CodePageTestSeam.h"

namespace delvan::lookup {
namespace {

using namespace service;
using platform::testing::ScopedACP;
using test::ReadFixture;
using test::U;

TXSDateTime* Date(std::u16string_view text) {
  auto* d = new TXSDateTime();
  d->XSToNative(UnicodeString(text));
  return d;
}

RgWsPublicFirmActRtUser* Activity(std::u16string_view descr, std::u16string_view kind,
                                  std::u16string_view kindDescr, const char16_t* code) {
  auto* a = new RgWsPublicFirmActRtUser();
  a->FfirmActDescr = descr;
  a->FfirmActKind = kind;
  a->FfirmActKindDescr = kindDescr;
  if (code) {
    a->FfirmActCode = new TXSDecimal();
    a->FfirmActCode->XSToNative(code);
  }
  return a;
}

// Frees its activities at the end of a test.
struct Activities {
  RgWsPublicFirmActRtUserArray list;
  ~Activities() { FreeActivities(list); }
};

std::unique_ptr<RgWsPublicBasicRtUser> WorkedExampleRecord() {
  auto r = std::make_unique<RgWsPublicBasicRtUser>();
  r->Fafm = u"012345678";
  r->FpostalAddressNo = u"12";
  r->FdoyDescr = u"ATHENS A";
  r->Fdoy = u"1101";
  r->Fonomasia = u"ALPHA TRADING SA";
  r->FlegalStatusDescr = u"AE";
  r->FregistDate = Date(u"2001-03-15T00:00:00");
  r->FdeactivationFlag = u"1";
  r->FdeactivationFlagDescr = u"ACTIVE";
  r->FpostalAddress = u"MAIN";
  r->FfirmFlagDescr = u"MERCHANT";
  r->FpostalAreaDescription = u"ATHENS";
  r->FINiFlagDescr = u"NO";
  r->FpostalZipCode = u"10000";
  return r;
}

TEST(ResultText, WorkedExampleByteForByte) {
  ScopedACP acp(platform::CP_GREEK);
  auto user = WorkedExampleRecord();
  GenWsErrorRtUser error;
  Activities acts;
  acts.list.push_back(Activity(u"RETAIL SALE", u"1", u"MAIN", u"471"));
  AnsiString text = OrganizeOutputData(user.get(), &error, acts.list);
  EXPECT_EQ(text.Bytes(), ReadFixture("lookup/worked_example.txt"));
  EXPECT_EQ(text.CodePage(), platform::CP_GREEK);
}

TEST(ResultText, GreekRecordInEachCodePage) {
  auto user = std::make_unique<RgWsPublicBasicRtUser>();
  user->Fafm = u"094019245";
  user->FpostalAddressNo = u"5";
  user->FdoyDescr = U("ΦΑΕ-ΑΘΗΝΩΝ");
  user->Fdoy = u"1159";
  user->Fonomasia = U("ΕΛΛΗΝΙΚΗ ΕΤΑΙΡΕΙΑ \"ΔΕΛΤΑ\" Α.Ε.");
  user->FlegalStatusDescr = U("ΑΕ");
  user->FregistDate = Date(u"1999-07-01T00:00:00+03:00");
  user->FdeactivationFlag = u"1";
  user->FdeactivationFlagDescr = U("ΕΝΕΡΓΟΣ");
  user->FpostalAddress = U("ΣΤΑΔΙΟΥ");
  user->FfirmFlagDescr = U("ΕΠΙΤΗΔΕΥΜΑΤΙΑΣ");
  user->FcommerTitle = U("ΔΕΛΤΑ");
  user->FpostalAreaDescription = U("ΑΘΗΝΑ");
  user->FINiFlagDescr = U("ΟΧΙ");
  user->FpostalZipCode = u"10564";
  GenWsErrorRtUser error;
  error.FerrorDescr = U("Δεν βρέθηκε");
  error.FerrorCode = u"RG_WS_PUBLIC_TAXPAYER_NOT_FOUND";
  Activities acts;
  acts.list.push_back(Activity(U("ΧΟΝΔΡΕΜΠΟΡΙΟ"), u"1", U("ΚΥΡΙΑ"), u"46190000"));
  acts.list.push_back(Activity(U("ΛΙΑΝΙΚΟ ΕΜΠΟΡΙΟ"), u"2", U("ΔΕΥΤΕΡΕΥΟΥΣΑ"), nullptr));

  const struct {
    platform::TCodePage acp;
    const char* fixture;
  } cases[] = {{platform::CP_GREEK, "lookup/greek_record.cp1253"},
               {platform::CP_UTF8, "lookup/greek_record.utf8"}};
  for (const auto& c : cases) {
    ScopedACP acp(c.acp);
    EXPECT_EQ(OrganizeOutputData(user.get(), &error, acts.list).Bytes(), ReadFixture(c.fixture))
        << c.fixture;
  }
  // Without Greek in the code page, every Greek letter becomes "?".
  ScopedACP ascii(platform::CP_US_ASCII);
  std::string bytes = OrganizeOutputData(user.get(), &error, acts.list).Bytes();
  EXPECT_NE(bytes.find("doyDescr=??"
                       "?-??????;"),
            std::string::npos)
      << bytes;
}

TEST(ResultText, QuotingRules) {
  const struct {
    std::vector<UnicodeString> items;
    const char16_t* joined;
  } cases[] = {
      {{}, u""},
      {{u"a=b"}, u"a=b"},
      {{u"a=", u"b=c"}, u"a=;b=c"},
      {{u"onomasia=A\"B"}, u"\"onomasia=A\"\"B\""},
      {{u"x=a;b"}, u"\"x=a;b\""},
      {{u"x=a\tb"}, u"\"x=a\tb\""},
      {{u"x=a b"}, u"\"x=a b\""},
      {{u"x=\x0001"}, u"\"x=\x0001\""},
      {{u"x=\x0020"}, u"\"x=\x0020\""},
      {{u"x=\x0021"}, u"x=\x0021"},
      {{u"x=\x03B1\x03B2,'()"}, u"x=\x03B1\x03B2,'()"},
      {{u"x=\"", u"y=;"}, u"\"x=\"\"\";\"y=;\""},
      {{u"\"x=\"\"a\""}, u"\"\"\"x=\"\"\"\"a\"\"\""},
      {{u"", u"a b", u""}, u";\"a b\";"},
  };
  for (const auto& c : cases) EXPECT_EQ(JoinItems(c.items), c.joined) << test::Utf8(c.joined);
}

TEST(ResultText, AbsentRecordsAndActivities) {
  ScopedACP acp(platform::CP_UTF8);
  RgWsPublicBasicRtUser user;
  GenWsErrorRtUser error;
  RgWsPublicFirmActRtUserArray none;

  std::string noResponse = OrganizeOutputData(nullptr, &error, none).Bytes();
  EXPECT_EQ(noResponse, "errorDescr=;errorCode=;DataContext=(empty);SerializationOptions=[]");
  EXPECT_EQ(OrganizeOutputData(nullptr, nullptr, none).Bytes(), "");

  std::string noActivities = OrganizeOutputData(&user, &error, none).Bytes();
  EXPECT_TRUE(noActivities.ends_with(";errorCode=;DataContext=(empty);SerializationOptions=[]"));
  EXPECT_TRUE(noActivities.starts_with("afm=;stopDate=(empty);postalAddressNo=;"));

  Activities three;
  three.list = {Activity(u"A", u"1", u"K", u"1"), Activity(u"B", u"2", u"L", nullptr), nullptr};
  std::string text = OrganizeOutputData(nullptr, nullptr, three.list).Bytes();
  EXPECT_EQ(
      text,
      "firmActDescr___0___=A;firmActKind___0___=1;firmActKindDescr___0___=K;"
      "firmActCode___0___=1;"
      "firmActDescr___1___=B;firmActKind___1___=2;firmActKindDescr___1___=L;"
      "firmActCode___1___=;"
      "firmActDescr___2___=;firmActKind___2___=;firmActKindDescr___2___=;firmActCode___2___=");
}

TEST(ResultText, ActivityValuesQuotedLikeOtherItems) {
  ScopedACP acp(platform::CP_UTF8);
  const struct {
    const char16_t* descr;
    const char* item;
  } cases[] = {
      {u"", "firmActDescr___0___="},
      {u"WHOLESALE TRADE", "\"firmActDescr___0___=WHOLESALE TRADE\""},
      {u"A;B", "\"firmActDescr___0___=A;B\""},
      {u"\"A\" \"\"", "\"firmActDescr___0___=\"\"A\"\" \"\"\"\"\""},
      {u"\x0001", "\"firmActDescr___0___=\x01\""},
      {u"A\tB\r\n", "\"firmActDescr___0___=A\tB\r\n\""},
      {u"!~,'()\x007F", "firmActDescr___0___=!~,'()\x7F"},
      // Longer values: the character that asks for quotes early or late.
      {u"A\"CDEFGHIJKLMNOPQ", "\"firmActDescr___0___=A\"\"CDEFGHIJKLMNOPQ\""},
      {u"ABCDEFGHIJKLMNOP;", "\"firmActDescr___0___=ABCDEFGHIJKLMNOP;\""},
      {u"ABCDEFG\x001F", "\"firmActDescr___0___=ABCDEFG\x1F\""},
      {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "firmActDescr___0___=ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
  };
  for (const auto& c : cases) {
    Activities acts;
    acts.list.push_back(Activity(c.descr, u"1 ", u"K\"", u"7"));
    const std::string text = OrganizeOutputData(nullptr, nullptr, acts.list).Bytes();
    EXPECT_EQ(text, std::string(c.item) +
                        ";\"firmActKind___0___=1 \";\"firmActKindDescr___0___=K\"\"\";"
                        "firmActCode___0___=7")
        << c.item;
  }
}

TEST(ResultText, ManyActivitiesNumberedInOrder) {
  ScopedACP acp(platform::CP_UTF8);
  // After the records' items, with their separator; absent entries among them.
  GenWsErrorRtUser error;
  Activities acts;
  std::vector<UnicodeString> items = {u"errorDescr=", u"errorCode=", u"DataContext=(empty)",
                                      u"SerializationOptions=[]"};
  for (int i = 0; i < 1001; ++i) {
    const UnicodeString n = rtl::IntToStr(i);
    if (i % 7 == 5) {
      acts.list.push_back(nullptr);
      for (const char16_t* name :
           {u"firmActDescr", u"firmActKind", u"firmActKindDescr", u"firmActCode"})
        items.push_back(name + (u"___" + n + u"___="));
      continue;
    }
    acts.list.push_back(Activity(u"D " + n, n, u"K" + n, i % 2 ? n.c_str() : nullptr));
    items.push_back(u"firmActDescr___" + n + u"___=D " + n);
    items.push_back(u"firmActKind___" + n + u"___=" + n);
    items.push_back(u"firmActKindDescr___" + n + u"___=K" + n);
    items.push_back(u"firmActCode___" + n + u"___=" + (i % 2 ? n : UnicodeString()));
  }
  const std::string text = OrganizeOutputData(nullptr, &error, acts.list).Bytes();
  EXPECT_EQ(text, test::Utf8(JoinItems(items)));
  for (const char* item : {";\"firmActDescr___9___=D 9\";firmActKind___9___=9;",
                           ";\"firmActDescr___10___=D 10\";firmActKind___10___=10;",
                           ";firmActDescr___96___=;firmActKind___96___=;",
                           ";firmActCode___99___=99;\"firmActDescr___100___=D 100\";"})
    EXPECT_NE(text.find(item), std::string::npos) << item;
  EXPECT_TRUE(text.ends_with(";firmActKindDescr___1000___=K1000;firmActCode___1000___="));
}

TEST(ResultText, LargeTextsAsIfEncodedWhole) {
  // Enough items for many pieces of the text as it is encoded, with values
  // that need quotes, Greek text, a value longer than a piece, pairs and
  // lone halves of surrogates at the ends of values: the bytes are those
  // of the joined items encoded at once.
  const UnicodeString huge(40000, u'\u03A9');
  const char16_t* values[] = {u"\u0395\u039B\u039B\u0391\u0394\u0391",
                              u"A \"B\";C",
                              u"\xD83D\xDE00",
                              u"x\xD800",
                              u"\xDC00y",
                              u"",
                              huge.c_str()};
  Activities acts;
  std::vector<UnicodeString> items = {u"errorDescr=", u"errorCode=", u"DataContext=(empty)",
                                      u"SerializationOptions=[]"};
  for (int i = 0; i < 3000; ++i) {
    const UnicodeString n = rtl::IntToStr(i);
    const UnicodeString v[4] = {values[i % 7], values[(i + 3) % 6], n, values[(i + 1) % 6]};
    acts.list.push_back(Activity(v[0], v[1], v[2], v[3].c_str()));
    int k = 0;
    for (const char16_t* name :
         {u"firmActDescr", u"firmActKind", u"firmActKindDescr", u"firmActCode"})
      items.push_back(name + (u"___" + n + u"___=") + v[k++]);
  }
  GenWsErrorRtUser error;
  for (platform::TCodePage cp : {platform::CP_UTF8, platform::CP_GREEK}) {
    ScopedACP acp(cp);
    const AnsiString text = OrganizeOutputData(nullptr, &error, acts.list);
    EXPECT_EQ(text.CodePage(), cp);
    EXPECT_TRUE(text.Bytes() == platform::WideCharToMultiByte(cp, 0, JoinItems(items))) << cp;
  }
}

TEST(ResultText, ValuesKeepTheirTexts) {
  ScopedACP acp(platform::CP_UTF8);
  RgWsPublicBasicRtUser user;
  user.FstopDate = Date(u"2001-03-15T10:20:30.5+02:00");
  user.FregistDate = new TXSDateTime();  // never set: its initial text
  Activities acts;
  acts.list.push_back(Activity(u"D", u"1", u"K", u"abc"));  // a decimal is not checked
  std::string text = OrganizeOutputData(&user, nullptr, acts.list).Bytes();
  EXPECT_NE(text.find(";stopDate=2001-03-15T10:20:30.5+02:00;"), std::string::npos);
  EXPECT_NE(text.find(";registDate=0001-01-01T00:00:00;"), std::string::npos);
  EXPECT_TRUE(text.ends_with(";firmActCode___0___=abc"));

  // An unpaired surrogate does not survive the UTF-8 round trip.
  user.Fafm =
      u"1\xD800"
      u"2";
  text = OrganizeOutputData(&user, nullptr, {}).Bytes();
  EXPECT_TRUE(
      text.starts_with("afm=1\xEF\xBF\xBD"
                       "2;"))
      << text;
  // A pair is kept; a lone low half and a high half at the end are replaced.
  user.Fafm = u"\xD83D\xDE00\xDC00x";
  user.Fonomasia = u"y\xDBFF";
  text = OrganizeOutputData(&user, nullptr, {}).Bytes();
  EXPECT_TRUE(text.starts_with("afm=\xF0\x9F\x98\x80\xEF\xBF\xBDx;")) << text;
  EXPECT_NE(text.find(";onomasia=y\xEF\xBF\xBD;"), std::string::npos) << text;
  user.Fafm =
      u"1\xD800"
      u"2";
  ScopedACP greek(platform::CP_GREEK);
  EXPECT_TRUE(OrganizeOutputData(&user, nullptr, {}).Bytes().starts_with("afm=1?2;"));
}

TEST(ResultText, UnpairedSurrogatesAtTheEdgesOfItems) {
  ScopedACP acp(platform::CP_UTF8);
  // A half at the start or end of a value, next to "=", ";", a closing
  // quote or the end of the text; a pair beside them stays whole.
  Activities acts;
  acts.list.push_back(Activity(u"\xDC00 \xD83D\xDE00", u"\xD800", u"\xDBFF\xDFFF\xDFFF", nullptr));
  acts.list.push_back(Activity(u"a \xD800", u"\xDC00", u"", u"\xD800"));
  acts.list.push_back(Activity(u"ABCDEFG\xDC00",
                               u"\xD800"
                               u"BCDEFGHIJ",
                               u"ABCDEFGHIJ\xDBFF", u"ABCDEFGH\xD83D\xDE00"));
  const std::string text = OrganizeOutputData(nullptr, nullptr, acts.list).Bytes();
  EXPECT_EQ(text,
            "\"firmActDescr___0___=\xEF\xBF\xBD \xF0\x9F\x98\x80\";"
            "firmActKind___0___=\xEF\xBF\xBD;"
            "firmActKindDescr___0___=\xF4\x8F\xBF\xBF\xEF\xBF\xBD;firmActCode___0___=;"
            "\"firmActDescr___1___=a \xEF\xBF\xBD\";firmActKind___1___=\xEF\xBF\xBD;"
            "firmActKindDescr___1___=;firmActCode___1___=\xEF\xBF\xBD;"
            "firmActDescr___2___=ABCDEFG\xEF\xBF\xBD;firmActKind___2___=\xEF\xBF\xBD"
            "BCDEFGHIJ;firmActKindDescr___2___=ABCDEFGHIJ\xEF\xBF\xBD;"
            "firmActCode___2___=ABCDEFGH\xF0\x9F\x98\x80");
  // Quoted items around halves read in blocks; a pair stays whole.
  EXPECT_EQ(JoinItems({u"x=\xD800 ABCDEFGH", u"y=ABCDEFGH \xDC00"}),
            u"\"x=\xD800 ABCDEFGH\";\"y=ABCDEFGH \xDC00\"");
}

}  // namespace
}  // namespace delvan::lookup
