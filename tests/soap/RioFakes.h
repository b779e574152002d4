// Collaborators of the call driver for its tests: a converter that records
// what it is asked and writes a canned request, a web node that records what
// it is sent and answers a canned body, a component that sees others go, and
// a small second invokable interface with its proxy.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "service/RgWsPublic.h"
#include "soap/InvokeRegistry.h"
#include "soap/OPToSOAPDomConv.h"
#include "soap/Rio.h"
#include "soap/SOAPHTTPClient.h"
#include "transport/SOAPHTTPTrans.h"

namespace delvan::test {

// A converter that writes Request as the message of every call and hands
// the response to OnResponse (which may fill the context's slots or raise).
class TFakeConverter : public soap::TOPToSoapDomConvert {
 public:
  using TOPToSoapDomConvert::TOPToSoapDomConvert;

  struct Written {
    int methNum = -1;
    std::vector<soap::TSOAPHeader*> headers;
    std::vector<void*> params;
    void* result = nullptr;
    soap::TSOAPConvertOptions options;
  };
  std::vector<Written> written;
  std::vector<std::string> responses;  // the bytes ProcessResponse was given
  std::string request = "<request/>";
  std::function<void(soap::TInvContext& context, soap::THeaderList* headers)> OnResponse;

  std::unique_ptr<TStream> InvContextToMsg(const soap::TIntfMetaData& IntfMD, int MethNum,
                                           soap::TInvContext* Context,
                                           soap::THeaderList* Headers) override {
    Written w;
    w.methNum = MethNum;
    for (std::size_t i = 0; Headers && i < Headers->Count(); ++i)
      w.headers.push_back(Headers->GetHeader(i));
    const auto count =
        static_cast<std::size_t>(IntfMD.MDA.at(static_cast<std::size_t>(MethNum)).ParamCount);
    for (std::size_t i = 0; Context && i < count; ++i)
      w.params.push_back(Context->GetParamPointer(i));
    if (Context) w.result = Context->GetResultPointer();
    w.options = GetOptions();
    written.push_back(std::move(w));
    auto s = std::make_unique<TMemoryStream>();
    s->WriteBytes(request);  // left at its end, as the writer leaves it
    return s;
  }
  void ProcessResponse(TStream& Resp, const soap::TIntfMetaData&, const soap::TIntfMethEntry&,
                       soap::TInvContext* Context, soap::THeaderList* Headers) override {
    Resp.SetPosition(0);
    responses.push_back(Resp.ReadRest());
    if (OnResponse) OnResponse(*Context, Headers);
  }
};

// A web node that records each exchange and appends Answer to the response;
// Fail, when set, runs instead of answering.
class TFakeWebNode : public transport::THTTPReqResp {
 public:
  using THTTPReqResp::THTTPReqResp;

  struct Exchange {
    int methodIndex = -1;
    UnicodeString methodName;
    bool withHandler = false;
    std::int64_t positionAtSend = -1;
    std::string sent;
  };
  std::vector<Exchange> exchanges;
  std::string answer = "<response/>";
  AnsiString boundary;
  std::function<void()> Fail;

  void BeforeExecute(const soap::TIntfMetaData&, const soap::TIntfMethEntry& methMD,
                     int methodIndex, transport::IMimeAttachmentHandler* handler) override {
    Exchange e;
    e.methodIndex = methodIndex;
    e.methodName = methMD.Name;
    e.withHandler = handler != nullptr;
    exchanges.push_back(std::move(e));
  }
  void Execute(TStream& request, TStream& response) override {
    Exchange& e = exchanges.back();
    e.positionAtSend = request.Position();
    request.SetPosition(0);
    e.sent = request.ReadRest();
    if (Fail) Fail();
    response.WriteBytes(answer);
  }
  AnsiString GetMimeBoundary() override { return boundary; }
};

// Records the components whose destruction it was told of.
class TGoneSpy : public TComponent {
 public:
  std::vector<TComponent*> gone;
  void Watch(TComponent* c) { FreeNotification(c); }
  bool Saw(TComponent* c) const { return std::find(gone.begin(), gone.end(), c) != gone.end(); }

 protected:
  void Notification(TComponent* component, rtl::TOperation operation) override {
    if (operation == rtl::TOperation::opRemove) gone.push_back(component);
  }
};

// A second invokable interface: one function with a by-reference and a
// constant parameter, registered with SOAP 1.2 and directory information.
class ITestPing : public IInvokable {
 public:
  static constexpr TGUID IID = TGUID::Parse("{5B1D2C3E-0A4F-4E6B-9C7D-1E2F3A4B5C6D}");
  virtual std::int32_t Ping(std::int32_t& counter, const UnicodeString& text) = 0;

 protected:
  ~ITestPing() = default;
};

inline constexpr rtl::TParamInfo kPingParams[] = {
    {rtl::pfVar, u"counter", &rtl::TypeInfo_Integer},
    {rtl::pfConst, u"text", &rtl::TypeInfo_UnicodeString},
};
inline constexpr rtl::TMethodInfo kPingMethods[] = {
    {u"Ping", rtl::ccStdCall, kPingParams, &rtl::TypeInfo_Integer},
};
inline constexpr rtl::TInterfaceTypeData kPingData{&rtl::TypeInfo_IInvokable, ITestPing::IID, true,
                                                   kPingMethods};
inline constexpr rtl::TTypeInfo TypeInfo_ITestPing{rtl::tkInterface, u"ITestPing", u"RioTests",
                                                   &kPingData};

// An interface registered without method descriptions.
inline constexpr TGUID kBareIID = TGUID::Parse("{6C2E3D4F-1B50-4F7C-8D8E-2F3A4B5C6D7E}");
inline constexpr rtl::TInterfaceTypeData kBareData{&rtl::TypeInfo_IInvokable, kBareIID, false, {}};
inline constexpr rtl::TTypeInfo TypeInfo_IBare{rtl::tkInterface, u"IBare", u"RioTests", &kBareData};

class TPingProxy final : public ITestPing, public soap::TRioVirtualInterface {
 public:
  explicit TPingProxy(soap::TRIO& rio) : TRioVirtualInterface(rio, ITestPing::IID) {}
  IInterface* Interface() override { return static_cast<ITestPing*>(this); }
  HRESULT QueryInterface(const TGUID& iid, void** obj) override {
    return IntfQueryInterface(iid, obj);
  }
  std::int32_t _AddRef() override { return IntfAddRef(); }
  std::int32_t _Release() override { return IntfRelease(); }

  std::int32_t Ping(std::int32_t& counter, const UnicodeString& text) override {
    struct Slot {
      std::int32_t value;
      std::int32_t& var;
      ~Slot() { var = value; }
    } slot{counter, counter};
    UnicodeString textSlot = text;
    std::int32_t result = 0;
    void* const args[] = {Interface(), &slot.value, &textSlot};
    Call(3, args, &result);
    return result;
  }
};

inline const char16_t kPingNamespace[] = u"urn:ping";

// Registers ITestPing (with its proxy) and IBare once per process.
inline void RegisterTestInterfaces() {
  static const bool done = [] {
    soap::TInvokableClassRegistry& inv = soap::InvRegistry();
    inv.RegisterInterface(&TypeInfo_ITestPing, kPingNamespace, u"UTF-8", u"", u"");
    inv.RegisterDefaultSOAPAction(&TypeInfo_ITestPing, u"urn:ping#%operationName%");
    inv.RegisterInvokeOptions(&TypeInfo_ITestPing, soap::ioSOAP12);
    inv.RegisterUDDIInfo(&TypeInfo_ITestPing, u"http://uddi.test/op", u"key-1");
    soap::RegisterRioInterface(
        &TypeInfo_ITestPing,
        [](soap::TRIO& rio) -> soap::TRioVirtualInterface* { return new TPingProxy(rio); });
    inv.RegisterInterface(&TypeInfo_IBare, u"urn:bare", u"", u"", u"");
    soap::RegisterRioInterface(&TypeInfo_IBare, [](soap::TRIO& rio) -> soap::TRioVirtualInterface* {
      return new TPingProxy(rio);
    });
    return true;
  }();
  (void)done;
}

// The records of one rgWsPublicAfmMethod call, freed with the holder.
struct AfmCall {
  service::RgWsPublicInputRtUser* input = new service::RgWsPublicInputRtUser();
  service::RgWsPublicBasicRtUser* basic = new service::RgWsPublicBasicRtUser();
  service::RgWsPublicFirmActRtUserArray activities;
  service::TXSDecimal* callSeqId = new service::TXSDecimal();
  service::GenWsErrorRtUser* error = new service::GenWsErrorRtUser();

  AfmCall() = default;
  AfmCall(const AfmCall&) = delete;
  AfmCall& operator=(const AfmCall&) = delete;
  ~AfmCall() {
    delete basic;
    delete error;
    delete input;
    delete callSeqId;
    service::FreeActivities(activities);
  }
  void Run(service::RgWsPublic& port) {
    port.rgWsPublicAfmMethod(input, basic, activities, callSeqId, error);
  }
};

// The slot of parameter index of a call, as a class parameter's slot.
inline TObject*& ObjectSlot(soap::TInvContext& context, std::size_t index) {
  return *static_cast<TObject**>(context.GetParamPointer(index));
}

}  // namespace delvan::test
