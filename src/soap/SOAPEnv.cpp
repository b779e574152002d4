#include "soap/SOAPEnv.h"

#include "rtl/Exception.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

// Filled in by the request writer.
IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeEnvelope(xml::IXMLDocument*, TSOAPConvertOptions) {
  throw Exception(u"Not implemented");
}
IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeHeader(xml::IXMLNode*, TSOAPConvertOptions) {
  throw Exception(u"Not implemented");
}
IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeBody(xml::IXMLNode*, TSOAPConvertOptions) {
  throw Exception(u"Not implemented");
}
IntfPtr<xml::IXMLNode> TSoapEnvelope::MakeFault(xml::IXMLNode*, TSOAPConvertOptions) {
  throw Exception(u"Not implemented");
}

}  // namespace delvan::soap
