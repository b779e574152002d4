// The response envelope reader of TOPToSoapDomConvert.
#include "soap/OPToSOAPDomConv.h"

namespace delvan::soap {

void TOPToSoapDomConvert::ProcessResponse(TStream&, const TIntfMetaData&, const TIntfMethEntry&,
                                          TInvContext*, THeaderList*) {
  throw ESOAPDomConvertError(u"Not implemented");
}

void TOPToSoapDomConvert::ProcessResponse(const UnicodeString&, const TIntfMetaData&,
                                          const TIntfMethEntry&, TInvContext*) {
  throw ESOAPDomConvertError(u"Not implemented");
}

}  // namespace delvan::soap
