// The request envelope writer of TOPToSoapDomConvert.
#include "soap/OPToSOAPDomConv.h"

namespace delvan::soap {

std::unique_ptr<TStream> TOPToSoapDomConvert::InvContextToMsg(const TIntfMetaData&, int,
                                                              TInvContext*, THeaderList*) {
  throw ESOAPDomConvertError(u"Not implemented");
}

}  // namespace delvan::soap
