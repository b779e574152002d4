// The complete lookup against a hostile or broken registry server: each
// scenario sets the mock service misbehaving and asserts the text the lookup
// ends with, and that it ends within a time and a peak-memory bound.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "RegistryMock.h"
#include "TestSupport.h"
#include "delvan.h"
#include "lookup/FailureText.h"
#include "platform/CodePageTestSeam.h"
#include "platform/HttpClient.h"
#include "platform/HttpClientTestSeam.h"
#include "service/CredentialsHeader.h"
#include "service/ProxyFactory.h"
#include "service/ServiceConstants.h"
#include "soap/RioFakes.h"
#include "soap/SOAPHTTPClient.h"
#include "transport/SOAPHTTPTrans.h"
#include "xml/XMLDoc.h"

namespace delvan::lookup {
namespace {

using platform::testing::ScopedACP;
using platform::testing::ScopedHttpClientTestSeam;
using registrymock::Behaviour;
using registrymock::RegistryMock;
using registrymock::RegistryMockOptions;
using test::U;

constexpr std::uint64_t MiB = 1024 * 1024;

// AddressSanitizer keeps freed memory in quarantine (256 MiB by default)
// and doubles much of what is live; bounds are given for the plain build.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint64_t SanitizerScale = 2, SanitizerQuarantine = 256 * MiB;
#else
constexpr std::uint64_t SanitizerScale = 1, SanitizerQuarantine = 0;
#endif

std::string Failure(UnicodeStringView message) {
  std::string out(FailureSentence);
  out += platform::WideCharToMultiByte(platform::CP_ACP, 0, message);
  return out;
}

std::string Action() { return test::Utf8(service::ServiceNamespace) + "/rgWsPublicAfmMethod"; }

// The transport's message for a platform error code at url.
UnicodeString PlatformMessage(std::uint32_t code, UnicodeStringView url = service::defURL) {
  UnicodeString m = platform::FormatMessageW(0x1800, u"wininet.dll", code, 0, 256);
  m += u" - URL:";
  m += url;
  m += u" - SOAPAction:";
  m += U(Action());
  return m;
}

// What the XML layer itself says of body; empty when it parses.
UnicodeString ParseMessage(const std::string& body) {
  try {
    TMemoryStream stream(body);
    xml::NewXMLDocument()->LoadFromStream(stream);
  } catch (const Exception& e) {
    return e.Message();
  }
  return {};
}

// The peak resident size since the last ResetPeak, in bytes.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }
std::uint64_t PeakResident() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  return 0;
}
std::uint64_t Resident() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  return 0;
}

std::string HttpAnswer(const std::string& body, std::string_view status = "200 OK",
                       std::string_view type = "text/xml; charset=utf-8") {
  std::string out = "HTTP/1.1 ";
  out += status;
  out += "\r\nContent-Type: ";
  out += type;
  out += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  return out + body;
}

// A response envelope of the service with the given activities and extra
// text inside the response element's start tag.
std::string ResponseEnvelope(std::size_t activities, std::string_view responseAttributes = {},
                             std::string_view prolog = {}) {
  const std::string ns = test::Utf8(service::ServiceNamespace);
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  out += prolog;
  out +=
      "<env:Envelope xmlns:env=\"http://schemas.xmlsoap.org/soap/envelope/\"><env:Body>"
      "<m:rgWsPublicAfmMethodResponse xmlns:m=\"" +
      ns + "\"";
  out += responseAttributes;
  out += "><RgWsPublicBasicRt_out><m:afm>094019245</m:afm></RgWsPublicBasicRt_out>";
  out += "<arrayOfRgWsPublicFirmActRt_out>";
  for (std::size_t i = 0; i < activities; ++i)
    out += "<m:RgWsPublicFirmActRtUser><m:firmActCode>" + std::to_string(i) +
           "</m:firmActCode></m:RgWsPublicFirmActRtUser>";
  out +=
      "</arrayOfRgWsPublicFirmActRt_out><pCallSeqId_out>7</pCallSeqId_out>"
      "</m:rgWsPublicAfmMethodResponse></env:Body></env:Envelope>";
  return out;
}

std::size_t Count(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos;
       at = text.find(what, at + what.size()))
    ++n;
  return n;
}

struct Scenario {
  const char* name;  // what the scenario proves, as a test name
  std::function<void(RegistryMockOptions&)> options = [](RegistryMockOptions&) {};
  std::function<void(RegistryMock&)> arrange = {};
  // The failure message expected (exact), or a check of the text.
  std::function<UnicodeString(const RegistryMock&)> message = {};
  std::function<void(const std::string&)> check = {};
  std::chrono::seconds timeBound{20};
  std::uint64_t memoryBound = 256 * MiB;  // growth of the peak resident size
  // Non-zero: run on a web node with these time-outs (ms) instead of the export's.
  std::int32_t receiveTimeout = 0;
  std::int32_t connectTimeout = 0;
};

// Names the scenario in test output instead of dumping its bytes.
void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

void ServeBody(RegistryMock& mock, const std::string& body) {
  mock.SetBehaviour(Behaviour::Raw);
  mock.SetRawAnswer(HttpAnswer(body));
}

std::function<UnicodeString(const RegistryMock&)> Platform(std::uint32_t code) {
  return [code](const RegistryMock&) { return PlatformMessage(code); };
}

// The transport's text for a status it does not take, at the endpoint.
std::function<UnicodeString(const RegistryMock&)> StatusText(UnicodeStringView status) {
  return [s = UnicodeString(status)](const RegistryMock&) {
    UnicodeString m = s;
    m += u" - '";
    m += service::defURL;
    m += u"'";
    return m;
  };
}

std::function<UnicodeString(const RegistryMock&)> ParserRefuses(std::string body,
                                                                std::string_view mention) {
  return [body = std::move(body), m = std::string(mention)](const RegistryMock&) {
    UnicodeString message = ParseMessage(body);
    EXPECT_NE(test::Utf8(message).find(m), std::string::npos) << test::Utf8(message);
    return message;
  };
}

std::string EntityBomb() {
  std::string dtd = "<!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  std::string prev = "lol";
  for (int i = 1; i <= 9; ++i) {
    const std::string name = "lol" + std::to_string(i);
    dtd += "<!ENTITY " + name + " \"";
    for (int j = 0; j < 10; ++j) dtd += "&" + prev + ";";
    dtd += "\">";
    prev = name;
  }
  dtd += "]>";
  std::string env = ResponseEnvelope(0, {}, dtd);
  const std::size_t at = env.find("<m:afm>") + 7;
  return env.insert(at, "&lol9;");
}

std::string ExternalEntity() {
  std::string env =
      ResponseEnvelope(0, {}, "<!DOCTYPE e [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>");
  return env.insert(env.find("<m:afm>") + 7, "&xxe;");
}

std::string DeepNesting(std::size_t depth) {
  std::string env = ResponseEnvelope(0);
  std::string inner;
  inner.reserve(depth * 8);
  for (std::size_t i = 0; i < depth; ++i) inner += "<m:d>";
  for (std::size_t i = 0; i < depth; ++i) inner += "</m:d>";
  return env.insert(env.find("<pCallSeqId_out>"), inner);
}

std::string MillionAttributes() {
  std::string attrs;
  attrs.reserve(12 * 1000000);
  for (int i = 0; i < 1000000; ++i) attrs += " a" + std::to_string(i) + "=\"\"";
  return ResponseEnvelope(2, attrs);
}

const std::string kTypicalAfm = "afm=094019245;";

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> s;
  s.push_back({.name = "EntityBombIsRefusedUnexpanded",
               .arrange = [](RegistryMock& m) { ServeBody(m, EntityBomb()); },
               .message = ParserRefuses(EntityBomb(), "document type declaration")});
  s.push_back(
      {.name = "ExternalEntityIsNeverFetched",
       .arrange = [](RegistryMock& m) { ServeBody(m, ExternalEntity()); },
       .message = ParserRefuses(ExternalEntity(), "document type declaration"),
       .check = [](const std::string& text) { EXPECT_EQ(text.find("root:"), std::string::npos); }});
  s.push_back({.name = "DoctypeIsRefused",
               .arrange =
                   [](RegistryMock& m) {
                     ServeBody(m, ResponseEnvelope(1, {}, "<!DOCTYPE env:Envelope>"));
                   },
               .message = ParserRefuses(ResponseEnvelope(1, {}, "<!DOCTYPE env:Envelope>"),
                                        "document type declaration")});
  s.push_back({.name = "GigabyteBodyIsRefusedByItsLength",
               .arrange =
                   [](RegistryMock& m) {
                     m.SetBehaviour(Behaviour::Huge);
                     m.SetHugeSize(1024 * MiB);
                   },
               .message = Platform(platform::ERROR_HTTP_RESPONSE_TOO_LARGE),
               .memoryBound = 64 * MiB});
  s.push_back({.name = "GigabyteChunkedBodyStopsAtTheBodyLimit",
               .arrange =
                   [](RegistryMock& m) {
                     m.SetBehaviour(Behaviour::HugeChunked);
                     m.SetHugeSize(1024 * MiB);
                   },
               .message = Platform(platform::ERROR_HTTP_RESPONSE_TOO_LARGE),
               .memoryBound = 128 * MiB});
  s.push_back({.name = "BodyThatNeverEndsStopsAtTheBodyLimit",
               .arrange = [](RegistryMock& m) { m.SetBehaviour(Behaviour::EndlessBody); },
               .message = Platform(platform::ERROR_HTTP_RESPONSE_TOO_LARGE),
               .memoryBound = 128 * MiB});
  s.push_back({.name = "HeadersWithoutEndAreCutOff",
               .arrange = [](RegistryMock& m) { m.SetBehaviour(Behaviour::EndlessHeaders); },
               .message = Platform(platform::ERROR_INTERNET_CONNECTION_ABORTED),
               .memoryBound = 64 * MiB});
  s.push_back({.name = "HundredThousandDeepNestingIsRefused",
               .arrange = [](RegistryMock& m) { ServeBody(m, DeepNesting(100000)); },
               .message = ParserRefuses(DeepNesting(100000), "nested")});
  s.push_back({.name = "MillionAttributesOnOneElementStillGiveTheRecord",
               .arrange = [](RegistryMock& m) { ServeBody(m, MillionAttributes()); },
               .check =
                   [](const std::string& text) {
                     EXPECT_EQ(text.rfind(kTypicalAfm, 0), 0u) << text.substr(0, 200);
                     EXPECT_EQ(Count(text, "firmActCode___"), 2u);
                   },
               .timeBound = std::chrono::seconds(60),
               .memoryBound = 1536 * MiB});
  s.push_back({.name = "MillionActivitiesExceedTheBodyLimit",
               .arrange = [](RegistryMock& m) { ServeBody(m, ResponseEnvelope(1000000)); },
               .message = Platform(platform::ERROR_HTTP_RESPONSE_TOO_LARGE),
               .memoryBound = 128 * MiB});
  s.push_back({.name = "HundredThousandActivitiesAreAllRead",
               .arrange = [](RegistryMock& m) { ServeBody(m, ResponseEnvelope(100000)); },
               .check =
                   [](const std::string& text) {
                     EXPECT_EQ(text.rfind(kTypicalAfm, 0), 0u) << text.substr(0, 200);
                     EXPECT_EQ(Count(text, "firmActCode___"), 100000u);
                     EXPECT_NE(text.find(";firmActCode___99999___=99999"), std::string::npos);
                   },
               .timeBound = std::chrono::seconds(60),
               .memoryBound = 1536 * MiB});
  {
    std::string bad = ResponseEnvelope(1);
    bad.insert(bad.find("094019245"), "\xC3\x28\xFF");
    s.push_back({.name = "InvalidUtf8IsAParseFailure",
                 .arrange = [bad](RegistryMock& m) { ServeBody(m, bad); },
                 .message = ParserRefuses(bad, "")});
  }
  {
    std::string utf16 = ResponseEnvelope(1);
    utf16.replace(utf16.find("UTF-8"), 5, "UTF-16");
    s.push_back({.name = "DeclaredUtf16OverUtf8BytesIsAParseFailure",
                 .arrange = [utf16](RegistryMock& m) { ServeBody(m, utf16); },
                 .message = ParserRefuses(utf16, "")});
    std::string greek = ResponseEnvelope(1);
    greek.replace(greek.find("UTF-8"), 5, "ISO-8859-7");
    greek.insert(greek.find("</m:afm>"), "\xCE\xB1");  // UTF-8 alpha, read as two characters
    s.push_back({.name = "DeclaredGreekOverUtf8BytesIsReadAsDeclared",
                 .arrange = [greek](RegistryMock& m) { ServeBody(m, greek); },
                 .check =
                     [](const std::string& text) {
                       // ISO-8859-7 0xCE 0xB1 are capital xi and the plus-minus sign,
                       // which Windows Greek writes with the same two bytes.
                       EXPECT_EQ(text.rfind("afm=094019245\xCE\xB1;", 0), 0u) << text.substr(0, 80);
                     }});
  }
  s.push_back({.name = "StatusLineGarbageIsAnInvalidResponse",
               .arrange =
                   [](RegistryMock& m) {
                     m.SetBehaviour(Behaviour::Raw);
                     m.SetRawAnswer("\x01\x02 garbage \xFF\r\nContent-Length: 2\r\n\r\nhi");
                   },
               .message = Platform(platform::ERROR_HTTP_INVALID_SERVER_RESPONSE)});
  s.push_back({.name = "ClosingWithoutAnswerEndsTheExchange",
               .arrange =
                   [](RegistryMock& m) {
                     m.SetBehaviour(Behaviour::Raw);
                     m.SetRawAnswer("");
                   },
               .message = Platform(platform::ERROR_INTERNET_CONNECTION_ABORTED)});
  s.push_back({.name = "ConnectionResetInTheMiddleOfTheBody",
               .arrange = [](RegistryMock& m) { m.SetBehaviour(Behaviour::ResetMidBody); },
               .message = Platform(platform::ERROR_INTERNET_CONNECTION_RESET)});
  s.push_back({.name = "ConnectionClosedInTheMiddleOfTheBody",
               .arrange = [](RegistryMock& m) { m.SetBehaviour(Behaviour::TruncatedBody); },
               .message = Platform(platform::ERROR_INTERNET_CONNECTION_ABORTED)});
  s.push_back({.name = "CertificateForAnotherNameIsRefused",
               .options = [](RegistryMockOptions& o) { o.wrongHostCertificate = true; },
               .message = Platform(platform::ERROR_INTERNET_SEC_CERT_CN_INVALID)});
  s.push_back({.name = "ExpiredCertificateIsRefused",
               .options = [](RegistryMockOptions& o) { o.expiredCertificate = true; },
               .message = Platform(platform::ERROR_INTERNET_SEC_CERT_DATE_INVALID)});
  s.push_back({.name = "SelfSignedCertificateIsRefused",
               .options = [](RegistryMockOptions& o) { o.selfSignedCertificate = true; },
               .message = Platform(platform::ERROR_INTERNET_INVALID_CA)});
  s.push_back({.name = "RedirectIsNotFollowed",
               .arrange = [](RegistryMock& m) { m.SetBehaviour(Behaviour::Redirect); },
               .message = StatusText(u"Found (302)")});
  s.push_back({.name = "UnauthorizedChallengeIsAFailure",
               .arrange = [](RegistryMock& m) { m.SetBehaviour(Behaviour::BasicAuth); },
               .message = StatusText(u"Unauthorized (401)")});
  s.push_back({.name = "SlowDripPastTheReceiveTimeoutTimesOut",
               .arrange =
                   [](RegistryMock& m) {
                     m.SetBehaviour(Behaviour::Drip);
                     m.SetDelay(std::chrono::milliseconds(1000));
                   },
               .message =
                   [](const RegistryMock& m) {
                     return PlatformMessage(platform::ERROR_INTERNET_TIMEOUT, U(m.Url()));
                   },
               .timeBound = std::chrono::seconds(5),
               .receiveTimeout = 500});
  // A body of one byte a second never lets a 2 s receive time-out run out;
  // the deadline, 2 s + max(10 s, 4 x 2 s) = 12 s, ends the exchange.
  s.push_back({.name = "DripFasterThanTheReceiveTimeoutMeetsTheDeadline",
               .arrange =
                   [](RegistryMock& m) {
                     m.SetBehaviour(Behaviour::DripBody);
                     m.SetDelay(std::chrono::milliseconds(1000));
                   },
               .message =
                   [](const RegistryMock& m) {
                     UnicodeString text =
                         u"The server did not complete its answer within 12 seconds - URL:";
                     text += U(m.Url());
                     text += u" - SOAPAction:";
                     text += U(Action());
                     return text;
                   },
               .timeBound = std::chrono::seconds(18),
               .receiveTimeout = 2000,
               .connectTimeout = 2000});
  s.push_back({.name = "SilencePastTheReceiveTimeoutTimesOut",
               .arrange =
                   [](RegistryMock& m) {
                     m.SetBehaviour(Behaviour::Slow);
                     m.SetDelay(std::chrono::milliseconds(10000));
                   },
               .message =
                   [](const RegistryMock& m) {
                     return PlatformMessage(platform::ERROR_INTERNET_TIMEOUT, U(m.Url()));
                   },
               .timeBound = std::chrono::seconds(5),
               .receiveTimeout = 500});
  return s;
}

// A lookup on a web node with the scenario's time-outs, set through the
// proxy factory's HTTPRIO argument; the failure text as the export makes it.
std::string LookupWithTimeouts(const RegistryMock& mock, const Scenario& sc) {
  try {
    TComponent owner;
    auto* rio = new soap::THTTPRIO(&owner);
    rio->HTTPWebNode()->SetReceiveTimeout(sc.receiveTimeout);
    rio->HTTPWebNode()->SetConnectTimeout(sc.connectTimeout);
    IntfPtr<service::RgWsPublic> port = service::GetRgWsPublic(false, U(mock.Url()), rio);
    service::crheader->FUsername = AnsiString("user", platform::CP_UTF8);
    service::crheader->FPassword = AnsiString("secret", platform::CP_UTF8);
    test::AfmCall call;
    call.input->FafmCalledFor = u"094019245";
    call.Run(*port);
    return "no failure";
  } catch (const Exception& e) {
    return Failure(e.Message());
  }
}

class HostileRegistry : public ::testing::TestWithParam<Scenario> {};

TEST_P(HostileRegistry, EndsWithItsTextWithinTimeAndMemory) {
  const Scenario& sc = GetParam();
  ScopedHttpClientTestSeam seam;
  ScopedACP acp(platform::CP_GREEK);
  RegistryMockOptions options;
  sc.options(options);
  RegistryMock mock(options);
  platform::testing::TrustAuthorityFile(mock.AuthorityFile());
  platform::testing::RouteToLoopback(RegistryMock::ServiceHost(), 443, mock.Port());
  if (sc.arrange) sc.arrange(mock);
  std::optional<std::string> expected;
  if (sc.message) expected = Failure(sc.message(mock));

  const std::uint64_t before = Resident();
  ResetPeak();
  const auto start = std::chrono::steady_clock::now();
  const std::string text =
      sc.receiveTimeout ? LookupWithTimeouts(mock, sc)
                        : std::string(RunWSOrvDLL("012345678", "094019245", "user", "secret"));
  const auto took = std::chrono::steady_clock::now() - start;
  const std::uint64_t peak = PeakResident();

  if (expected) {
    EXPECT_EQ(text, *expected);
  }
  if (sc.check) sc.check(text);
  EXPECT_LT(took, sc.timeBound)
      << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
  EXPECT_LT(peak > before ? peak - before : 0,
            sc.memoryBound * SanitizerScale + SanitizerQuarantine)
      << "peak grew by " << (peak - before) / MiB << " MiB";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, HostileRegistry, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace delvan::lookup
