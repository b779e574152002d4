#include "soap/SOAPEnv.h"

#include "soap/SOAPConst.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

namespace {

// The envelope's names and namespaces, made once: every message asks for them.
struct TEnvTexts {
  UnicodeString EnvelopeNS[2], EncodingNS[2];
  UnicodeString Envelope, Header, Body, Fault;  // "SOAP-ENV:" + local
  UnicodeString XsdPrefix, XsdNS, XsiPrefix, XsiNS, EncodingPrefix, EncodingAttr;
};

UnicodeString EnvName(std::u16string_view local) {
  UnicodeString name(SSoapNameSpacePre);
  name += u':';
  name += local;
  return name;
}

const TEnvTexts& Texts() {
  static const TEnvTexts texts{
      {UnicodeString(SOAPEnvelopeNamespaces[0]), UnicodeString(SOAPEnvelopeNamespaces[1])},
      {UnicodeString(SOAPEncodingNamespaces[0]), UnicodeString(SOAPEncodingNamespaces[1])},
      EnvName(SSoapEnvelope),
      EnvName(SSoapHeader),
      EnvName(SSoapBody),
      EnvName(SSoapFault),
      UnicodeString(SXMLSchemaNameSpacePre),
      UnicodeString(XMLSchemaNameSpace),
      UnicodeString(SXMLSchemaInstNameSpace99Pre),
      UnicodeString(XMLSchemaInstNameSpace),
      UnicodeString(SSoapEncodingPre),
      UnicodeString(SSoapEncodingAttr)};
  return texts;
}

const UnicodeString& EnvelopeNS(TSOAPConvertOptions options) {
  return Texts().EnvelopeNS[options.Contains(soSOAP12) ? 1 : 0];
}

const UnicodeString& EncodingNS(TSOAPConvertOptions options) {
  return Texts().EncodingNS[options.Contains(soSOAP12) ? 1 : 0];
}

}  // namespace

IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeEnvelope(xml::IXMLDocument* Doc,
                                                   TSOAPConvertOptions Options) {
  const TEnvTexts& t = Texts();
  IntfPtr<xml::IXMLNode> env = Doc->AddChild(t.Envelope, EnvelopeNS(Options));
  env->DeclareNamespace(t.XsdPrefix, t.XsdNS);
  env->DeclareNamespace(t.XsiPrefix, t.XsiNS);
  if (!Options.Contains(soDocument)) env->DeclareNamespace(t.EncodingPrefix, EncodingNS(Options));
  return env;
}

// The rpc/encoded style marks the Header with its encoding style.
IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeHeader(xml::IXMLNode* Envelope,
                                                 TSOAPConvertOptions Options) {
  const UnicodeString& envNS = EnvelopeNS(Options);
  IntfPtr<xml::IXMLNode> header = Envelope->AddChild(Texts().Header, envNS, false);
  if (!Options.Contains(soDocument) && !Options.Contains(soLiteralParams))
    header->SetAttributeNS(Texts().EncodingAttr, envNS, Variant(EncodingNS(Options)));
  return header;
}

IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeBody(xml::IXMLNode* Envelope,
                                               TSOAPConvertOptions Options) {
  return Envelope->AddChild(Texts().Body, EnvelopeNS(Options), false);
}

IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeFault(xml::IXMLNode* Parent,
                                                TSOAPConvertOptions Options) {
  return Parent->AddChild(Texts().Fault, EnvelopeNS(Options), false);
}

}  // namespace delvan::soap
