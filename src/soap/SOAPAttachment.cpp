#include "soap/SOAPAttachment.h"

namespace delvan::soap {

constinit const TClass TSOAPAttachment::StaticClass = rtl::DefineClass<TSOAPAttachment, TRemotable>(
    TSOAPAttachment::StaticClass, u"TSOAPAttachment", u"Soap.InvokeRegistry");

}  // namespace delvan::soap
