#include "soap/SOAPHeader.h"

namespace delvan::soap {

constinit const TClass TSOAPHeader::StaticClass = rtl::DefineClass<TSOAPHeader, TRemotable>(
    TSOAPHeader::StaticClass, u"TSOAPHeader", u"Soap.InvokeRegistry");

}  // namespace delvan::soap
