#include "soap/SOAPHeader.h"

#include <algorithm>

#include "rtl/Exception.h"
#include "soap/InvokeRegistry.h"
#include "soap/SOAPConst.h"
#include "soap/TypeRegistry.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

constinit const TClass TSOAPHeader::StaticClass = rtl::DefineClass<TSOAPHeader, TRemotable>(
    TSOAPHeader::StaticClass, u"TSOAPHeader", u"Soap.InvokeRegistry");

UnicodeString TSOAPHeader::HeaderNamespace() const {
  return InvRegistry().GetHeaderNamespace(ClassType());
}

IntfPtr<xml::IXMLNode> TSOAPHeader::ObjectToSOAP(
    xml::IXMLNode* RootNode, xml::IXMLNode* ParentNode, IObjConverter* ObjConverter,
    const UnicodeString& NodeName, const UnicodeString& /*NodeNamespace*/,
    const UnicodeString& ChildNamespace, TObjectConvertOptions ObjConvOpts, UnicodeString& RefID) {
  ObjConvOpts.Exclude(ocoDontPrefixNode);
  IntfPtr<xml::IXMLNode> node =
      TRemotable::ObjectToSOAP(RootNode, ParentNode, ObjConverter, NodeName, HeaderNamespace(),
                               ChildNamespace, ObjConvOpts, RefID);
  if (!node) return node;
  const UnicodeString envNS(
      SOAPEnvelopeNamespaces[ObjConverter->GetOptions().Contains(soSOAP12) ? 1 : 0]);
  if (FMustUnderstand) node->SetAttributeNS(u"mustUnderstand", envNS, Variant(u"1"));
  if (!FActor.empty()) node->SetAttributeNS(u"actor", envNS, Variant(FActor));
  return node;
}

void TSOAPHeader::SOAPToObject(xml::IXMLNode* RootNode, xml::IXMLNode* Node,
                               IObjConverter* ObjConverter) {
  TRemotable::SOAPToObject(RootNode, Node, ObjConverter);
  bool mustUnderstand = false, seenMustUnderstand = false, seenActor = false;
  IntfPtr<xml::IXMLNodeList> attrs = Node->GetAttributeNodes();
  for (std::int32_t i = 0; i < attrs->GetCount(); ++i) {
    IntfPtr<xml::IXMLNode> attr = attrs->Get(i);
    const UnicodeString name = attr->GetNodeName();
    // Namespace declarations (xmlns:mustUnderstand=...) are not attributes here.
    if (name == u"xmlns" || xml::ExtractPrefix(name) == u"xmlns") continue;
    const UnicodeString local = xml::ExtractLocalName(name);
    if (local == u"mustUnderstand" && !seenMustUnderstand) {
      seenMustUnderstand = true;
      const UnicodeString value = attr->GetText();
      mustUnderstand = value == u"1" || rtl::SameTextAscii(value, u"true");
    } else if (local == u"actor" && !seenActor) {
      seenActor = true;
      FActor = attr->GetText();
    }
  }
  FMustUnderstand = mustUnderstand;
}

// ---- THeaderList -------------------------------------------------------------------

std::size_t THeaderList::Add(TSOAPHeader* header) {
  FItems.push_back(header);
  return FItems.size() - 1;
}

void THeaderList::Clear() {
  // Emptied first, so that a header's destructor never meets itself here.
  std::vector<TSOAPHeader*> items = std::exchange(FItems, {});
  if (FOwnsObjects)
    for (TSOAPHeader* h : items) delete h;
}

TSOAPHeader* THeaderList::Extract(TSOAPHeader* header) {
  auto it = std::find(FItems.begin(), FItems.end(), header);
  if (it == FItems.end()) return nullptr;
  FItems.erase(it);
  return header;
}

int THeaderList::IndexOf(const TSOAPHeader* header) const {
  auto it = std::find(FItems.begin(), FItems.end(), header);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

TSOAPHeader* THeaderList::GetHeader(std::size_t index) const {
  if (index >= FItems.size())
    throw EListError(u"List index out of bounds (%d)", {static_cast<long long>(index)});
  return FItems[index];
}

// ---- TSOAPHeaders ------------------------------------------------------------------

HRESULT TSOAPHeaders::QueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  if (iid == ISOAPHeaders::IID) {
    *obj = static_cast<ISOAPHeaders*>(this);
    _AddRef();
    return S_OK;
  }
  return FController.QueryInterface(iid, obj);
}

void TSOAPHeaders::Send(TSOAPHeader* header) {
  if (header && FOutbound.IndexOf(header) < 0) FOutbound.Add(header);
}

TSOAPHeader* TSOAPHeaders::Get(const TClass* cls) {
  if (!cls) return nullptr;
  for (std::size_t i = 0; i < FInbound.Count(); ++i) {
    TSOAPHeader* h = FInbound.GetHeader(i);
    if (h && h->InheritsFrom(cls)) return FInbound.Extract(h);
  }
  return nullptr;
}

TSOAPHeader* TSOAPHeaders::Get(UnicodeStringView name, UnicodeStringView ns) {
  return Get(RemClassRegistry().URIToClass(ns, name));
}

}  // namespace delvan::soap
