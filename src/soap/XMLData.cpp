#include "soap/XMLData.h"

namespace delvan::soap {

constinit const TClass TXMLData::StaticClass = rtl::DefineClass<TXMLData, TRemotable>(
    TXMLData::StaticClass, u"TXMLData", u"Soap.InvokeRegistry");

}  // namespace delvan::soap
