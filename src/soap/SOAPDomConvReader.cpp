// The literal value reader of TSOAPDomConv.
#include "soap/SOAPDomConv.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

void TSOAPDomConv::InitObjectFromSOAP(TObject*, xml::IXMLNode*, xml::IXMLNode*) {
  throw ESOAPDomConvertError(u"Not implemented");
}

}  // namespace delvan::soap
