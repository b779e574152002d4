// ERemotableException: the exception a SOAP fault becomes, with the fault's
// fields. It has a class descriptor, so that the type registry can map a
// fault's XML type to a class derived from it.
#pragma once

#include "rtl/Exception.h"
#include "rtl/TypInfo.h"

namespace delvan::soap {

class ERemotableException : public Exception, public TObject {
  DELVAN_CLASS()

 public:
  ERemotableException() = default;
  explicit ERemotableException(UnicodeString message, UnicodeString faultCode = {},
                               UnicodeString faultActor = {}, UnicodeString faultReasonLang = {},
                               UnicodeString faultNode = {}, UnicodeString faultRole = {});

  const UnicodeString& FaultActor() const { return FFaultActor; }
  void SetFaultActor(UnicodeString value) { FFaultActor = std::move(value); }
  const UnicodeString& FaultCode() const { return FFaultCode; }
  void SetFaultCode(UnicodeString value) { FFaultCode = std::move(value); }
  const UnicodeString& FaultDetail() const { return FFaultDetail; }
  void SetFaultDetail(UnicodeString value) { FFaultDetail = std::move(value); }
  const UnicodeString& FaultReasonLang() const { return FFaultReasonLang; }
  void SetFaultReasonLang(UnicodeString value) { FFaultReasonLang = std::move(value); }
  const UnicodeString& FaultNode() const { return FFaultNode; }
  void SetFaultNode(UnicodeString value) { FFaultNode = std::move(value); }
  const UnicodeString& FaultRole() const { return FFaultRole; }
  void SetFaultRole(UnicodeString value) { FFaultRole = std::move(value); }
  // Throws a copy of this exception as the class it is, so that a fault read
  // into a registered subclass leaves as that subclass. A subclass overrides
  // it with `throw *this;`.
  [[noreturn]] virtual void RaiseCopy() const { throw *this; }

  // The fault reason is the exception's message.
  const UnicodeString& FaultReason() const { return Message(); }
  void SetFaultReason(UnicodeString value) { SetMessage(std::move(value)); }

 private:
  UnicodeString FFaultActor;
  UnicodeString FFaultCode;
  UnicodeString FFaultDetail;
  UnicodeString FFaultReasonLang;
  UnicodeString FFaultNode;
  UnicodeString FFaultRole;
};

}  // namespace delvan::soap
