// SOAP headers: TSOAPHeader, the base of the objects that travel in a SOAP
// header; THeaderList, an ordered list of header objects; and ISOAPHeaders
// with its implementation TSOAPHeaders, through which a remote-interface
// object's outgoing and incoming headers are reached.
#pragma once

#include <vector>

#include "rtl/Interface.h"
#include "soap/Remotable.h"

namespace delvan::soap {

class TSOAPHeader : public TRemotable {
  DELVAN_CLASS()

 public:
  bool MustUnderstand() const { return FMustUnderstand; }
  void SetMustUnderstand(bool value) { FMustUnderstand = value; }
  const UnicodeString& Actor() const { return FActor; }
  void SetActor(UnicodeString value) { FActor = std::move(value); }

  // The namespace the header's element is written in: the one its class is
  // bound under as a header of an invokable interface, else the class's URI
  // in the type registry (which registers the class when it is missing).
  UnicodeString HeaderNamespace() const;

  // Written through the converter in HeaderNamespace(), with a generated
  // prefix allowed, then "mustUnderstand" = "1" when MustUnderstand is set
  // and "actor" when Actor is not empty, both in the envelope namespace of
  // the converter's SOAP version.
  IntfPtr<xml::IXMLNode> ObjectToSOAP(xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode,
                                      IObjConverter* ObjConverter, const UnicodeString& NodeName,
                                      const UnicodeString& NodeNamespace,
                                      const UnicodeString& ChildNamespace,
                                      TObjectConvertOptions ObjConvOpts,
                                      UnicodeString& RefID) override;
  // Read as the base reads; then MustUnderstand is true exactly when the
  // element has a "mustUnderstand" attribute of "1" or "true" (any case),
  // and an "actor" attribute, when present, replaces Actor. Attributes are
  // matched by local name, whatever their prefix.
  void SOAPToObject(xml::IXMLNode* RootNode, xml::IXMLNode* Node,
                    IObjConverter* ObjConverter) override;

 protected:
  bool FMustUnderstand = false;
  UnicodeString FActor;
};

// An ordered list of header objects. While it owns its objects (the
// default) it destroys them when they are cleared or the list is destroyed.
// Its items are TSOAPHeader objects: every header class derives from it.
class THeaderList {
 public:
  explicit THeaderList(bool ownsObjects = true) : FOwnsObjects(ownsObjects) {}
  THeaderList(const THeaderList&) = delete;
  THeaderList& operator=(const THeaderList&) = delete;
  ~THeaderList() { Clear(); }

  // Appends header (the list owns it if it owns its objects); its index.
  std::size_t Add(TSOAPHeader* header);
  // Empties the list, destroying the headers if the list owns them.
  void Clear();
  // Takes header out of the list without destroying it: the caller then owns
  // it. Null when the list does not hold it.
  TSOAPHeader* Extract(TSOAPHeader* header);
  // The index of header, or -1.
  int IndexOf(const TSOAPHeader* header) const;
  std::size_t Count() const { return FItems.size(); }
  // Raises EListError "List index out of bounds (%d)" outside 0 .. Count-1.
  TSOAPHeader* GetHeader(std::size_t index) const;

  bool OwnsObjects() const { return FOwnsObjects; }
  void SetOwnsObjects(bool value) { FOwnsObjects = value; }

 private:
  std::vector<TSOAPHeader*> FItems;
  bool FOwnsObjects;
};

// The header interface of a remote-interface object.
class ISOAPHeaders : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{E240BE0C-256F-D611-96FA-00C04FA06B45}");

  // Appends header to the outgoing list unless that very object is in it (a
  // null header is ignored). The list owns it only while OwnsSentHeaders is on.
  virtual void Send(TSOAPHeader* header) = 0;
  // Takes the first incoming header that is an instance of cls out of the
  // incoming list; the caller owns it. Null when there is none.
  virtual TSOAPHeader* Get(const TClass* cls) = 0;
  // The same for the class the type registry gives for (ns, name).
  virtual TSOAPHeader* Get(UnicodeStringView name, UnicodeStringView ns) = 0;
  virtual void SetOwnsSentHeaders(bool value) = 0;
  virtual bool GetOwnsSentHeaders() = 0;

 protected:
  ~ISOAPHeaders() = default;
};

// ISOAPHeaders over a remote-interface object's two header lists, as an
// object aggregated into that object (the controller): its reference
// counting is the controller's, and queries for other interfaces go to the
// controller. The controller owns this object and both lists, and keeps
// them alive as long as this object.
class TSOAPHeaders : public ISOAPHeaders {
 public:
  TSOAPHeaders(IInterface& controller, THeaderList& inbound, THeaderList& outbound)
      : FController(controller), FInbound(inbound), FOutbound(outbound) {}
  TSOAPHeaders(const TSOAPHeaders&) = delete;
  TSOAPHeaders& operator=(const TSOAPHeaders&) = delete;
  virtual ~TSOAPHeaders() = default;

  HRESULT QueryInterface(const TGUID& iid, void** obj) override;
  std::int32_t _AddRef() override { return FController._AddRef(); }
  std::int32_t _Release() override { return FController._Release(); }

  void Send(TSOAPHeader* header) override;
  TSOAPHeader* Get(const TClass* cls) override;
  TSOAPHeader* Get(UnicodeStringView name, UnicodeStringView ns) override;
  void SetOwnsSentHeaders(bool value) override { FOutbound.SetOwnsObjects(value); }
  bool GetOwnsSentHeaders() override { return FOutbound.OwnsObjects(); }

 private:
  IInterface& FController;
  THeaderList& FInbound;
  THeaderList& FOutbound;
};

}  // namespace delvan::soap
