// The credentials block: names, namespace, case rule and decoding.
#include "service/CredentialsHeader.h"

#include <gtest/gtest.h>

#include "soap/SOAPConst.h"
#include "xml/XmlTestSupport.h"

namespace delvan::service {
namespace {

using test::U;
using test::Utf8;

TEST(CredentialsHeader, WritesSecurityUnderTheParentInItsNamespace) {
  test::EnsureDOMVendor();
  struct Case {
    std::string user, password;
    const char* username;  // what the service receives, UTF-8
    const char* pwd;
    std::string tokenXml;  // the token's content as saved
  } cases[] = {
      {"user1", "Pa&ss<w", "USER1", "Pa&ss<w",
       "<SOAP-ENV:Username>USER1</SOAP-ENV:Username>"
       "<SOAP-ENV:Password>Pa&amp;ss&lt;w</SOAP-ENV:Password>"},
      // Greek letters keep their case.
      {"ab\xce\xb3z", "\xce\x93x", "AB\xce\xb3Z", "\xce\x93x",
       "<SOAP-ENV:Username>AB\xce\xb3Z</SOAP-ENV:Username>"
       "<SOAP-ENV:Password>\xce\x93x</SOAP-ENV:Password>"},
      {"", "", "", "",
       "<SOAP-ENV:Username></SOAP-ENV:Username><SOAP-ENV:Password></SOAP-ENV:Password>"},
      // Malformed UTF-8 reaches the service as U+FFFD.
      {"a\xff", "\xc3(", "A\xef\xbf\xbd", "\xef\xbf\xbd(",
       "<SOAP-ENV:Username>A\xef\xbf\xbd</SOAP-ENV:Username>"
       "<SOAP-ENV:Password>\xef\xbf\xbd(</SOAP-ENV:Password>"},
  };
  for (const Case& c : cases) {
    IntfPtr<xml::IXMLDocument> doc = xml::NewXMLDocument();
    const UnicodeString envNS(soap::SOAPEnvelopeNamespaces[0]);
    IntfPtr<xml::IXMLNode> header =
        doc->AddChild(u"SOAP-ENV:Envelope", envNS)->AddChild(u"SOAP-ENV:Header", envNS);
    AFMCredentialsHeader cred;
    cred.usr(AnsiString(c.user, platform::CP_UTF8));
    cred.pwd(AnsiString(c.password, platform::CP_ACP));  // the label is not consulted
    UnicodeString ref = u"x";
    IntfPtr<xml::IXMLNode> node = cred.ObjectToSOAP(header.get(), header.get(), nullptr, u"Ignored",
                                                    u"urn:ignored", u"urn:ignored", {}, ref);
    EXPECT_FALSE(node);
    EXPECT_EQ(ref, u"");
    IntfPtr<xml::IXMLNode> token = header->GetChildNodes()->First()->GetChildNodes()->First();
    EXPECT_EQ(token->GetNamespaceURI(), envNS);
    EXPECT_EQ(Utf8(token->GetChildNodes()->Get(0)->GetText()), c.username);
    EXPECT_EQ(Utf8(token->GetChildNodes()->Get(1)->GetText()), c.pwd);
    const std::string tag = "SOAP-ENV:UsernameToken";
    EXPECT_EQ(Utf8(header->GetXML()), "<SOAP-ENV:Header><SOAP-ENV:Security><" + tag + ">" +
                                          c.tokenXml + "</" + tag +
                                          "></SOAP-ENV:Security></SOAP-ENV:Header>");
    // Writing leaves the header as it was.
    EXPECT_EQ(cred.usr().Bytes(), c.user);
  }
}

}  // namespace
}  // namespace delvan::service
