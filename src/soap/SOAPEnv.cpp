#include "soap/SOAPEnv.h"

#include "soap/SOAPConst.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

namespace {
UnicodeString EnvelopeNS(TSOAPConvertOptions options) {
  return UnicodeString(SOAPEnvelopeNamespaces[options.Contains(soSOAP12) ? 1 : 0]);
}

// "SOAP-ENV:" + local.
UnicodeString EnvName(std::u16string_view local) {
  UnicodeString name(SSoapNameSpacePre);
  name += u':';
  name += local;
  return name;
}
}  // namespace

IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeEnvelope(xml::IXMLDocument* Doc,
                                                   TSOAPConvertOptions Options) {
  IntfPtr<xml::IXMLNode> env = Doc->AddChild(EnvName(SSoapEnvelope), EnvelopeNS(Options));
  env->DeclareNamespace(UnicodeString(SXMLSchemaNameSpacePre), UnicodeString(XMLSchemaNameSpace));
  env->DeclareNamespace(UnicodeString(SXMLSchemaInstNameSpace99Pre),
                        UnicodeString(XMLSchemaInstNameSpace));
  if (!Options.Contains(soDocument))
    env->DeclareNamespace(
        UnicodeString(SSoapEncodingPre),
        UnicodeString(SOAPEncodingNamespaces[Options.Contains(soSOAP12) ? 1 : 0]));
  return env;
}

// The rpc/encoded style marks the Header with its encoding style.
IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeHeader(xml::IXMLNode* Envelope,
                                                 TSOAPConvertOptions Options) {
  const UnicodeString envNS = EnvelopeNS(Options);
  IntfPtr<xml::IXMLNode> header = Envelope->AddChild(EnvName(SSoapHeader), envNS, false);
  if (!Options.Contains(soDocument) && !Options.Contains(soLiteralParams))
    header->SetAttributeNS(
        UnicodeString(SSoapEncodingAttr), envNS,
        Variant(UnicodeString(SOAPEncodingNamespaces[Options.Contains(soSOAP12) ? 1 : 0])));
  return header;
}

IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeBody(xml::IXMLNode* Envelope,
                                               TSOAPConvertOptions Options) {
  return Envelope->AddChild(EnvName(SSoapBody), EnvelopeNS(Options), false);
}

IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeFault(xml::IXMLNode* Parent,
                                                TSOAPConvertOptions Options) {
  return Parent->AddChild(EnvName(SSoapFault), EnvelopeNS(Options), false);
}

}  // namespace delvan::soap
