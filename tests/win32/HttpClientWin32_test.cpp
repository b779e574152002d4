// The transport over WinINet, against the wire server (plain HTTP, answers
// chosen by path, the request echoed byte for byte) and the mock registry
// service (HTTPS), both on the Linux side of loopback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TestSupport.h"
#include "rtl/Stream.h"
#include "transport/SOAPHTTPTrans.h"

// After the platform layer's headers, whose constants its macros would hide.
// clang-format off
#include <windows.h>
// clang-format on

namespace delvan::transport {
namespace {

bool UnderWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The platform's text of an error leads the message; Wine's wininet.dll has
// no message table, so under Wine the text is empty.
void ExpectPlatformText(const UnicodeString& message) {
  if (!UnderWine()) {
    EXPECT_GT(message.find(u" - URL:"), 0u) << test::Utf8(message);
  }
}

UnicodeString EnvUrl(const char* name) {
  const char* url = std::getenv(name);
  if (!url) {
    ADD_FAILURE() << name << " is not set: run these tests through run_unit_tests.sh";
    return u"http://127.0.0.1:1";
  }
  return test::U(url);
}

struct Exchange {
  std::string body;
  UnicodeString error;
  int status = -1;
};

Exchange Post(THTTPReqResp& node, const UnicodeString& url, std::string_view request = "<x/>") {
  node.SetURL(url);
  TMemoryStream in(request), out;
  Exchange e;
  try {
    node.Execute(in, out);
  } catch (const ESOAPHTTPException& x) {
    e.error = x.Message();
    e.status = x.StatusCode();
  }
  e.body = std::string(out.View());
  return e;
}

TEST(WinInetTransport, RequestOnTheWireAndConnectionReuse) {
  const UnicodeString url = EnvUrl("DELVAN_WIRE_URL") + u"/webtax2/echo";
  THTTPReqResp node;
  node.SetSoapAction(u"http://rgws.example/RgWsPublic/rgWsPublicAfmMethod");
  const Exchange first = Post(node, url, "<body>\xCE\xB1</body>");
  ASSERT_EQ(first.error, u"") << test::Utf8(first.error);
  const std::string& wire = first.body;
  EXPECT_EQ(wire.rfind("connection=", 0), 0u) << wire;
  EXPECT_NE(wire.find("\nPOST /webtax2/echo HTTP/1.1\r\n"), std::string::npos) << wire;
  const auto action =
      wire.find("\r\nSOAPAction: \"http://rgws.example/RgWsPublic/rgWsPublicAfmMethod\"\r\n");
  const auto type = wire.find("\r\nContent-Type: text/xml; charset=utf-8\r\n");
  EXPECT_NE(action, std::string::npos) << wire;
  EXPECT_NE(type, std::string::npos) << wire;
  EXPECT_LT(action, type) << "SOAPAction goes before Content-Type";
  EXPECT_NE(wire.find("\r\nUser-Agent: Corvane SOAP 1.3\r\n"), std::string::npos) << wire;
  EXPECT_NE(wire.find("\r\nContent-Length: 15\r\n"), std::string::npos) << wire;
  EXPECT_EQ(wire.substr(wire.size() - 15), "<body>\xCE\xB1</body>");

  // A body above MaxSinglePostSize goes in chunks (HttpSendRequestExW,
  // InternetWriteFile, HttpEndRequestW), announced with its whole length.
  const std::string big(32769, 'b');
  const std::string chunked = Post(node, url, big).body;
  EXPECT_NE(chunked.find("\r\nContent-Length: 32769\r\n"), std::string::npos);
  EXPECT_EQ(chunked.substr(chunked.size() - big.size()), big);

  // The same object keeps its connection. (WinINet pools kept-alive
  // connections per process, so a new object may well get the same one.)
  const std::string firstConn = wire.substr(0, wire.find('\n'));
  EXPECT_EQ(Post(node, url).body.substr(0, firstConn.size()), firstConn);
  EXPECT_EQ(Post(node, url).body.substr(0, firstConn.size()), firstConn);
}

TEST(WinInetTransport, StatusAndContentTypeChecks) {
  const UnicodeString base = EnvUrl("DELVAN_WIRE_URL");
  THTTPReqResp node;
  const Exchange notFound = Post(node, base + u"/notfound");
  EXPECT_EQ(notFound.status, 404);
  EXPECT_EQ(notFound.error, u"Not Found (404) - '" + base + u"/notfound'");

  const Exchange fault = Post(node, base + u"/fault");
  EXPECT_EQ(fault.error, u"") << "a fault's body is passed on";
  EXPECT_NE(fault.body.find("<faultstring>broken</faultstring>"), std::string::npos);

  const Exchange html = Post(node, base + u"/html");
  EXPECT_EQ(html.status, 0);
  EXPECT_EQ(
      html.error,
      u"Received content of invalid Content-Type setting: text/html - SOAP expects \"text/xml\"");
  EXPECT_EQ(Post(node, base + u"/html-charset").error, u"");

  // An answer past the 16 MiB every backend reads is refused, not kept.
  const Exchange huge = Post(node, base + u"/huge");
  EXPECT_EQ(huge.status, static_cast<int>(platform::ERROR_HTTP_RESPONSE_TOO_LARGE));
  EXPECT_EQ(
      huge.error.rfind(u"The server's answer is larger than the 16 MiB this client accepts", 0), 0u)
      << test::Utf8(huge.error);
  EXPECT_LE(huge.body.size(), platform::kMaxResponseBodySize);

  const Exchange none = Post(node, base + u"/no-content-type");
  EXPECT_EQ(none.status, 12150);
  EXPECT_NE(none.error.find(u" - URL:" + base + u"/no-content-type - SOAPAction:\"\""),
            UnicodeString::npos)
      << test::Utf8(none.error);
  ExpectPlatformText(none.error);
}

TEST(WinInetTransport, HttpsCertificatePolicyAndUnreachableEndpoint) {
  const UnicodeString url = EnvUrl("DELVAN_MOCK_URL");
  // Default options: certificates are checked, and the test authority is
  // unknown to the prefix. Windows reports the unknown authority (12045);
  // Wine reports the revocation check that cannot be made for it (12057).
  THTTPReqResp strict;
  const Exchange refused = Post(strict, url);
  EXPECT_EQ(refused.status, UnderWine() ? 12057 : 12045) << test::Utf8(refused.error);
  EXPECT_NE(refused.error.find(u" - URL:" + url), UnicodeString::npos);
  ExpectPlatformText(refused.error);

  // With soIgnoreInvalidCerts the request goes through; the mock answers a
  // request that is no SOAP call with a fault (500), which is passed on.
  THTTPReqResp lenient;
  lenient.SetInvokeOptions(lenient.InvokeOptions() | TSOAPInvokeOptions{soIgnoreInvalidCerts});
  const Exchange passed = Post(lenient, url);
  EXPECT_EQ(passed.error, u"") << passed.status << test::Utf8(passed.error);
  EXPECT_NE(passed.body.find("Fault"), std::string::npos);

  // Nothing listens on port 1.
  const Exchange unreachable = Post(lenient, u"http://127.0.0.1:1/x");
  EXPECT_EQ(unreachable.status, 12029) << test::Utf8(unreachable.error);
  EXPECT_NE(unreachable.error.find(u" - URL:http://127.0.0.1:1/x"), UnicodeString::npos);
}

TEST(WinInetTransport, UrlsAreCrackedByThePlatform) {
  THTTPReqResp node;
  const struct {
    const char16_t* url;
    const char16_t* host;
    int port;
    const char16_t* path;
  } cases[] = {
      {u"https://rgws.example/webtax2/x", u"rgws.example", 443, u"/webtax2/x"},
      {u"http://rgws.example/x", u"rgws.example", 80, u"/x"},
      {u"https://user:pw@rgws.example:8443/a", u"rgws.example", 8443, u"/a"},
  };
  for (const auto& c : cases) {
    node.SetURL(c.url);
    EXPECT_EQ(node.URLHost(), c.host);
    EXPECT_EQ(node.URLPort(), c.port);
    EXPECT_EQ(node.URLSite(), c.path);
  }
  for (const char16_t* bad : {u"ftp://rgws.example/x", u"not a url"}) {
    try {
      node.SetURL(bad);
      ADD_FAILURE() << "accepted";
    } catch (const ESOAPHTTPException& x) {
      EXPECT_EQ(x.Message(), UnicodeString(u"Invalid url '") + bad +
                                 u"' - only supports 'http' and 'https' schemes");
    }
  }
}

}  // namespace
}  // namespace delvan::transport
