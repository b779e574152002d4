#include "xml/xmldom.h"

#include <algorithm>
#include <memory>

#include "platform/XmlDomVendor.h"

namespace delvan::xml {

void DOMVendorNotSupported(UnicodeStringView operation, UnicodeStringView vendor) {
  throw DOMException(u"Property or Method \"%s\" is not supported by DOM Vendor \"%s\"",
                     {operation, vendor});
}

void DOMNodeExNotSupported() {
  throw DOMException(u"Selected DOM Vendor does not support this property or method");
}

void DOMNodeRequired() { throw DOMException(u"Node cannot be null"); }

TDOMVendor* TDOMVendorList::Find(UnicodeStringView desc) const {
  for (TDOMVendor* v : FVendors)
    if (v->Description() == desc) return v;
  return nullptr;
}

void TDOMVendorList::Remove(TDOMVendor* vendor) {
  auto it = std::find(FVendors.begin(), FVendors.end(), vendor);
  if (it != FVendors.end()) FVendors.erase(it);
}

UnicodeString DefaultDOMVendor;

void InitializeDOMVendors() { platform::RegisterPlatformDOMVendor(); }

void FinalizeDOMVendors() {
  platform::UnregisterPlatformDOMVendor();
  FreeDOMVendors();
}

namespace {
std::unique_ptr<TDOMVendorList> g_vendors;
}

TDOMVendorList& DOMVendors() {
  if (!g_vendors) g_vendors = std::make_unique<TDOMVendorList>();
  return *g_vendors;
}

void FreeDOMVendors() {
  g_vendors.reset();
  DefaultDOMVendor.clear();
}

void RegisterDOMVendor(TDOMVendor* vendor) {
  if (!vendor) return;
  TDOMVendorList& list = DOMVendors();
  const UnicodeString desc = vendor->Description();
  if (list.Find(desc)) throw Exception(u"\"%s\" DOMImplementation already registered", {desc});
  list.Add(vendor);
}

void UnRegisterDOMVendor(TDOMVendor* vendor) {
  if (g_vendors) g_vendors->Remove(vendor);
}

TDOMVendor* GetDOMVendor(UnicodeStringView vendorDesc) {
  UnicodeString name(vendorDesc.empty() ? UnicodeStringView(DefaultDOMVendor) : vendorDesc);
  TDOMVendorList& list = DOMVendors();
  if (name.empty() && list.Count() > 0) return list.Vendors(0);
  TDOMVendor* v = list.Find(name);
  if (!v) throw Exception(u"No matching DOM Vendor: \"%s\"", {name});
  return v;
}

IntfPtr<IDOMImplementation> GetDOM(UnicodeStringView vendorDesc) {
  return GetDOMVendor(vendorDesc)->DOMImplementation();
}

}  // namespace delvan::xml
