// Whole lookups through the unmodified export RunWSOrvDLL and its fixed
// endpoint, against the mock registry service over HTTPS: the endpoint's host
// is routed to the mock on loopback and the mock's authority is trusted,
// both through the HTTP client's test seam.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>

#include "DelvanCli.h"
#include "HttpTestSupport.h"
#include "RegistryMock.h"
#include "RegistryService.h"
#include "TestSupport.h"
#include "delvan.h"
#include "lookup/FailureText.h"
#include "platform/CodePageTestSeam.h"
#include "platform/HttpClientTestSeam.h"
#include "service/CredentialsHeader.h"
#include "service/ProxyFactory.h"
#include "service/ServiceConstants.h"
#include "soap/RioFakes.h"
#include "soap/SOAPHTTPClient.h"
#include "xml/XMLDoc.h"

namespace delvan::lookup {
namespace {

using platform::testing::ScopedACP;
using platform::testing::ScopedHttpClientTestSeam;
using registrymock::Behaviour;
using registrymock::ElementText;
using registrymock::RecordedRequest;
using registrymock::RegistryMock;
using test::U;

std::string Lookup(const char* by, const char* afm, const char* user = "user",
                   const char* password = "secret") {
  return RunWSOrvDLL(by, afm, user, password);
}

std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out += p;
  return out;
}

// The failure text for a message, in the code page in force.
std::string Failure(UnicodeStringView message) {
  return Cat({FailureSentence, platform::WideCharToMultiByte(platform::CP_ACP, 0, message)});
}
std::string Failure(std::string_view utf8) { return Failure(U(utf8)); }

// A result text written here in UTF-8, in the code page in force.
std::string Ansi(std::string_view utf8) {
  return platform::WideCharToMultiByte(platform::CP_ACP, 0, U(utf8));
}

std::string Action() {
  return Cat({test::Utf8(service::ServiceNamespace), "/rgWsPublicAfmMethod"});
}

// The transport's message for a platform error code at the fixed endpoint.
UnicodeString PlatformMessage(std::uint32_t code) {
  UnicodeString m = platform::FormatMessageW(0x1800, u"wininet.dll", code, 0, 256);
  m += u" - URL:";
  m += service::defURL;
  m += u" - SOAPAction:";
  m += U(Action());
  return m;
}

// The mock on loopback, reached at the fixed endpoint.
class LookupE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    mock = std::make_unique<RegistryMock>();
    platform::testing::TrustAuthorityFile(mock->AuthorityFile());
    platform::testing::RouteToLoopback(RegistryMock::ServiceHost(), 443, mock->Port());
  }

  ScopedHttpClientTestSeam seam;
  std::unique_ptr<RegistryMock> mock;
};

std::string Field(const RecordedRequest& r, std::string_view name) {
  return ElementText(r.body, name).value_or("<missing>");
}

// An answer of the mock without a taxpayer: the caller's empty response
// record, then the error record.
std::string EmptyRecordWithError(std::string_view errorItems) {
  return Cat(
      {"afm=;stopDate=(empty);postalAddressNo=;doyDescr=;doy=;onomasia=;legalStatusDescr=;"
       "registDate=(empty);deactivationFlag=;deactivationFlagDescr=;postalAddress=;"
       "firmFlagDescr=;commerTitle=;postalAreaDescription=;INiFlagDescr=;postalZipCode=;"
       "DataContext=(empty);SerializationOptions=[];",
       errorItems, ";DataContext=(empty);SerializationOptions=[]"});
}

TEST_F(LookupE2E, TypicalLookupGivesTheResultTextByteForByteInTheCodePageInForce) {
  const struct {
    platform::TCodePage acp;
    const char* fixture;
  } cases[] = {{platform::CP_GREEK, "lookup/greek_record.cp1253"},
               {platform::CP_UTF8, "lookup/greek_record.utf8"}};
  for (const auto& c : cases) {
    ScopedACP acp(c.acp);
    EXPECT_EQ(Lookup("012345678", "094019245"), test::ReadFixture(c.fixture)) << c.fixture;
  }
  const std::vector<RecordedRequest> sent = mock->Requests();
  ASSERT_EQ(sent.size(), 2u);
  const RecordedRequest& r = sent[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/webtax2/wsgsis/RgWsPublic/RgWsPublicPort");
  EXPECT_EQ(r.Header("SOAPAction"), Cat({"\"", Action(), "\""}));
  EXPECT_EQ(r.Header("Content-Type"), "text/xml; charset=utf-8");
  EXPECT_EQ(Field(r, "afmCalledBy"), "012345678");
  EXPECT_EQ(Field(r, "afmCalledFor"), "094019245");
  EXPECT_EQ(Field(r, "Username"), "USER");  // upper-cased on the way
  EXPECT_EQ(Field(r, "Password"), "secret");
  EXPECT_EQ(Field(r, "pCallSeqId_out"), "0");
}

TEST_F(LookupE2E, ErrorRecordsAndFaultsGiveTheirTexts) {
  ScopedACP acp(platform::CP_UTF8);
  const struct {
    const char* afm;
    std::string expected;
  } cases[] = {
      {"123456789",
       EmptyRecordWithError("\"errorDescr=Δεν βρέθηκε φορολογούμενος με αυτόν τον Α.Φ.Μ.\";"
                            "errorCode=RG_WS_PUBLIC_TAXPAYER_NOT_FOUND")},
      {"12AB", EmptyRecordWithError(
                   "\"errorDescr=Ο Α.Φ.Μ. δεν είναι έγκυρος\";errorCode=RG_WS_PUBLIC_WRONG_AFM")},
      {"000000000", Failure("The registry is not available at the moment")},
  };
  for (const auto& c : cases) EXPECT_EQ(Lookup("012345678", c.afm), c.expected) << c.afm;
  // The same in Windows Greek: the sentence and the message both in 1253.
  ScopedACP greek(platform::CP_GREEK);
  EXPECT_EQ(Lookup("012345678", "000000000"),
            Failure("The registry is not available at the moment"));
}

TEST_F(LookupE2E, TransportFailuresAndMalformedAnswersGiveTheirExactTexts) {
  ScopedACP acp(platform::CP_UTF8);
  const std::string url = test::Utf8(service::defURL);
  // The XML layer's own message for a body that is not XML.
  const std::string garbage(1000, 'x');
  UnicodeString parseError;
  try {
    TMemoryStream body(garbage);
    xml::NewXMLDocument()->LoadFromStream(body);
  } catch (const Exception& e) {
    parseError = e.Message();
  }
  ASSERT_FALSE(parseError.empty());
  mock->SetHugeSize(garbage.size());

  const struct {
    const char* name;
    Behaviour behaviour;
    const char* contentType;
    std::string expected;
  } cases[] = {
      {"status 404", Behaviour::NotFound, "", Failure(Cat({"Not Found (404) - '", url, "'"}))},
      {"html", Behaviour::ContentType, "text/html",
       Failure("Received content of invalid Content-Type setting: text/html - SOAP expects "
               "\"text/xml\"")},
      {"no content type", Behaviour::NoContentType, "",
       Failure(PlatformMessage(platform::ERROR_HTTP_HEADER_NOT_FOUND))},
      {"not xml", Behaviour::Huge, "", Failure(parseError)},
      {"reset", Behaviour::ConnectionReset, "",
       Failure(PlatformMessage(platform::ERROR_INTERNET_CONNECTION_RESET))},
  };
  for (const auto& c : cases) {
    mock->SetBehaviour(c.behaviour);
    mock->SetContentType(c.contentType);
    EXPECT_EQ(Lookup("012345678", "094019245"), c.expected) << c.name;
  }
}

TEST(LookupE2EUnreachable, TheEndpointUnreachableGivesTheTransportsText) {
  ScopedHttpClientTestSeam seam;
  ScopedACP acp(platform::CP_UTF8);
  platform::testing::RouteToLoopback(RegistryMock::ServiceHost(), 443, test::ClosedPort());
  EXPECT_EQ(Lookup("012345678", "094019245"),
            Failure(PlatformMessage(platform::ERROR_INTERNET_CANNOT_CONNECT)));
}

TEST_F(LookupE2E, EachLookupSendsItsOwnArgumentsAndCredentials) {
  ScopedACP acp(platform::CP_GREEK);
  const std::string good = test::ReadFixture("lookup/greek_record.cp1253");
  EXPECT_EQ(Lookup("012345678", "094019245", "user", "secret"), good);
  EXPECT_EQ(Lookup("012345678", "094019245", "other", "p\xCE\xB1"),
            Failure("Authentication failed: wrong user name or password"));
  // Null tax numbers are sent empty; the service judges them.
  EXPECT_EQ(RunWSOrvDLL(nullptr, nullptr, "user", "secret"),
            Ansi(EmptyRecordWithError(
                "\"errorDescr=Ο Α.Φ.Μ. δεν είναι έγκυρος\";errorCode=RG_WS_PUBLIC_WRONG_AFM")));
  // Tax numbers are read in the ANSI code page, credentials as UTF-8.
  Lookup("\xC1\xC2", "094019245", "\xCE\xB1user", "secret");

  const std::vector<RecordedRequest> sent = mock->Requests();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(Field(sent[0], "Username"), "USER");
  EXPECT_EQ(Field(sent[0], "Password"), "secret");
  EXPECT_EQ(Field(sent[1], "Username"), "OTHER");
  EXPECT_EQ(Field(sent[1], "Password"), "pα");
  EXPECT_EQ(ElementText(sent[2].body, "afmCalledBy").value_or(""), "");
  EXPECT_EQ(ElementText(sent[2].body, "afmCalledFor").value_or(""), "");
  EXPECT_EQ(Field(sent[2], "Username"), "USER");
  EXPECT_EQ(Field(sent[3], "afmCalledBy"), "ΑΒ");
  EXPECT_EQ(Field(sent[3], "Username"), "αUSER");  // ASCII letters only are upper-cased
}

TEST_F(LookupE2E, ConcurrentLookupsEachCarryTheirOwnCredentialsAndGetTheirOwnText) {
  ScopedACP acp(platform::CP_UTF8);
  const char* const afms[] = {"094019245", "998877665", "123456783", "123456789"};
  std::map<std::string, std::string> expected;  // afm -> text, from one lookup each
  for (const char* afm : afms) expected[afm] = Lookup("012345678", afm);
  mock->ClearRecords();

  constexpr int kThreads = 8, kRounds = 5;
  std::vector<std::vector<std::string>> texts(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      // Even threads hold the right credentials, odd ones their own wrong ones.
      const std::string user = t % 2 ? "user" + std::to_string(t) : "user";
      const std::string password = t % 2 ? "pw" + std::to_string(t) : "secret";
      for (int n = 0; n < kRounds; ++n)
        texts[t].push_back(RunWSOrvDLL("012345678", afms[t / 2], user.c_str(), password.c_str()));
    });
  for (auto& th : threads) th.join();

  for (int t = 0; t < kThreads; ++t)
    for (const std::string& text : texts[t])
      EXPECT_EQ(text, t % 2 ? Failure("Authentication failed: wrong user name or password")
                            : expected[afms[t / 2]])
          << "thread " << t;
  const std::vector<RecordedRequest> sent = mock->Requests();
  ASSERT_EQ(sent.size(), static_cast<std::size_t>(kThreads * kRounds));
  std::map<std::string, int> perUser;
  for (const RecordedRequest& r : sent) {
    const std::string user = Field(r, "Username");
    ++perUser[user];
    const int t = user == "USER" ? -1 : std::stoi(user.substr(4));
    if (t < 0) {
      EXPECT_EQ(Field(r, "Password"), "secret");
    } else {
      EXPECT_EQ(Field(r, "Password"), "pw" + std::to_string(t));
      EXPECT_EQ(Field(r, "afmCalledFor"), afms[t / 2]);
    }
  }
  EXPECT_EQ(perUser["USER"], kThreads / 2 * kRounds);
  for (int t = 1; t < kThreads; t += 2) EXPECT_EQ(perUser["USER" + std::to_string(t)], kRounds);
}

TEST_F(LookupE2E, AReferenceSendsTheCredentialsWithItsFirstCallOnly) {
  const std::string url = mock->Url();
  IntfPtr<service::RgWsPublic> port = service::GetRgWsPublic(false, U(url), nullptr);
  service::crheader->FUsername = AnsiString("user", platform::CP_UTF8);
  service::crheader->FPassword = AnsiString("secret", platform::CP_UTF8);
  test::AfmCall first, second;
  first.input->FafmCalledFor = u"094019245";
  second.input->FafmCalledFor = u"094019245";
  first.Run(*port);
  EXPECT_EQ(first.basic->Fafm, u"094019245");
  try {
    second.Run(*port);
    ADD_FAILURE() << "no fault";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Authentication failed: wrong user name or password");
  }
  const std::vector<RecordedRequest> sent = mock->Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Field(sent[0], "Username"), "USER");
  EXPECT_EQ(Field(sent[1], "Username"), "<missing>");
}

TEST_F(LookupE2E, AQueryOnTheObjectSwitchesTheNextRequestToEncodedForm) {
  const std::string url = mock->Url();
  std::string readByHandler;
  for (bool queryObject : {false, true}) {
    TComponent owner;
    auto* rio = new soap::THTTPRIO(&owner);
    IntfPtr<service::RgWsPublic> port = service::GetRgWsPublic(false, U(url), rio);
    if (queryObject) {
      ASSERT_TRUE(QueryIntf<soap::ISOAPHeaders>(static_cast<soap::TRIO*>(rio)));
    }
    rio->OnBeforeExecute = [&](const UnicodeString&, TStream& request) {
      request.SetPosition(0);
      readByHandler = request.ReadRest();
    };
    test::AfmCall call;
    call.input->FafmCalledFor = u"094019245";
    try {
      call.Run(*port);
    } catch (const Exception&) {
      // The answer to an encoded request is not what this test is about.
    }
    const RecordedRequest r = mock->Requests().back();
    // The handler read the stream; the whole request went out all the same.
    EXPECT_EQ(r.body, readByHandler);
    EXPECT_EQ(r.body.find("encodingStyle") != std::string::npos, queryObject) << r.body;
  }
}

TEST_F(LookupE2E, NoLeakOverAThousandLookups) {
  ScopedACP acp(platform::CP_GREEK);
  const std::string good = test::ReadFixture("lookup/greek_record.cp1253");
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(Lookup("012345678", "094019245"), good) << i;
  EXPECT_EQ(mock->Requests().size(), 1000u);
}

TEST_F(LookupE2E, TheCommandLineToolShowsARealAnswer) {
  ScopedACP acp(platform::CP_UTF8);
  std::istringstream in("secret\n");
  std::ostringstream out, err;
  cli::CliIo io{in, out, err, false, nullptr, [](const std::string&) { return true; }};
  const int status = cli::RunCli({"lookup", "012345678", "094019245", "--user", "user",
                                  "--endpoint", mock->Url(), "--format", "json"},
                                 io);
  EXPECT_EQ(status, cli::ExitSuccess) << err.str();
  EXPECT_NE(out.str().find("\"afm\": \"094019245\""), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("\"activities\": [\n    {"), std::string::npos);
}

}  // namespace
}  // namespace delvan::lookup
