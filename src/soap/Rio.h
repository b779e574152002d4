// The remote call driver: TRIO, the remote-interface object that implements a
// registered invokable interface by sending each call through a converter
// (IOPConvert) and a web node (IWebNode); TRioVirtualInterface, the generic
// part of the interface implementations it hands out; and the minimal
// attachment handler of the multipart path.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "rtl/Component.h"
#include "rtl/Interface.h"
#include "rtl/Stream.h"
#include "soap/IntfInfo.h"
#include "soap/InvContext.h"
#include "soap/OPConvert.h"
#include "soap/SOAPHeader.h"
#include "transport/WebNode.h"

namespace delvan::soap {

class TRIO;

// Gives the remote-interface object behind one of its interface references.
class IRIOAccess : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{FEF7C9CC-A477-40B7-ACBE-487EDA3E5DFE}");
  virtual TRIO* GetRIO() = 0;

 protected:
  ~IRIOAccess() = default;
};

// Interface implementations are written per interface: C++ cannot build a
// method table from type information at run time, so each invokable interface
// has a small proxy class (derived from the interface and from this class)
// whose methods pack their slots and call Call, found through a maker
// registered for the interface's type information.
//
// Slot rules of a proxy method: args[0] is the interface itself, args[i] (i
// from 1) points at a slot holding parameter i in the layout of NativeData.h
// (a class parameter's slot is a TObject*); a by-reference parameter's slot
// holds a copy of the caller's variable and is copied back when Call ends,
// also by an exception. result points at storage of the result type, or is
// null for a procedure.
class TRioVirtualInterface {
 public:
  // rio outlives this object: it owns it.
  TRioVirtualInterface(TRIO& rio, const TGUID& iid) : FRio(rio), FIID(iid) {}
  TRioVirtualInterface(const TRioVirtualInterface&) = delete;
  TRioVirtualInterface& operator=(const TRioVirtualInterface&) = delete;
  virtual ~TRioVirtualInterface() = default;

  // The interface pointer this object implements (not counted).
  virtual IInterface* Interface() = 0;
  const TGUID& IID() const { return FIID; }
  TRIO& Rio() const { return FRio; }

 protected:
  // What the proxy's QueryInterface, _AddRef and _Release do: its own IID
  // answers with Interface(), anything else goes to the driver's InternalQI;
  // counting is the driver's.
  HRESULT IntfQueryInterface(const TGUID& iid, void** obj);
  std::int32_t IntfAddRef();
  std::int32_t IntfRelease();
  // Enters the driver for the method in slot methodSlot of the interface.
  void Call(int methodSlot, void* const* args, void* result);

 private:
  TRIO& FRio;
  TGUID FIID;
};

// Makes the implementation of one interface for rio; the caller owns it.
using TRioInterfaceMaker = TRioVirtualInterface* (*)(TRIO& rio);

// Registers the implementation maker of an interface (by its type
// information). The first registration for an interface stays.
void RegisterRioInterface(const rtl::TTypeInfo* info, TRioInterfaceMaker maker);
// The maker registered for info, or null.
TRioInterfaceMaker FindRioInterface(const rtl::TTypeInfo* info);

class TSOAPAttachment;

using TBeforeExecuteEvent = std::function<void(const UnicodeString& MethodName, TStream& Request)>;
using TAfterExecuteEvent = std::function<void(const UnicodeString& MethodName, TStream& Response)>;
using TOnSendAttachmentEvent =
    std::function<void(TStream& AttachmentStream, TSOAPAttachment* Attachment)>;
using TOnGetAttachmentEvent =
    std::function<void(TStream& AttachmentStream, TSOAPAttachment* Attachment)>;

// The attachment handler of one call. The registry service has no
// attachments, so multipart packing and splitting are not built: the handler
// keeps the places of those steps and refuses clearly when one is reached.
class TMimeAttachmentHandler : public TInterfacedImpl<transport::IMimeAttachmentHandler> {
 public:
  TOnSendAttachmentEvent OnSendAttachment;
  TOnGetAttachmentEvent OnGetAttachment;

  AnsiString GetMIMEBoundary() override { return FBoundary; }
  void AddSoapHeader(const UnicodeString& line) override { FSoapHeaders.push_back(line); }
  const std::vector<UnicodeString>& SoapHeaders() const { return FSoapHeaders; }

  // Packs the envelope and the attachments into a multipart message. Raises
  // Exception "Sending attachments in a multipart message is not supported".
  std::unique_ptr<TStream> PackRequest(TStream& Envelope, const TSOAPAttachments& Attachments);
  // Splits a multipart response with this boundary. Raises Exception "The
  // response is a multipart message (boundary '%s'), which is not supported".
  std::unique_ptr<TStream> SplitResponse(TStream& Response, const AnsiString& Boundary,
                                         IOPConvert& Converter);

 private:
  AnsiString FBoundary;
  std::vector<UnicodeString> FSoapHeaders;
};

// The transport-neutral driver. Made without owner it lives by reference
// counting (references to it and to its bound interface) and destroys
// itself with the last release; made with an owner it is destroyed by the
// owner only. Free() destroys an object that nothing references. One call
// at a time; only the count is thread-safe.
class TRIO : public TComponent, public IRIOAccess {
  DELVAN_CLASS()

 public:
  explicit TRIO(TComponent* owner = nullptr);
  ~TRIO() override;

  // Destroys the object. Raises Exception "Invalid Pointer", and leaves the
  // object whole, while references to it remain.
  void Free();

  // Binds the object to a registered interface on the first query for one,
  // answers through InternalQI, then re-applies the queried interface's
  // invoke options to the converter and the web node.
  HRESULT QueryInterface(const TGUID& iid, void** obj) override;
  std::int32_t _AddRef() override;
  std::int32_t _Release() override;
  TRIO* GetRIO() override { return this; }
  std::int32_t RefCount() const { return FRefCount.load(std::memory_order_relaxed); }

  // ISOAPHeaders, IInterface and IRIOAccess, and the bound interface;
  // nothing else. Changes no option.
  HRESULT InternalQI(const TGUID& iid, void** obj);

  // Runs the call of the method in slot methodSlot with the argument slots
  // args (args[0] the interface, args[i] parameter i) and the result storage
  // result (null for a procedure). See TRioVirtualInterface for the slots.
  void Generic(int methodSlot, void* const* args, void* result);
  // One exchange: request, transport, response into the context's slots.
  virtual void DoDispatch(TInvContext& Context, int MethNum, const TIntfMethEntry& MethMD);

  // The event when assigned, then the stream is rewound; nothing otherwise.
  void DoBeforeExecute(const UnicodeString& MethodName, TStream& Request);
  void DoAfterExecute(const UnicodeString& MethodName, TStream& Response);
  // The stream that receives the response body; the caller owns it.
  virtual std::unique_ptr<TStream> GetResponseStream(transport::TWebServiceBindingType BindingType);

  const TIntfMetaData& IntfMD() const { return FIntfMD; }
  bool Bound() const { return FInterface != nullptr; }
  const TGUID& BoundIID() const { return FBoundIID; }
  IOPConvert* Converter() const { return FConverter.get(); }
  transport::IWebNode* WebNode() const { return FWebNode.get(); }
  // The header lists: inbound owns its headers, outbound does not.
  THeaderList& HeadersInbound() const { return *FHeadersInbound; }
  THeaderList& HeadersOutBound() const { return *FHeadersOutBound; }

  TBeforeExecuteEvent OnBeforeExecute;
  TAfterExecuteEvent OnAfterExecute;
  TOnSendAttachmentEvent OnSendAttachment;
  TOnGetAttachmentEvent OnGetAttachment;

 protected:
  // MIME when a parameter that travels in that direction (input: any but a
  // pure output; output: by-reference and output ones, and the result) is of
  // an attachment class; SOAP otherwise.
  static transport::TWebServiceBindingType GetBindingType(const TIntfMethEntry& MethMD, bool Input);

  std::atomic<std::int32_t> FRefCount{1};  // 1 while constructing
  std::unique_ptr<TRioVirtualInterface> FInterface;
  TIntfMetaData FIntfMD;
  TGUID FBoundIID;
  std::unique_ptr<THeaderList> FHeadersInbound;
  std::unique_ptr<THeaderList> FHeadersOutBound;
  std::unique_ptr<TSOAPHeaders> FSOAPHeaders;
  IntfPtr<IOPConvert> FConverter;
  IntfPtr<transport::IWebNode> FWebNode;
};

}  // namespace delvan::soap
