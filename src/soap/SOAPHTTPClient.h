// THTTPRIO: the remote-interface object over HTTP. It wires a converter
// (TOPToSoapDomConvert) and an HTTP web node (THTTPReqResp) into the call
// driver, makes its own default ones, and binds either by endpoint URL or
// by service description.
#pragma once

#include <memory>

#include "soap/OPToSOAPDomConv.h"
#include "soap/Rio.h"
#include "transport/SOAPHTTPTrans.h"

namespace delvan::soap {

class TRioWSDLView;

class THTTPRIO : public TRIO {
  DELVAN_CLASS()

 public:
  // Makes the default converter "Converter1" and the default web node
  // "HTTPWebNode1", both owned by this object as sub-components.
  explicit THTTPRIO(TComponent* owner = nullptr);
  ~THTTPRIO() override;

  // The driver's query, and then, for the bound interface, the web node's
  // SOAP action (the registered template) and directory information.
  HRESULT QueryInterface(const TGUID& iid, void** obj) override;

  // The web node's URL (empty without a web node). A non-empty URL also
  // empties WSDLLocation and detaches the service-description view.
  UnicodeString URL() const;
  void SetURL(const UnicodeString& value);

  // The web node in use. Setting one that this object does not own leaves it
  // the caller's (this object forgets it if it is destroyed first); a
  // replaced one that this object owns, other than its default, is
  // destroyed; null falls back to the default. The new web node takes over
  // the old one's URL and directory settings where it has none.
  transport::THTTPReqResp* HTTPWebNode() const { return FHTTPWebNode; }
  void SetHTTPWebNode(transport::THTTPReqResp* value);

  // The converter in use, with the same rules as HTTPWebNode.
  TOPToSoapDomConvert* Converter() const { return FDOMConverter; }
  void SetConverter(TOPToSoapDomConvert* value);

  // Binding by service description: the location, service and port. A
  // non-empty location empties the URL so that the description decides.
  const UnicodeString& WSDLLocation() const { return FWSDLLocation; }
  void SetWSDLLocation(const UnicodeString& value);
  const UnicodeString& Service() const { return FService; }
  void SetService(const UnicodeString& value);
  const UnicodeString& Port() const { return FPort; }
  void SetPort(const UnicodeString& value);

  transport::THTTPReqResp* DefaultWebNode() const { return FDefaultWebNode; }
  TOPToSoapDomConvert* DefaultConverter() const { return FDefaultConverter; }

 protected:
  void Notification(TComponent* component, rtl::TOperation operation) override;

 private:
  transport::THTTPReqResp* MakeDefaultWebNode();
  TOPToSoapDomConvert* MakeDefaultConverter();
  // Lets go of the web node or converter in use (dropping the driver's
  // reference), destroying it when this object owns it and it is not the
  // default.
  void ReleaseWebNode(bool destroyed);
  void ReleaseConverter(bool destroyed);
  // Attaches the description view to the web node while a location is set.
  void UpdateWSDLView();

  TOPToSoapDomConvert* FDOMConverter = nullptr;
  transport::THTTPReqResp* FHTTPWebNode = nullptr;
  TOPToSoapDomConvert* FDefaultConverter = nullptr;
  transport::THTTPReqResp* FDefaultWebNode = nullptr;
  UnicodeString FWSDLLocation;
  UnicodeString FService;
  UnicodeString FPort;
  std::unique_ptr<TRioWSDLView> FWSDLView;
};

}  // namespace delvan::soap
