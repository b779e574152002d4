// The literal value writer of TSOAPDomConv.
#include "soap/SOAPDomConv.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

IntfPtr<xml::IXMLNode> TSOAPDomConv::ObjInstanceToSOAP(TObject*, xml::IXMLNode*, xml::IXMLNode*,
                                                       const UnicodeString&, const UnicodeString&,
                                                       const UnicodeString&,
                                                       TObjectConvertOptions, UnicodeString&) {
  throw ESOAPDomConvertError(u"Not implemented");
}

void TSOAPDomConv::ResetMultiRef() {}

}  // namespace delvan::soap
