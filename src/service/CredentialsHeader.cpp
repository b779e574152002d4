#include "service/CredentialsHeader.h"

#include "platform/CodePage.h"
#include "service/ServiceConstants.h"
#include "xml/XMLDoc.h"

namespace delvan::service {

constinit const TClass AFMCredentialsHeader::StaticClass =
    rtl::DefineClass<AFMCredentialsHeader, soap::TSOAPHeader>(
        AFMCredentialsHeader::StaticClass, u"AFMCredentialsHeader", ServiceUnitName);

constinit AFMCredentialsHeader* crheader = nullptr;

namespace {
// The fields hold UTF-8 whatever their label says; malformed bytes become U+FFFD.
UnicodeString FromUtf8(const AnsiString& text) {
  return platform::MultiByteToWideChar(platform::CP_UTF8, 0, text.Bytes());
}
}  // namespace

IntfPtr<xml::IXMLNode> AFMCredentialsHeader::ObjectToSOAP(
    xml::IXMLNode* /*RootNode*/, xml::IXMLNode* ParentNode, soap::IObjConverter* /*ObjConverter*/,
    const UnicodeString& /*NodeName*/, const UnicodeString& /*NodeNamespace*/,
    const UnicodeString& /*ChildNamespace*/, soap::TObjectConvertOptions /*ObjConvOpts*/,
    UnicodeString& RefID) {
  // The element names are made once: every request writes them.
  static const UnicodeString kSecurity(u"Security"), kToken(u"UsernameToken"),
      kUsername(u"Username"), kPassword(u"Password");
  IntfPtr<xml::IXMLNode> security = ParentNode->AddChild(kSecurity);
  IntfPtr<xml::IXMLNode> token = security->AddChild(kToken);
  token->AddChild(kUsername)->SetNodeValue(Variant(rtl::AsciiUpperCase(FromUtf8(FUsername))));
  token->AddChild(kPassword)->SetNodeValue(Variant(FromUtf8(FPassword)));
  RefID.clear();
  return {};
}

}  // namespace delvan::service
