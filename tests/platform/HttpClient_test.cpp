#include "platform/HttpClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "HttpTestSupport.h"
#include "RegistryMock.h"
#include "TestSupport.h"
#include "platform/CertStore.h"
#include "platform/HttpClientTestSeam.h"

namespace delvan::platform {
namespace {

using registrymock::Behaviour;
using registrymock::RegistryMock;
using registrymock::RegistryMockOptions;
using test::ClosedPort;
using test::Envelope;
using test::ScopedEnv;
using test::U;

constexpr std::u16string_view kAgent = u"Corvane SOAP 1.3";
constexpr std::u16string_view kPath = u"/webtax2/wsgsis/RgWsPublic/RgWsPublicPort";
constexpr std::uint32_t kPostFlags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr std::uint32_t kIgnoreAll =
    SECURITY_FLAG_IGNORE_REVOCATION | SECURITY_FLAG_IGNORE_UNKNOWN_CA;

std::string SoapActionLine() {
  return "SOAPAction: \"" + RegistryMock::BuildServiceNamespace() + "/rgWsPublicAfmMethod\"";
}

enum class SendMode { OnePiece, KnownLength };

struct Exchange {
  std::uint32_t sendError = 0;  // 0: the headers came back
  std::uint32_t status = 0;
  std::u16string statusText;
  std::optional<std::u16string> contentType;
  std::uint32_t contentTypeError = 0;
  std::string body;
  std::uint32_t readError = 0;
};

class Client {
 public:
  Client(std::u16string_view host, INTERNET_PORT port,
         std::uint32_t accessType = INTERNET_OPEN_TYPE_PRECONFIG, std::u16string_view proxy = u"",
         std::u16string_view bypass = u"", std::u16string_view user = u"",
         std::u16string_view password = u"") {
    FRoot.reset(InternetOpenW(kAgent, accessType, proxy, bypass, 0));
    EXPECT_TRUE(FRoot) << GetLastError();
    FConnect.reset(
        InternetConnectW(FRoot.get(), host, port, user, password, INTERNET_SERVICE_HTTP, 0, 0));
    EXPECT_TRUE(FConnect) << GetLastError();
  }

  UniqueInternetHandle Open(std::uint32_t flags) {
    UniqueInternetHandle request(
        HttpOpenRequestW(FConnect.get(), u"POST", kPath, u"", u"", nullptr, flags, 0));
    EXPECT_TRUE(request) << GetLastError();
    EXPECT_TRUE(HttpAddRequestHeadersW(request.get(), U(SoapActionLine()), HTTP_ADDREQ_FLAG_ADD));
    EXPECT_TRUE(HttpAddRequestHeadersW(request.get(), u"Content-Type: text/xml; charset=utf-8",
                                       HTTP_ADDREQ_FLAG_ADD));
    return request;
  }
  HINTERNET Connection() const { return FConnect.get(); }

 private:
  UniqueInternetHandle FRoot;
  UniqueInternetHandle FConnect;
};

bool Send(HINTERNET request, const std::string& body, SendMode mode) {
  if (mode == SendMode::OnePiece)
    return HttpSendRequestW(request, u"", body.data(), static_cast<std::uint32_t>(body.size()));
  INTERNET_BUFFERSW buffers;
  buffers.dwBufferTotal = static_cast<std::uint32_t>(body.size());
  if (!HttpSendRequestExW(request, &buffers, nullptr, 0, 0)) return false;
  constexpr std::size_t kChunk = 32768;
  for (std::size_t at = 0; at < body.size(); at += kChunk) {
    const std::uint32_t n = static_cast<std::uint32_t>(std::min(kChunk, body.size() - at));
    std::uint32_t written = 0;
    if (!InternetWriteFile(request, body.data() + at, n, written)) return false;
    EXPECT_EQ(written, n);
  }
  return HttpEndRequestW(request, nullptr, 0, 0);
}

// Reads what the web node reads of a response, in its order.
Exchange Receive(HINTERNET request) {
  Exchange x;
  std::uint32_t length = sizeof x.status;
  EXPECT_TRUE(HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &x.status,
                             length, nullptr));
  char16_t text[2048];
  length = sizeof text;
  if (HttpQueryInfoW(request, HTTP_QUERY_STATUS_TEXT, text, length, nullptr))
    x.statusText.assign(text, length / sizeof(char16_t));
  length = sizeof text;
  if (HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, text, length, nullptr))
    x.contentType.emplace(text, length / sizeof(char16_t));
  else
    x.contentTypeError = GetLastError();
  for (;;) {
    std::uint32_t available = 0;
    if (!InternetQueryDataAvailable(request, available, 0, 0)) {
      x.readError = GetLastError();
      break;
    }
    if (available == 0) break;
    std::string piece(available, '\0');
    std::uint32_t read = 0;
    if (!InternetReadFile(request, piece.data(), available, read)) {
      x.readError = GetLastError();
      break;
    }
    x.body.append(piece, 0, read);
  }
  return x;
}

Exchange Post(Client& client, const std::string& body, bool secure,
              SendMode mode = SendMode::OnePiece, std::uint32_t securityFlags = 0,
              std::uint32_t receiveTimeoutMs = 0, std::uint32_t extraFlags = 0) {
  UniqueInternetHandle request =
      client.Open(kPostFlags | extraFlags | (secure ? INTERNET_FLAG_SECURE : 0));
  if (securityFlags) {
    EXPECT_TRUE(InternetSetOptionW(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &securityFlags,
                                   sizeof securityFlags));
  }
  if (receiveTimeoutMs) {
    EXPECT_TRUE(InternetSetOptionW(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT,
                                   &receiveTimeoutMs, sizeof receiveTimeoutMs));
  }
  if (!Send(request.get(), body, mode)) {
    Exchange x;
    x.sendError = GetLastError();
    return x;
  }
  return Receive(request.get());
}

class HttpClientTest : public ::testing::Test {
 protected:
  testing::ScopedHttpClientTestSeam FSeam;
};

// ------------------------------------------------------------ the wire

TEST_F(HttpClientTest, RequestOnTheWireIsExactlyWhatTheCallerGave) {
  struct Case {
    bool tls;
    SendMode mode;
    std::size_t size;
  };
  for (const Case c : {Case{true, SendMode::OnePiece, 0}, Case{true, SendMode::OnePiece, 32768},
                       Case{true, SendMode::KnownLength, 32769}, Case{false, SendMode::OnePiece, 0},
                       Case{false, SendMode::KnownLength, 100000}}) {
    SCOPED_TRACE(::testing::Message() << "tls " << c.tls << " size " << c.size);
    RegistryMockOptions options;
    options.tls = c.tls;
    RegistryMock mock(options);
    testing::TrustAuthorityFile(mock.AuthorityFile());
    Client client(u"127.0.0.1", mock.Port());
    const std::string body = Envelope("094019245", c.size);
    const Exchange x = Post(client, body, c.tls, c.mode);
    ASSERT_EQ(x.sendError, 0u);
    EXPECT_EQ(x.status, 200u);
    EXPECT_EQ(x.contentType, u"text/xml; charset=utf-8");
    EXPECT_EQ(x.readError, 0u);
    EXPECT_NE(x.body.find("<srvc:afm>094019245</srvc:afm>"), std::string::npos);

    const auto requests = mock.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw,
              "POST /webtax2/wsgsis/RgWsPublic/RgWsPublicPort HTTP/1.1\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(mock.Port()) +
                  "\r\n"
                  "User-Agent: Corvane SOAP 1.3\r\n" +
                  SoapActionLine() +
                  "\r\n"
                  "Content-Type: text/xml; charset=utf-8\r\n"
                  "Content-Length: " +
                  std::to_string(body.size()) + "\r\n\r\n" + body);
  }
}

TEST_F(HttpClientTest, HeaderLinesKeepTheirFormIncludingEmptyValues) {
  RegistryMockOptions options;
  options.tls = false;
  RegistryMock mock(options);
  Client client(u"127.0.0.1", mock.Port());
  UniqueInternetHandle request(
      HttpOpenRequestW(client.Connection(), u"POST", kPath, u"", u"", nullptr, kPostFlags, 0));
  ASSERT_TRUE(request);
  EXPECT_TRUE(HttpAddRequestHeadersW(request.get(), u"SOAPAction:", HTTP_ADDREQ_FLAG_ADD));
  EXPECT_TRUE(HttpAddRequestHeadersW(request.get(), u"X-One: \"\"\"a\"\"\"\r\nX-Two:b",
                                     HTTP_ADDREQ_FLAG_ADD));
  EXPECT_FALSE(HttpAddRequestHeadersW(request.get(), u"no colon here", HTTP_ADDREQ_FLAG_ADD));
  EXPECT_EQ(GetLastError(), ERROR_HTTP_INVALID_HEADER);
  ASSERT_TRUE(HttpSendRequestW(request.get(), u"", "x", 1));
  const auto requests = mock.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& raw = requests[0].raw;
  EXPECT_NE(
      raw.find("\r\nSOAPAction:\r\nX-One: \"\"\"a\"\"\"\r\nX-Two:b\r\nContent-Length: 1\r\n\r\nx"),
      std::string::npos)
      << raw;
  EXPECT_FALSE(requests[0].HasHeader("Accept"));
  EXPECT_FALSE(requests[0].HasHeader("Expect"));
  EXPECT_FALSE(requests[0].HasHeader("Content-Type"));
}

TEST_F(HttpClientTest, OneConnectionHandleKeepsItsConnectionAndSessionsAreResumedAcrossHandles) {
  RegistryMock mock;
  testing::TrustAuthorityFile(mock.AuthorityFile());
  {
    Client first(u"127.0.0.1", mock.Port());
    EXPECT_EQ(Post(first, Envelope("094019245"), true).status, 200u);
    EXPECT_EQ(Post(first, Envelope("998877665"), true).status, 200u);
    EXPECT_EQ(mock.ConnectionCount(), 1);
  }
  Client second(u"127.0.0.1", mock.Port());
  EXPECT_EQ(Post(second, Envelope("123456783"), true).status, 200u);
  EXPECT_EQ(mock.ConnectionCount(), 2);
  const auto requests = mock.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].connection, 1);
  EXPECT_EQ(requests[2].connection, 2);
  EXPECT_FALSE(requests[0].tlsResumed);
  EXPECT_TRUE(requests[2].tlsResumed) << "a second transport object pays a full handshake";
}

// ------------------------------------------------------------ certificates

TEST_F(HttpClientTest, CertificatesAreVerifiedUnlessTheCallerIgnoresExactlyThatProblem) {
  struct Case {
    const char* name;
    bool trust;
    bool expired;
    const char16_t* host;
    std::uint32_t openFlags;
    std::uint32_t securityFlags;
    std::uint32_t expected;  // 0: the call goes through
  };
  constexpr std::uint32_t kCn = INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
  constexpr std::uint32_t kDate = INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
  const Case cases[] = {
      {"trusted", true, false, u"127.0.0.1", 0, 0, 0},
      {"service host", true, false, nullptr, 0, 0, 0},
      {"unknown authority", false, false, u"127.0.0.1", 0, 0, ERROR_INTERNET_INVALID_CA},
      {"unknown authority ignored", false, false, u"127.0.0.1", 0, kIgnoreAll, 0},
      {"unknown authority, dates ignored", false, false, u"127.0.0.1", kDate, 0,
       ERROR_INTERNET_INVALID_CA},
      {"wrong name", true, false, u"wrong-name.example", 0, 0, ERROR_INTERNET_SEC_CERT_CN_INVALID},
      {"wrong name ignored", true, false, u"wrong-name.example", kCn, 0, 0},
      {"wrong name, authority ignored", false, false, u"wrong-name.example", 0, kIgnoreAll,
       ERROR_INTERNET_SEC_CERT_CN_INVALID},
      {"expired", true, true, u"127.0.0.1", 0, 0, ERROR_INTERNET_SEC_CERT_DATE_INVALID},
      {"expired ignored", true, true, u"127.0.0.1", kDate, 0, 0},
      {"everything ignored", false, true, u"wrong-name.example", kCn | kDate, kIgnoreAll, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ResetHttpClientTestSeam();
    RegistryMockOptions options;
    options.expiredCertificate = c.expired;
    RegistryMock mock(options);
    if (c.trust) testing::TrustAuthorityFile(mock.AuthorityFile());
    const std::u16string host = c.host ? std::u16string(c.host) : U(RegistryMock::ServiceHost());
    testing::RouteToLoopback(test::Utf8(host), mock.Port(), mock.Port());
    Client client(host, mock.Port());
    const Exchange x = Post(client, Envelope("094019245"), true, SendMode::OnePiece,
                            c.securityFlags, 0, c.openFlags);
    EXPECT_EQ(x.sendError, c.expected);
    if (c.expected == 0) {
      EXPECT_EQ(x.status, 200u);
    }
    if (x.sendError) {
      EXPECT_FALSE(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE,
                                  u"wininet.dll", x.sendError, 0, 256)
                       .empty());
    }
  }
}

// The verification store is built once and shared by later connections:
// sharing must neither lose the trusted authority nor lend it to a server it
// did not sign, and a new set of authorities must take effect.
TEST_F(HttpClientTest, SharedTrustStoreKeepsVerifyingAcrossConnections) {
  RegistryMock trusted;
  RegistryMock stranger;
  testing::TrustAuthorityFile(trusted.AuthorityFile());
  testing::RouteToLoopback("wrong-name.example", trusted.Port(), trusted.Port());
  auto post = [](std::u16string_view host, INTERNET_PORT port) {
    Client client(host, port);
    return Post(client, Envelope("094019245"), true).sendError;
  };
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(post(u"127.0.0.1", trusted.Port()), 0u);
    EXPECT_EQ(post(u"127.0.0.1", stranger.Port()), ERROR_INTERNET_INVALID_CA);
    EXPECT_EQ(post(u"wrong-name.example", trusted.Port()), ERROR_INTERNET_SEC_CERT_CN_INVALID);
  }
  EXPECT_EQ(trusted.ConnectionCount(), 6);
  testing::TrustAuthorityFile(stranger.AuthorityFile());
  EXPECT_EQ(post(u"127.0.0.1", stranger.Port()), 0u);
}

TEST_F(HttpClientTest, UnknownAuthorityCanBeAcceptedOnTheSameRequestByAddingTheFlag) {
  RegistryMock mock;
  Client client(u"127.0.0.1", mock.Port());
  UniqueInternetHandle request = client.Open(kPostFlags | INTERNET_FLAG_SECURE);
  const std::string body = Envelope("094019245");
  ASSERT_FALSE(Send(request.get(), body, SendMode::OnePiece));
  ASSERT_EQ(GetLastError(), ERROR_INTERNET_INVALID_CA);
  std::uint32_t flags = 0, length = sizeof flags;
  ASSERT_TRUE(InternetQueryOptionW(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, length));
  EXPECT_EQ(flags, SECURITY_FLAG_SECURE);
  flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  ASSERT_TRUE(
      InternetSetOptionW(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof flags));
  ASSERT_TRUE(Send(request.get(), body, SendMode::OnePiece)) << GetLastError();
  EXPECT_EQ(Receive(request.get()).status, 200u);
}

TEST_F(HttpClientTest, ClientCertificateFromThePersonalStoreBySerialNumber) {
  RegistryMockOptions options;
  options.requireClientCertificate = true;
  RegistryMock mock(options);
  testing::TrustAuthorityFile(mock.AuthorityFile());

  const std::filesystem::path config =
      std::filesystem::path(mock.AuthorityFile()).parent_path() / "config";
  const std::filesystem::path certs = config / "delvan" / "certs";
  std::filesystem::create_directories(certs);
  using File = RegistryMock::ClientFileFormat;
  mock.WriteClientCertificate((certs / "a-other.pem").string(), 0x77);
  mock.WriteClientCertificate((certs / "b-mine.pem").string(), 0x1A2B3C4D5E);
  mock.WriteClientCertificate((certs / "c-bundle.p12").string(), 0xC0FFEE, File::Pkcs12);
  mock.WriteClientCertificate((certs / "d-nokey.pem").string(), 0xDEAD, File::PemWithoutKey);
  std::ofstream(certs / "e-broken.pem") << "-----BEGIN CERTIFICATE-----\nAAAA\n";
  std::ofstream(certs / "f-notes.txt") << "not a certificate";
  ScopedEnv xdg("XDG_CONFIG_HOME", config.string());

  Client client(u"127.0.0.1", mock.Port());
  UniqueInternetHandle request = client.Open(kPostFlags | INTERNET_FLAG_SECURE);
  const std::string body = Envelope("094019245");
  ASSERT_FALSE(Send(request.get(), body, SendMode::OnePiece));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED);

  UniqueCertStore store(CertOpenSystemStoreW(0, u"MY"));
  ASSERT_TRUE(store);
  std::vector<std::string> serials;
  UniqueCertContext mine, keyless;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store.get(), nullptr); c;
       c = CertEnumCertificatesInStore(store.get(), c)) {
    std::string hex;
    for (std::uint8_t b : CertGetSerialNumber(c)) {
      hex += "0123456789ABCDEF"[b >> 4];
      hex += "0123456789ABCDEF"[b & 15];
    }
    if (hex == "1A2B3C4D5E") mine.reset(CertDuplicateCertificateContext(c));
    if (hex == "DEAD") keyless.reset(CertDuplicateCertificateContext(c));
    serials.push_back(hex);
  }
  EXPECT_EQ(serials, (std::vector<std::string>{"77", "1A2B3C4D5E", "C0FFEE", "DEAD"}));
  ASSERT_TRUE(mine && keyless);
  store.reset();  // the chosen certificates outlive their store
  EXPECT_FALSE(
      InternetSetOptionW(request.get(), INTERNET_OPTION_CLIENT_CERT_CONTEXT, keyless.get(), 20));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_CLIENT_AUTH_NOT_SETUP);
  ASSERT_TRUE(
      InternetSetOptionW(request.get(), INTERNET_OPTION_CLIENT_CERT_CONTEXT, mine.get(), 20));
  EXPECT_TRUE(Send(request.get(), body, SendMode::OnePiece)) << GetLastError();

  // Picked by index among the certificates with a key: 2 is the PKCS#12 one.
  UniqueInternetHandle picked = client.Open(kPostFlags | INTERNET_FLAG_SECURE);
  const std::uint32_t index = 2;
  ASSERT_TRUE(InternetSetOptionW(picked.get(), INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, &index,
                                 sizeof index));
  EXPECT_TRUE(Send(picked.get(), body, SendMode::OnePiece)) << GetLastError();
}

// ------------------------------------------------------------ failures

TEST_F(HttpClientTest, ServerMisbehaviourReadsAsStatusOrPlatformError) {
  struct Case {
    const char* name;
    Behaviour behaviour;
    std::uint32_t sendError;
    std::uint32_t status;
    std::uint32_t contentTypeError;
    std::uint32_t readError;
  };
  const Case cases[] = {
      {"fault", Behaviour::Normal, 0, 500, 0, 0},
      {"not found", Behaviour::NotFound, 0, 404, 0, 0},
      {"no content type", Behaviour::NoContentType, 0, 200, ERROR_HTTP_HEADER_NOT_FOUND, 0},
      {"slow", Behaviour::Slow, ERROR_INTERNET_TIMEOUT, 0, 0, 0},
      {"truncated", Behaviour::TruncatedBody, 0, 200, 0, ERROR_INTERNET_CONNECTION_ABORTED},
      {"reset", Behaviour::ConnectionReset, ERROR_INTERNET_CONNECTION_RESET, 0, 0, 0},
      {"huge", Behaviour::Huge, 0, 200, 0, ERROR_HTTP_RESPONSE_TOO_LARGE},
      {"huge, no length", Behaviour::HugeChunked, 0, 200, 0, ERROR_HTTP_RESPONSE_TOO_LARGE},
      {"redirect", Behaviour::Redirect, 0, 302, 0, 0},
  };
  for (const bool tls : {true, false}) {
    RegistryMockOptions options;
    options.tls = tls;
    RegistryMock mock(options);
    testing::TrustAuthorityFile(mock.AuthorityFile());
    mock.SetDelay(std::chrono::seconds(20));
    mock.SetHugeSize(kMaxResponseBodySize + 65536);
    Client client(u"127.0.0.1", mock.Port());
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << c.name << (tls ? " over TLS" : ""));
      mock.SetBehaviour(c.behaviour);
      const auto start = std::chrono::steady_clock::now();
      const Exchange x = Post(client, Envelope(c.status == 500 ? "000000000" : "094019245"), tls,
                              SendMode::OnePiece, 0, c.behaviour == Behaviour::Slow ? 500 : 0);
      EXPECT_EQ(x.sendError, c.sendError);
      EXPECT_EQ(x.status, c.status);
      EXPECT_EQ(x.contentTypeError, c.contentTypeError);
      EXPECT_EQ(x.readError, c.readError);
      // Nothing waits for the server's 20 s delay.
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
      if (c.status == 404) {
        EXPECT_EQ(x.statusText, u"Not Found");
      }
      if (c.status == 500) {
        EXPECT_NE(x.body.find("<faultstring>"), std::string::npos);
      }
      if (c.readError == ERROR_HTTP_RESPONSE_TOO_LARGE) {
        EXPECT_LE(x.body.size(), kMaxResponseBodySize);
      }
      // The connection handle recovers: the next call goes through.
      mock.SetBehaviour(Behaviour::Normal);
      EXPECT_EQ(Post(client, Envelope("094019245"), tls).status, 200u);
    }
    for (const auto& request : mock.Requests())
      EXPECT_EQ(request.target, "/webtax2/wsgsis/RgWsPublic/RgWsPublicPort")
          << "a redirect was followed";
  }
}

TEST_F(HttpClientTest, QueryInfoFollowsTheBufferContract) {
  RegistryMockOptions options;
  options.tls = false;
  RegistryMock mock(options);
  Client client(u"127.0.0.1", mock.Port());
  UniqueInternetHandle request = client.Open(kPostFlags);
  const std::string body = Envelope("094019245");
  ASSERT_TRUE(Send(request.get(), body, SendMode::OnePiece));

  const std::u16string type = u"text/xml; charset=utf-8";
  char16_t text[64];
  std::uint32_t length = 4;
  EXPECT_FALSE(HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_TYPE, text, length, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, (type.size() + 1) * sizeof(char16_t));
  std::uint32_t index = 0;
  ASSERT_TRUE(HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_TYPE, text, length, &index));
  EXPECT_EQ(std::u16string(text, length / sizeof(char16_t)), type);
  EXPECT_EQ(text[type.size()], u'\0');
  EXPECT_EQ(index, 1u);
  length = sizeof text;
  EXPECT_FALSE(HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_TYPE, text, length, &index));
  EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);

  length = sizeof text;
  ASSERT_TRUE(HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE, text, length, nullptr));
  EXPECT_EQ(std::u16string(text, length / sizeof(char16_t)), u"200");
  std::uint32_t number = 0;
  length = 2;
  EXPECT_FALSE(HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                              &number, length, nullptr));
  EXPECT_EQ(length, 4u);
  ASSERT_TRUE(HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                             &number, length, nullptr));
  EXPECT_EQ(number, Receive(request.get()).body.size());
}

TEST_F(HttpClientTest, ConnectionAndProxyFailures) {
  RegistryMockOptions options;
  options.tls = false;
  RegistryMock mock(options);
  const INTERNET_PORT closed = ClosedPort();
  {
    Client client(u"127.0.0.1", closed);
    EXPECT_EQ(Post(client, Envelope("1"), false).sendError, ERROR_INTERNET_CANNOT_CONNECT);
  }
  const std::u16string deadProxy = u"127.0.0.1:" + rtl::IntToStr(closed);
  {
    // The environment's proxy variables route nothing.
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(closed);
    ScopedEnv http("http_proxy", proxyUrl), https("https_proxy", proxyUrl),
        all("ALL_PROXY", proxyUrl);
    Client client(u"127.0.0.1", mock.Port());
    EXPECT_EQ(Post(client, Envelope("094019245"), false).status, 200u);
  }
  {
    Client viaDeadProxy(u"127.0.0.1", mock.Port(), INTERNET_OPEN_TYPE_PROXY, deadProxy);
    EXPECT_EQ(Post(viaDeadProxy, Envelope("1"), false).sendError,
              ERROR_INTERNET_PROXY_SERVER_UNREACHABLE);
  }
  {
    Client bypassed(u"127.0.0.1", mock.Port(), INTERNET_OPEN_TYPE_PROXY, deadProxy,
                    u"<local>; 127.0.0.*");
    EXPECT_EQ(Post(bypassed, Envelope("094019245"), false).status, 200u);
  }
  {
    // The mock stands in as the proxy: the request names the origin server.
    Client viaProxy(u"registry.invalid", 8080, INTERNET_OPEN_TYPE_PROXY,
                    u"https=127.0.0.1:1 http=127.0.0.1:" + rtl::IntToStr(mock.Port()));
    Post(viaProxy, Envelope("094019245"), false);
    const auto requests = mock.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().target,
              "http://registry.invalid:8080/webtax2/wsgsis/RgWsPublic/RgWsPublicPort");
  }
}

TEST_F(HttpClientTest, CredentialsAnswerAChallengeAndTheBodyGoesAgain) {
  RegistryMock mock;
  testing::TrustAuthorityFile(mock.AuthorityFile());
  mock.SetBehaviour(Behaviour::BasicAuth);
  const std::string body = Envelope("094019245");
  {
    Client anonymous(u"127.0.0.1", mock.Port());
    EXPECT_EQ(Post(anonymous, body, true).status, 401u);
  }
  Client client(u"127.0.0.1", mock.Port(), INTERNET_OPEN_TYPE_PRECONFIG, u"", u"", u"USER",
                u"secret");
  const Exchange x = Post(client, body, true);
  EXPECT_EQ(x.status, 200u);
  EXPECT_NE(x.body.find("<srvc:afm>094019245</srvc:afm>"), std::string::npos);
  const auto requests = mock.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_FALSE(requests[1].HasHeader("Authorization")) << "credentials go only where asked for";
  EXPECT_EQ(requests[2].Header("Authorization"), "Basic VVNFUjpzZWNyZXQ=");
  EXPECT_EQ(requests[2].body, body);
}

TEST_F(HttpClientTest, HandlesAreCheckedBeforeUse) {
  UniqueInternetHandle root(InternetOpenW(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, u"", u"", 0));
  ASSERT_TRUE(root);
  EXPECT_EQ(HttpOpenRequestW(root.get(), u"POST", kPath, u"", u"", nullptr, 0, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  EXPECT_EQ(InternetConnectW(root.get(), u"bad/host@x", 80, u"", u"", INTERNET_SERVICE_HTTP, 0, 0),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INVALID_URL);

  UniqueInternetHandle connect(InternetConnectW(root.get(), u"127.0.0.1", ClosedPort(), u"", u"",
                                                INTERNET_SERVICE_HTTP, 0, 0));
  ASSERT_TRUE(connect);
  // Handles inherit the time-outs of their parent; 0 stands for the default.
  const std::uint32_t connectTimeout = 1234;
  ASSERT_TRUE(
      InternetSetOptionW(connect.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout, 4));
  EXPECT_FALSE(
      InternetSetOptionW(connect.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout, 2));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_BAD_OPTION_LENGTH);
  HINTERNET request = HttpOpenRequestW(connect.get(), u"POST", kPath, u"", u"", nullptr, 0, 0);
  ASSERT_NE(request, nullptr);
  std::uint32_t value = 0, length = sizeof value;
  ASSERT_TRUE(InternetQueryOptionW(request, INTERNET_OPTION_CONNECT_TIMEOUT, &value, length));
  EXPECT_EQ(value, 1234u);
  length = sizeof value;
  ASSERT_TRUE(InternetQueryOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &value, length));
  EXPECT_EQ(value, kDefaultReceiveTimeoutMs);

  length = sizeof value;
  EXPECT_FALSE(HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value,
                              length, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  std::uint32_t written = 0;
  EXPECT_FALSE(InternetWriteFile(request, "x", 1, written));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);

  // A parent closed first leaves its child usable; a closed handle is refused.
  connect.reset();
  EXPECT_TRUE(HttpAddRequestHeadersW(request, u"X-A: 1", HTTP_ADDREQ_FLAG_ADD));
  EXPECT_TRUE(InternetCloseHandle(request));
  EXPECT_FALSE(InternetCloseHandle(request));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(HttpAddRequestHeadersW(request, u"X-A: 1", HTTP_ADDREQ_FLAG_ADD));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(HttpClientTest, KnownLengthSendChecksTheLength) {
  RegistryMockOptions options;
  options.tls = false;
  RegistryMock mock(options);
  Client client(u"127.0.0.1", mock.Port());
  UniqueInternetHandle request = client.Open(kPostFlags);
  INTERNET_BUFFERSW buffers;
  buffers.dwBufferTotal = 10;
  ASSERT_TRUE(HttpSendRequestExW(request.get(), &buffers, nullptr, 0, 0));
  std::uint32_t written = 0;
  EXPECT_FALSE(InternetWriteFile(request.get(), "12345678901", 11, written));
  EXPECT_TRUE(InternetWriteFile(request.get(), "12345", 5, written));
  EXPECT_FALSE(HttpEndRequestW(request.get(), nullptr, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
}

// ------------------------------------------------------------ texts and URLs

TEST_F(HttpClientTest, EveryErrorOfTheBackendHasItsOwnText) {
  for (std::uint32_t code :
       {ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_CANNOT_CONNECT,
        ERROR_INTERNET_CONNECTION_ABORTED, ERROR_INTERNET_CONNECTION_RESET,
        ERROR_HTTP_INVALID_SERVER_RESPONSE, ERROR_INTERNET_INVALID_CA,
        ERROR_INTERNET_SEC_CERT_CN_INVALID, ERROR_INTERNET_SEC_CERT_DATE_INVALID,
        ERROR_HTTP_HEADER_NOT_FOUND, ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED,
        ERROR_HTTP_RESPONSE_TOO_LARGE, ERROR_INTERNET_PROXY_SERVER_UNREACHABLE,
        ERROR_INTERNET_SECURITY_CHANNEL_ERROR}) {
    const UnicodeString text = FormatMessageW(0x1800, u"wininet.dll", code, 0, 256);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_NE(text.back(), u'\n');
  }
  EXPECT_EQ(FormatMessageW(0x1800, u"wininet.dll", ERROR_CANCELLED, 0, 256),
            u"The operation was cancelled by the user");
  EXPECT_TRUE(FormatMessageW(0x1800, u"wininet.dll", 12999, 0, 256).empty());
  EXPECT_TRUE(FormatMessageW(0x1800, u"wininet.dll", ERROR_INTERNET_TIMEOUT, 0, 8).empty());
}

TEST_F(HttpClientTest, CrackUrl) {
  struct Case {
    std::u16string url;
    bool ok;
    INTERNET_SCHEME scheme;
    std::u16string host;
    INTERNET_PORT port;
    std::u16string path;
  };
  const Case cases[] = {
      {u"https://rgws.example:443/webtax2/x", true, INTERNET_SCHEME_HTTPS, u"rgws.example", 443,
       u"/webtax2/x"},
      {u"https://rgws.example/p", true, INTERNET_SCHEME_HTTPS, u"rgws.example", 443, u"/p"},
      {u"http://rgws.example/p", true, INTERNET_SCHEME_HTTP, u"rgws.example", 80, u"/p"},
      {u"HTTP://Host:8080", true, INTERNET_SCHEME_HTTP, u"Host", 8080, u""},
      {u"http://user:pa:ss@host.example:81/a?b=c#d", true, INTERNET_SCHEME_HTTP, u"host.example",
       81, u"/a?b=c#d"},
      {u"http://[::1]:8443/v6", true, INTERNET_SCHEME_HTTP, u"::1", 8443, u"/v6"},
      {u"ftp://files.example/pub", true, INTERNET_SCHEME_FTP, u"files.example", 21, u"/pub"},
      {u"file:///etc/hosts", true, INTERNET_SCHEME_FILE, u"", 0, u"/etc/hosts"},
      {u"gopherx://x/y", true, INTERNET_SCHEME_UNKNOWN, u"x", 0, u"/y"},
      {u"rgws.example/path", false, INTERNET_SCHEME_DEFAULT, u"", 0, u""},
      {u"not a url", false, INTERNET_SCHEME_DEFAULT, u"", 0, u""},
      {u"", false, INTERNET_SCHEME_DEFAULT, u"", 0, u""},
      {u"http:no-slashes", false, INTERNET_SCHEME_DEFAULT, u"", 0, u""},
      {u"http://host:99999/", false, INTERNET_SCHEME_DEFAULT, u"", 0, u""},
      {u"http://host:8a/", false, INTERNET_SCHEME_DEFAULT, u"", 0, u""},
      {u"https:///path", false, INTERNET_SCHEME_DEFAULT, u"", 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Utf8(c.url));
    URL_COMPONENTSW parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = 1;
    const bool ok = InternetCrackUrlW(c.url.c_str(), 0, 0, parts);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(parts.nScheme, c.scheme);
    if (!ok) continue;
    EXPECT_EQ(std::u16string(parts.lpszHostName, parts.dwHostNameLength), c.host);
    EXPECT_EQ(parts.nPort, c.port);
    EXPECT_EQ(std::u16string(parts.lpszUrlPath, parts.dwUrlPathLength), c.path);
  }
  URL_COMPONENTSW extra;
  extra.dwUrlPathLength = extra.dwExtraInfoLength = extra.dwUserNameLength =
      extra.dwPasswordLength = 1;
  const std::u16string url = u"http://user:pa:ss@host/a?b#c";
  ASSERT_TRUE(InternetCrackUrlW(url.c_str(), static_cast<std::uint32_t>(url.size()), 0, extra));
  EXPECT_EQ(std::u16string(extra.lpszUrlPath, extra.dwUrlPathLength), u"/a");
  EXPECT_EQ(std::u16string(extra.lpszExtraInfo, extra.dwExtraInfoLength), u"?b#c");
  EXPECT_EQ(std::u16string(extra.lpszUserName, extra.dwUserNameLength), u"user");
  EXPECT_EQ(std::u16string(extra.lpszPassword, extra.dwPasswordLength), u"pa:ss");
}

}  // namespace
}  // namespace delvan::platform
