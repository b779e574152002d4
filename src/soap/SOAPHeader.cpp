#include "soap/SOAPHeader.h"

#include <algorithm>

#include "rtl/Exception.h"
#include "soap/InvokeRegistry.h"
#include "soap/TypeRegistry.h"

namespace delvan::soap {

constinit const TClass TSOAPHeader::StaticClass = rtl::DefineClass<TSOAPHeader, TRemotable>(
    TSOAPHeader::StaticClass, u"TSOAPHeader", u"Soap.InvokeRegistry");

UnicodeString TSOAPHeader::HeaderNamespace() const {
  return InvRegistry().GetHeaderNamespace(ClassType());
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
