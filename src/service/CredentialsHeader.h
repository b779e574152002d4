// The credentials header: the user name and password that every request of
// the lookup carries, and the one process-wide instance crheader.
#pragma once

#include "rtl/AnsiString.h"
#include "soap/SOAPHeader.h"

namespace delvan::service {

class AFMCredentialsHeader : public soap::TSOAPHeader {
  DELVAN_CLASS()

 public:
  // The bytes as the host passed them, labelled UTF-8.
  const AnsiString& usr() const { return FUsername; }
  void usr(AnsiString value) { FUsername = std::move(value); }
  const AnsiString& pwd() const { return FPassword; }
  void pwd(AnsiString value) { FPassword = std::move(value); }

  // Writes Security/UsernameToken with Username (the user name decoded
  // from UTF-8, ASCII letters upper-cased) and Password (decoded, unchanged)
  // under ParentNode, each added by name alone so that it takes the
  // parent's prefix and namespace. The other arguments are not used; RefID
  // is cleared and no node is returned.
  IntfPtr<xml::IXMLNode> ObjectToSOAP(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode,
                                      soap::IObjConverter* ObjConverter,
                                      const UnicodeString& NodeName,
                                      const UnicodeString& NodeNamespace,
                                      const UnicodeString& ChildNamespace,
                                      soap::TObjectConvertOptions ObjConvOpts,
                                      UnicodeString& RefID) override;

  AnsiString FUsername{std::string(), platform::CP_UTF8};
  AnsiString FPassword{std::string(), platform::CP_UTF8};
};

// The process-wide credentials header, created by the service binding's
// initialisation and kept until its finalisation; null outside that time.
// Shared by all calls; callers of the lookup serialise their calls.
extern AFMCredentialsHeader* crheader;

}  // namespace delvan::service
