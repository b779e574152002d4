#include "RegistryMock.h"

#include <gtest/gtest.h>

#include <string>

#include "RegistryService.h"
#include "TestSupport.h"

namespace delvan::registrymock {
namespace {

std::string Request(std::string_view afm, std::string_view user = "USER",
                    std::string_view password = "secret") {
  return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
         "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
         "<SOAP-ENV:Header><SOAP-ENV:Security><SOAP-ENV:UsernameToken><SOAP-ENV:Username>" +
         std::string(user) + "</SOAP-ENV:Username><SOAP-ENV:Password>" + std::string(password) +
         "</SOAP-ENV:Password></SOAP-ENV:UsernameToken></SOAP-ENV:Security></SOAP-ENV:Header>"
         "<SOAP-ENV:Body><ns1:rgWsPublicAfmMethod xmlns:ns1=\"urn:x\"><RgWsPublicInputRt_in>"
         "<ns1:afmCalledBy>012345678</ns1:afmCalledBy><ns1:afmCalledFor>" +
         std::string(afm) +
         "</ns1:afmCalledFor></RgWsPublicInputRt_in></ns1:rgWsPublicAfmMethod></SOAP-ENV:Body></"
         "SOAP-ENV:Envelope>";
}

ServiceSettings Settings() { return {RegistryMock::BuildServiceNamespace(), "USER", "secret"}; }

std::string Action() {
  // Appended piecewise: GCC 12 warns falsely (-Wrestrict) on "\"" + string.
  std::string action(1, '"');
  action.append(RegistryMock::BuildServiceNamespace()).append("/rgWsPublicAfmMethod\"");
  return action;
}

TEST(RegistryMock, KnownCompanyIsAnsweredAsTheFixture) {
  std::string expected = test::ReadFixture("service/typical_response.xml");
  const std::string placeholder = "@SERVICE_NAMESPACE@";
  expected.replace(expected.find(placeholder), placeholder.size(),
                   RegistryMock::BuildServiceNamespace());
  const ServiceAnswer answer = AnswerRequest(Settings(), Action(), Request("094019245"));
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.contentType, "text/xml; charset=utf-8");
  EXPECT_EQ(answer.body, expected);
}

TEST(RegistryMock, AnswersByNumberAndRefusesWithFaults) {
  struct Case {
    const char* name;
    std::optional<std::string> action;
    std::string body;
    int status;
    std::string contains;
  };
  const Case cases[] = {
      {"record with dates", Action(), Request(" 998877665 "), 200,
       "<srvc:stopDate>2018-06-30T00:00:00+03:00</srvc:stopDate>"},
      {"escaped name", std::nullopt, Request("123456783"), 200,
       "<srvc:onomasia>ΚΡΗΤΙΚΑ ΕΔΕΣΜΑΤΑ &lt;ΜΙΝΩΣ&gt; &amp; ΣΙΑ Ο.Ε.</srvc:onomasia>"},
      {"unknown number", Action(), Request("111111111"), 200,
       "<srvc:errorCode>RG_WS_PUBLIC_TAXPAYER_NOT_FOUND</srvc:errorCode>"},
      {"malformed number", Action(), Request("12345"), 200,
       "<srvc:errorCode>RG_WS_PUBLIC_WRONG_AFM</srvc:errorCode>"},
      {"server fault", Action(), Request("000000000"), 500, "<faultcode>env:Server</faultcode>"},
      {"user name not upper-cased", Action(), Request("094019245", "user"), 500,
       "<faultstring>Authentication failed: wrong user name or password</faultstring>"},
      {"wrong password", Action(), Request("094019245", "USER", "Secret"), 500,
       "<faultcode>env:Client</faultcode>"},
      {"wrong action", "\"urn:other/rgWsPublicAfmMethod\"", Request("094019245"), 500,
       "Unknown SOAPAction"},
      {"no operation", Action(), "<Envelope/>", 500, "no rgWsPublicAfmMethod call"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ServiceAnswer answer = AnswerRequest(Settings(), c.action, c.body);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_NE(answer.body.find(c.contains), std::string::npos) << answer.body;
  }
  const ServiceAnswer many = AnswerRequest(Settings(), Action(), Request("123456783"));
  std::size_t activities = 0;
  for (std::size_t at = many.body.find("<srvc:RgWsPublicFirmActRtUser>"); at != std::string::npos;
       at = many.body.find("<srvc:RgWsPublicFirmActRtUser>", at + 1))
    ++activities;
  EXPECT_EQ(activities, 4u);
}

TEST(RegistryMock, ElementTextReadsTolerantly) {
  struct Case {
    std::string xml;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {"<a><p:Username>X</p:Username></a>", "X"},
      {"<Username a=\"1>2\" b='x'>Y&amp;&lt;&#x3A9;&#937;</Username>", "Y&<ΩΩ"},
      {"<UsernameToken><Username/></UsernameToken>", ""},
      {"<User>no</User>", std::nullopt},
      {"<Username>unterminated", std::nullopt},
      {"<Username>&bogus; &#xZZ;</Username>", "&bogus; &#xZZ;"},
  };
  for (const Case& c : cases) EXPECT_EQ(ElementText(c.xml, "Username"), c.text) << c.xml;
}

}  // namespace
}  // namespace delvan::registrymock
