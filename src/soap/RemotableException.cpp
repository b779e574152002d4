#include "soap/RemotableException.h"

namespace delvan::soap {

ERemotableException::ERemotableException(UnicodeString message, UnicodeString faultCode,
                                         UnicodeString faultActor, UnicodeString faultReasonLang,
                                         UnicodeString faultNode, UnicodeString faultRole)
    : Exception(std::move(message)),
      FFaultActor(std::move(faultActor)),
      FFaultCode(std::move(faultCode)),
      FFaultReasonLang(std::move(faultReasonLang)),
      FFaultNode(std::move(faultNode)),
      FFaultRole(std::move(faultRole)) {}

constinit const TClass ERemotableException::StaticClass =
    rtl::DefineClass<ERemotableException, TObject>(ERemotableException::StaticClass,
                                                   u"ERemotableException", u"Soap.InvokeRegistry");

}  // namespace delvan::soap
