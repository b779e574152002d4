// TSoapEnvelope: makes the Envelope, Header, Body and Fault elements of a
// message in the namespaces that the converter options select. Stateless.
#pragma once

#include "rtl/Interface.h"
#include "soap/ObjConverter.h"

namespace delvan::xml {
class IXMLDocument;
class IXMLNode;
}  // namespace delvan::xml

namespace delvan::soap {

inline constexpr std::u16string_view SSoapNameSpacePre = u"SOAP-ENV";
inline constexpr std::u16string_view SXMLSchemaNameSpacePre = u"xsd";
inline constexpr std::u16string_view SXMLSchemaInstNameSpace99Pre = u"xsi";
inline constexpr std::u16string_view SSoapEncodingPre = u"SOAP-ENC";
inline constexpr std::u16string_view SSoapEnvelope = u"Envelope";
inline constexpr std::u16string_view SSoapHeader = u"Header";
inline constexpr std::u16string_view SSoapBody = u"Body";
inline constexpr std::u16string_view SSoapFault = u"Fault";
inline constexpr std::u16string_view SSoapEncodingAttr = u"encodingStyle";

class TSoapEnvelope {
 public:
  // The elements are returned as new references; the document owns them.
  IntfPtr<xml::IXMLNode> MakeEnvelope(xml::IXMLDocument* Doc, TSOAPConvertOptions Options);
  IntfPtr<xml::IXMLNode> MakeHeader(xml::IXMLNode* Envelope, TSOAPConvertOptions Options);
  IntfPtr<xml::IXMLNode> MakeBody(xml::IXMLNode* Envelope, TSOAPConvertOptions Options);
  IntfPtr<xml::IXMLNode> MakeFault(xml::IXMLNode* Parent, TSOAPConvertOptions Options);
};

}  // namespace delvan::soap
