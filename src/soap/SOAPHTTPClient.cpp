#include "soap/SOAPHTTPClient.h"

#include <utility>

#include "soap/InvokeRegistry.h"

namespace delvan::soap {

using transport::THTTPReqResp;

constinit const rtl::TClass THTTPRIO::StaticClass =
    rtl::DefineClass<THTTPRIO, TRIO>(THTTPRIO::StaticClass, u"THTTPRIO", u"Soap.SOAPHTTPClient");

// The service-description view of a THTTPRIO. Reading descriptions is not
// built into this library, so the view knows no endpoint: a call bound by
// description fails with the web node's "Unable to retrieve the URL
// endpoint" message.
class TRioWSDLView : public transport::TWSDLView {
 public:
  UnicodeString GetEndpoint() override { return {}; }
  UnicodeString GetSoapAction(const UnicodeString&) override { return {}; }
};

THTTPRIO::THTTPRIO(TComponent* owner) : TRIO(owner) {
  SetConverter(nullptr);
  SetHTTPWebNode(nullptr);
}

THTTPRIO::~THTTPRIO() {
  ReleaseConverter(false);
  ReleaseWebNode(false);
  FWSDLView.reset();
}

THTTPReqResp* THTTPRIO::MakeDefaultWebNode() {
  if (!FDefaultWebNode) {
    FDefaultWebNode = new THTTPReqResp(this);
    FDefaultWebNode->SetName(u"HTTPWebNode1");
    FDefaultWebNode->SetSubComponent(true);
  }
  return FDefaultWebNode;
}

TOPToSoapDomConvert* THTTPRIO::MakeDefaultConverter() {
  if (!FDefaultConverter) {
    FDefaultConverter = new TOPToSoapDomConvert(this);
    FDefaultConverter->SetName(u"Converter1");
    FDefaultConverter->SetSubComponent(true);
  }
  return FDefaultConverter;
}

void THTTPRIO::ReleaseWebNode(bool destroyed) {
  THTTPReqResp* old = std::exchange(FHTTPWebNode, nullptr);
  if (!old) return;
  if (destroyed) {
    // Its count is being torn down with it: forget the reference unreleased.
    FWebNode.Detach();
    return;
  }
  if (FWSDLView && old->WSDLView() == FWSDLView.get()) old->SetWSDLView(nullptr);
  const bool owned = old->Owner() == this;
  if (!owned) old->RemoveFreeNotification(this);
  // A node without owner may go with this last reference.
  FWebNode.reset();
  if (owned && old != FDefaultWebNode) delete old;
}

void THTTPRIO::ReleaseConverter(bool destroyed) {
  TOPToSoapDomConvert* old = std::exchange(FDOMConverter, nullptr);
  if (!old) return;
  if (destroyed) {
    FConverter.Detach();
    return;
  }
  const bool owned = old->Owner() == this;
  if (!owned) old->RemoveFreeNotification(this);
  FConverter.reset();
  if (owned && old != FDefaultConverter) delete old;
}

void THTTPRIO::SetHTTPWebNode(THTTPReqResp* value) {
  if (!value) value = MakeDefaultWebNode();
  if (value == FHTTPWebNode) return;
  THTTPReqResp* old = FHTTPWebNode;
  if (old) {
    // The new node takes over what it lacks of the old one's settings.
    if (value->URL().empty() && !old->URL().empty()) value->SetURL(old->URL());
    if (value->UDDIOperator().empty()) value->SetUDDIOperator(old->UDDIOperator());
    if (value->UDDIBindingKey().empty()) value->SetUDDIBindingKey(old->UDDIBindingKey());
  }
  ReleaseWebNode(false);
  FHTTPWebNode = value;
  if (value->Owner() != this) value->FreeNotification(this);
  FWebNode = QueryIntf<transport::IWebNode>(static_cast<transport::IWebNode*>(value));
  UpdateWSDLView();
}

void THTTPRIO::SetConverter(TOPToSoapDomConvert* value) {
  if (!value) value = MakeDefaultConverter();
  if (value == FDOMConverter) return;
  ReleaseConverter(false);
  FDOMConverter = value;
  if (value->Owner() != this) value->FreeNotification(this);
  FConverter = QueryIntf<IOPConvert>(static_cast<IOPConvert*>(value));
}

void THTTPRIO::Notification(TComponent* component, rtl::TOperation operation) {
  TRIO::Notification(component, operation);
  if (operation != rtl::TOperation::opRemove || !component) return;
  if (component == FHTTPWebNode) ReleaseWebNode(true);
  if (component == FDOMConverter) ReleaseConverter(true);
  if (component == FDefaultWebNode) FDefaultWebNode = nullptr;
  if (component == FDefaultConverter) FDefaultConverter = nullptr;
}

HRESULT THTTPRIO::QueryInterface(const TGUID& iid, void** obj) {
  const HRESULT hr = TRIO::QueryInterface(iid, obj);
  if (hr == S_OK && Bound() && iid == BoundIID() && FHTTPWebNode) {
    const TInvokableClassRegistry& registry = InvRegistry();
    FHTTPWebNode->SetSoapAction(registry.GetActionURIOfIID(iid));
    UnicodeString op, key;
    if (registry.GetUDDIInfo(iid, op, key)) {
      FHTTPWebNode->SetUDDIOperator(op);
      FHTTPWebNode->SetUDDIBindingKey(key);
    }
  }
  return hr;
}

UnicodeString THTTPRIO::URL() const { return FHTTPWebNode ? FHTTPWebNode->URL() : UnicodeString(); }

void THTTPRIO::SetURL(const UnicodeString& value) {
  if (FHTTPWebNode) FHTTPWebNode->SetURL(value);
  if (!value.empty()) {
    FWSDLLocation.clear();
    UpdateWSDLView();
  }
}

void THTTPRIO::SetWSDLLocation(const UnicodeString& value) {
  // Binding by description replaces binding by address.
  if (!value.empty() && FHTTPWebNode && !FHTTPWebNode->URL().empty()) FHTTPWebNode->SetURL(u"");
  FWSDLLocation = value;
  UpdateWSDLView();
}

void THTTPRIO::SetService(const UnicodeString& value) {
  FService = value;
  UpdateWSDLView();
}

void THTTPRIO::SetPort(const UnicodeString& value) {
  FPort = value;
  UpdateWSDLView();
}

void THTTPRIO::UpdateWSDLView() {
  if (FWSDLLocation.empty()) {
    if (FHTTPWebNode && FWSDLView && FHTTPWebNode->WSDLView() == FWSDLView.get())
      FHTTPWebNode->SetWSDLView(nullptr);
    FWSDLView.reset();
    return;
  }
  if (!FWSDLView) FWSDLView = std::make_unique<TRioWSDLView>();
  FWSDLView->WSDLFileName = FWSDLLocation;
  FWSDLView->Service = FService;
  FWSDLView->Port = FPort;
  if (FHTTPWebNode) FHTTPWebNode->SetWSDLView(FWSDLView.get());
}

}  // namespace delvan::soap
