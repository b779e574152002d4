#include "service/ServiceBinding.h"

#include <mutex>

#include "service/CredentialsHeader.h"
#include "service/ProxyFactory.h"
#include "service/RgWsPublic.h"
#include "service/ServiceConstants.h"
#include "soap/InvokeRegistry.h"
#include "soap/TypeRegistry.h"

namespace delvan::service {

namespace {
std::mutex gInitLock;
constinit int gInitCount = 0;

// "[Namespace="<service namespace>"]", with further attributes after it.
UnicodeString NamespaceAttribute(UnicodeStringView more = {}) {
  UnicodeString text = u"[Namespace=\"" + UnicodeString(ServiceNamespace) + u'"';
  text += more;
  return text + u']';
}

// Tells the SOAP layer how the service contract looks on the wire. The
// order of the registrations is part of the contract: the first name
// registered for a type is the one written.
void RegisterService() {
  using namespace soap;
  TInvokableClassRegistry& inv = InvRegistry();
  const rtl::TTypeInfo* intf = &TypeInfo_RgWsPublic;
  inv.RegisterInterface(intf, ServiceNamespace, u"UTF-8", u"", u"");
  inv.RegisterDefaultSOAPAction(intf, UnicodeString(ServiceNamespace) + u"/%operationName%");
  inv.RegisterInvokeOptions(intf, ioLiteral);

  static constexpr UnicodeStringView kMethod = u"rgWsPublicAfmMethod";
  inv.RegisterParamInfo(intf, kMethod, u"RgWsPublicInputRt_in", u"", NamespaceAttribute(), 0);
  inv.RegisterParamInfo(intf, kMethod, u"RgWsPublicBasicRt_out", u"", NamespaceAttribute(), 0);
  inv.RegisterParamInfo(intf, kMethod, u"arrayOfRgWsPublicFirmActRt_out", u"",
                        NamespaceAttribute(u", ArrayItemName=\"RgWsPublicFirmActRtUser\""), 0);
  inv.RegisterParamInfo(intf, kMethod, u"pErrorRec_out", u"", NamespaceAttribute(), 0);

  TRemotableTypeRegistry& rem = RemClassRegistry();
  auto cls = [&](const TClass& c) {
    rem.RegisterXSClass(&c, ServiceNamespace, c.ClassName(), u"", false, ocDefault);
  };
  cls(RgWsPublicFirmActRtBase::StaticClass);
  rem.RegisterXSInfo(&TypeInfo_RgWsPublicFirmActRtUserArray, ServiceNamespace,
                     u"RgWsPublicFirmActRtUserArray", u"");
  cls(GenWsErrorRtBase::StaticClass);
  cls(GenWsErrorRtUser::StaticClass);
  cls(RgWsPublicFirmActRtUser::StaticClass);
  cls(RgWsPublicInputRtBase::StaticClass);
  cls(RgWsPublicInputRtUser::StaticClass);
  rem.RegisterSerializeOptions(&RgWsPublicInputRtUser::StaticClass, {xoLiteralParam});
  cls(RgWsPublicBasicRtBase::StaticClass);
  cls(RgWsPublicBasicRtUser::StaticClass);

  // The call driver's implementation of the port type.
  RegisterRgWsPublicProxy();
}
}  // namespace

// The registrations are made once per process and never removed: the
// registries that hold them are destroyed at unload on their own.
void InitializeServiceBinding() {
  std::lock_guard lock(gInitLock);
  if (gInitCount++ > 0) return;
  RegisterService();
  crheader = new AFMCredentialsHeader();
}

void FinalizeServiceBinding() {
  std::lock_guard lock(gInitLock);
  if (gInitCount == 0 || --gInitCount > 0) return;
  delete std::exchange(crheader, nullptr);
}

}  // namespace delvan::service
