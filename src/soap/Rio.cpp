#include "soap/Rio.h"

#include <map>
#include <mutex>
#include <optional>

#include "soap/InvokeRegistry.h"
#include "soap/SOAPAttachment.h"

namespace delvan::soap {

using transport::TWebServiceBindingType;

constinit const rtl::TClass TRIO::StaticClass =
    rtl::DefineClass<TRIO, TComponent>(TRIO::StaticClass, u"TRIO", u"Soap.Rio");

// ---- Interface implementations ------------------------------------------------

namespace {
struct MakerTable {
  std::mutex lock;
  std::map<const rtl::TTypeInfo*, TRioInterfaceMaker> makers;
};
MakerTable& Makers() {
  static MakerTable table;
  return table;
}
}  // namespace

void RegisterRioInterface(const rtl::TTypeInfo* info, TRioInterfaceMaker maker) {
  if (!info || !maker) return;
  MakerTable& t = Makers();
  std::lock_guard lock(t.lock);
  t.makers.emplace(info, maker);
}

TRioInterfaceMaker FindRioInterface(const rtl::TTypeInfo* info) {
  MakerTable& t = Makers();
  std::lock_guard lock(t.lock);
  auto it = t.makers.find(info);
  return it == t.makers.end() ? nullptr : it->second;
}

HRESULT TRioVirtualInterface::IntfQueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  if (iid == FIID) {
    *obj = Interface();
    FRio._AddRef();
    return S_OK;
  }
  return FRio.InternalQI(iid, obj);
}

std::int32_t TRioVirtualInterface::IntfAddRef() { return FRio._AddRef(); }
std::int32_t TRioVirtualInterface::IntfRelease() { return FRio._Release(); }

void TRioVirtualInterface::Call(int methodSlot, void* const* args, void* result) {
  FRio.Generic(methodSlot, args, result);
}

// ---- Attachment handler -------------------------------------------------------

std::unique_ptr<TStream> TMimeAttachmentHandler::PackRequest(TStream&, const TSOAPAttachments&) {
  throw Exception(u"Sending attachments in a multipart message is not supported");
}

std::unique_ptr<TStream> TMimeAttachmentHandler::SplitResponse(TStream&, const AnsiString& Boundary,
                                                               IOPConvert&) {
  throw Exception(u"The response is a multipart message (boundary '%s'), which is not supported",
                  {Boundary.Decode()});
}

// ---- TRIO ---------------------------------------------------------------------

TRIO::TRIO(TComponent* owner)
    : TComponent(owner),
      FHeadersInbound(std::make_unique<THeaderList>(true)),
      FHeadersOutBound(std::make_unique<THeaderList>(false)) {
  FSOAPHeaders = std::make_unique<TSOAPHeaders>(*static_cast<IRIOAccess*>(this), *FHeadersInbound,
                                                *FHeadersOutBound);
  FRefCount.fetch_sub(1, std::memory_order_relaxed);  // construction has ended
}

// Members go in reverse order: the collaborators' references, then the
// interface implementation, the header object and the lists (the inbound one
// destroys its headers); owned components go last, with the base.
TRIO::~TRIO() = default;

void TRIO::Free() {
  if (RefCount() != 0) throw Exception(u"Invalid Pointer");
  delete this;
}

std::int32_t TRIO::_AddRef() { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }

std::int32_t TRIO::_Release() {
  const std::int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0 && !Owner()) delete this;
  return n;
}

HRESULT TRIO::QueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  if (!FInterface) {
    if (const rtl::TTypeInfo* info = InvRegistry().GetInterfaceTypeInfo(iid)) {
      try {
        TRioInterfaceMaker maker = FindRioInterface(info);
        if (!maker)
          throw Exception(u"No implementation of interface %s", {UnicodeString(info->Name)});
        FInterface.reset(maker(*this));
        GetIntfMetaData(info, FIntfMD, true);
        FBoundIID = iid;
      } catch (...) {
        // A failed binding is swallowed: the query then fails below.
        FInterface.reset();
        FIntfMD = TIntfMetaData();
        FBoundIID = TGUID();
      }
    }
  }
  const HRESULT hr = InternalQI(iid, obj);
  if (hr == S_OK && FConverter) {
    const TIntfInvokeOptions io = InvRegistry().GetIntfInvokeOptions(iid);
    TSOAPConvertOptions opts = FConverter->GetOptions();
    opts.Set(soDocument, io.Contains(ioDocument));
    opts.Set(soLiteralParams, io.Contains(ioLiteral));
    opts.Set(soSOAP12, io.Contains(ioSOAP12));
    FConverter->SetOptions(opts);
    if (FWebNode) {
      transport::TWebNodeOptions wno = FWebNode->GetWebNodeOptions();
      wno.Set(transport::wnoSOAP12, io.Contains(ioSOAP12));
      FWebNode->SetWebNodeOptions(wno);
    }
  }
  return hr;
}

HRESULT TRIO::InternalQI(const TGUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  *obj = nullptr;
  if (iid == ISOAPHeaders::IID) {
    *obj = static_cast<ISOAPHeaders*>(FSOAPHeaders.get());
  } else if (iid == IInterface::IID || iid == IRIOAccess::IID) {
    *obj = static_cast<IRIOAccess*>(this);
  } else if (FInterface && iid == FBoundIID) {
    *obj = FInterface->Interface();
  } else {
    return E_NOINTERFACE;
  }
  _AddRef();
  return S_OK;
}

void TRIO::Generic(int methodSlot, void* const* args, void* result) {
  if (!FConverter) throw Exception(u"No Native to Message converter set");
  if (!FWebNode) throw Exception(u"No Message processing node set");

  TInvContext context;
  int methNum = -1;
  for (std::size_t i = 0; i < FIntfMD.MDA.size(); ++i)
    if (FIntfMD.MDA[i].Pos == methodSlot) {
      methNum = static_cast<int>(i);
      break;
    }
  // Only a proxy that does not match its interface's description gets here.
  if (methNum < 0)
    throw Exception(u"Method %d not found in interface %s", {methodSlot, FIntfMD.Name});
  const TIntfMethEntry& method = FIntfMD.MDA[static_cast<std::size_t>(methNum)];
  context.SetMethodInfo(static_cast<std::size_t>(method.ParamCount));
  for (int i = 0; i < method.ParamCount; ++i)
    context.SetParamPointer(static_cast<std::size_t>(i), args[i + 1]);
  // The result slot is the proxy's storage of the result type.
  context.SetResultPointer(method.ResultInfo ? result : nullptr);
  DoDispatch(context, methNum, method);
}

TWebServiceBindingType TRIO::GetBindingType(const TIntfMethEntry& MethMD, bool Input) {
  auto isAttachment = [](const rtl::TTypeInfo* info) {
    return info && info->Kind == rtl::tkClass &&
           info->Class()->InheritsFrom(&TSOAPAttachment::StaticClass);
  };
  for (const TIntfParamEntry& p : MethMD.Params) {
    const bool travels =
        Input ? (p.Flags & rtl::pfOut) == 0 : (p.Flags & (rtl::pfVar | rtl::pfOut)) != 0;
    if (travels && isAttachment(p.Info)) return transport::btMime;
  }
  if (!Input && isAttachment(MethMD.ResultInfo)) return transport::btMime;
  return transport::btSoap;
}

void TRIO::DoBeforeExecute(const UnicodeString& MethodName, TStream& Request) {
  if (!OnBeforeExecute) return;
  OnBeforeExecute(MethodName, Request);
  Request.SetPosition(0);
}

void TRIO::DoAfterExecute(const UnicodeString& MethodName, TStream& Response) {
  if (!OnAfterExecute) return;
  OnAfterExecute(MethodName, Response);
  Response.SetPosition(0);
}

// Multipart responses are refused before they are read (see
// TMimeAttachmentHandler), so no response is cached in a temporary file:
// every response body goes to memory.
std::unique_ptr<TStream> TRIO::GetResponseStream(TWebServiceBindingType) {
  return std::make_unique<TMemoryStream>();
}

void TRIO::DoDispatch(TInvContext& Context, int MethNum, const TIntfMethEntry& MethMD) {
  // Converter and web node stay referenced for the whole exchange, even if an
  // event handler replaces them.
  const IntfPtr<IOPConvert> converter = FConverter;
  const IntfPtr<transport::IWebNode> webNode = FWebNode;
  // Declared first so that it is emptied last, after the streams are freed.
  struct AttachmentsCleared {
    IOPConvert& c;
    ~AttachmentsCleared() { c.GetAttachments().clear(); }
  } clearAttachments{*converter};

  std::unique_ptr<TStream> request =
      converter->InvContextToMsg(FIntfMD, MethNum, &Context, FHeadersOutBound.get());
  // From here on the outgoing headers have been written into a call: the list
  // is emptied when the exchange ends, also when the transport fails before
  // or while sending. It does not own its headers: each travels with one
  // call only.
  struct OutBoundCleared {
    // A constructor of its own: clang 14 cannot build an aggregate in place.
    explicit OutBoundCleared(THeaderList& l) : list(l) {}
    THeaderList& list;
    ~OutBoundCleared() { list.Clear(); }
  };
  std::optional<OutBoundCleared> clearOutBound(std::in_place, *FHeadersOutBound);

  const IntfPtr<TMimeAttachmentHandler> handler(new TMimeAttachmentHandler());
  handler->OnSendAttachment = OnSendAttachment;
  handler->OnGetAttachment = OnGetAttachment;

  std::unique_ptr<TStream> multipartRequest;
  TStream* toSend = request.get();
  if (GetBindingType(MethMD, true) == transport::btMime) {
    multipartRequest = handler->PackRequest(*request, converter->GetAttachments());
    webNode->SetMimeBoundary(handler->GetMIMEBoundary());
    webNode->BeforeExecute(FIntfMD, MethMD, MethNum - 3, handler.get());
    toSend = multipartRequest.get();
  } else {
    // The method's position among the interface's own methods.
    webNode->BeforeExecute(FIntfMD, MethMD, MethNum - 3, nullptr);
  }
  DoBeforeExecute(MethMD.Name, *toSend);

  std::unique_ptr<TStream> response = GetResponseStream(GetBindingType(MethMD, false));
  webNode->Execute(*toSend, *response);
  clearOutBound.reset();
  DoAfterExecute(MethMD.Name, *response);

  std::unique_ptr<TStream> soapPart;
  TStream* toRead = response.get();
  const AnsiString boundary = webNode->GetMimeBoundary();
  if (!boundary.IsEmpty()) {
    soapPart = handler->SplitResponse(*response, boundary, *converter);
    toRead = soapPart.get();
  }
  converter->ProcessResponse(*toRead, FIntfMD, MethMD, &Context, FHeadersInbound.get());
}

}  // namespace delvan::soap
