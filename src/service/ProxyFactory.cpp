#include "service/ProxyFactory.h"

#include "rtl/Exception.h"
#include "service/CredentialsHeader.h"
#include "service/ServiceConstants.h"
#include "soap/SOAPHTTPClient.h"

namespace delvan::service {

namespace {

using soap::TRIO;
using soap::TRioVirtualInterface;

// RgWsPublic over the call driver. Each method packs its argument slots
// (slot 0 the interface, then the parameters in declaration order) and
// enters the driver; the by-reference slots are copied back into the
// caller's variables when the driver returns, also by an exception.
class TRgWsPublicProxy final : public RgWsPublic, public TRioVirtualInterface {
 public:
  explicit TRgWsPublicProxy(TRIO& rio) : TRioVirtualInterface(rio, RgWsPublic::IID) {}

  IInterface* Interface() override { return static_cast<RgWsPublic*>(this); }

  HRESULT QueryInterface(const TGUID& iid, void** obj) override {
    return IntfQueryInterface(iid, obj);
  }
  std::int32_t _AddRef() override { return IntfAddRef(); }
  std::int32_t _Release() override { return IntfRelease(); }

  void rgWsPublicAfmMethod(RgWsPublicInputRtUser* const& RgWsPublicInputRt_in,
                           RgWsPublicBasicRtUser*& RgWsPublicBasicRt_out,
                           RgWsPublicFirmActRtUserArray& arrayOfRgWsPublicFirmActRt_out,
                           TXSDecimal*& pCallSeqId_out, GenWsErrorRtUser*& pErrorRec_out) override {
    struct Slots {
      TObject* input;
      TObject* basic;
      RgWsPublicFirmActRtUserArray activities;
      TObject* callSeqId;
      TObject* error;
      RgWsPublicBasicRtUser*& basicVar;
      RgWsPublicFirmActRtUserArray& activitiesVar;
      TXSDecimal*& callSeqIdVar;
      GenWsErrorRtUser*& errorVar;
      // The reader stores only instances of the parameter's class.
      ~Slots() {
        basicVar = static_cast<RgWsPublicBasicRtUser*>(basic);
        activitiesVar = std::move(activities);
        callSeqIdVar = static_cast<TXSDecimal*>(callSeqId);
        errorVar = static_cast<GenWsErrorRtUser*>(error);
      }
    } s{RgWsPublicInputRt_in, RgWsPublicBasicRt_out, arrayOfRgWsPublicFirmActRt_out, pCallSeqId_out,
        pErrorRec_out,        RgWsPublicBasicRt_out, arrayOfRgWsPublicFirmActRt_out, pCallSeqId_out,
        pErrorRec_out};
    void* const args[] = {Interface(), &s.input, &s.basic, &s.activities, &s.callSeqId, &s.error};
    Call(3, args, nullptr);
  }

  UnicodeString rgWsPublicVersionInfo() override {
    UnicodeString result;
    void* const args[] = {Interface()};
    Call(4, args, &result);
    return result;
  }
};

TRioVirtualInterface* MakeRgWsPublicProxy(TRIO& rio) { return new TRgWsPublicProxy(rio); }

}  // namespace

void RegisterRgWsPublicProxy() {
  soap::RegisterRioInterface(&TypeInfo_RgWsPublic, MakeRgWsPublicProxy);
}

IntfPtr<RgWsPublic> GetRgWsPublic(bool UseWSDL, UnicodeStringView Addr, soap::THTTPRIO* HTTPRIO) {
  IntfPtr<RgWsPublic> result;
  UnicodeString addr(Addr);
  if (addr.empty()) addr = UseWSDL ? defWSDL : defURL;
  soap::THTTPRIO* rio = HTTPRIO ? HTTPRIO : new soap::THTTPRIO(nullptr);
  try {
    result = QueryIntf<RgWsPublic>(rio);
    if (!result) throw Exception(u"Interface not supported");
    // Asked through the bound reference, not the object: a query on the
    // object would re-apply invoke options to the converter.
    IntfPtr<soap::ISOAPHeaders> headers = QueryIntf<soap::ISOAPHeaders>(result);
    if (!headers) throw Exception(u"Interface not supported");
    headers->Send(crheader);
    headers.reset();
    if (UseWSDL) {
      rio->SetWSDLLocation(addr);
      rio->SetService(UnicodeString(defSvc));
      rio->SetPort(UnicodeString(defPrt));
    } else {
      rio->SetURL(addr);
    }
  } catch (...) {
    // Unbound, nothing references an object made here: it goes now. Bound,
    // it goes with the last release of result.
    if (!result && !HTTPRIO) delete rio;
    throw;
  }
  return result;
}

}  // namespace delvan::service
