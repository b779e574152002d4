#include "soap/SOAPDomConv.h"

#include <array>

#include "soap/SOAPEnv.h"

namespace delvan::soap {

namespace {
constexpr std::u16string_view kUnit = u"Soap.SOAPDomConv";

constexpr std::array<std::u16string_view, 18> kKindNames = {
    u"Unknown", u"Integer", u"Char",   u"Enumeration", u"Float",  u"String",
    u"Set",     u"Class",   u"Method", u"WChar",       u"LString", u"WString",
    u"Variant", u"Array",   u"Record", u"Interface",   u"Int64",  u"DynArray"};
}  // namespace

constinit const rtl::TClass TSOAPDOMProcessor::StaticClass =
    rtl::DefineClass<TSOAPDOMProcessor, TComponent>(TSOAPDOMProcessor::StaticClass,
                                                    u"TSOAPDOMProcessor", kUnit);
constinit const rtl::TClass TSOAPDomConv::StaticClass =
    rtl::DefineClass<TSOAPDomConv, TSOAPDOMProcessor>(TSOAPDomConv::StaticClass, u"TSOAPDomConv",
                                                      kUnit);

UnicodeString TypeKindName(rtl::TTypeKind kind) {
  // The Unicode string kind is named as the long string it stands beside.
  if (kind == rtl::tkUString) return UnicodeString(kKindNames[rtl::tkLString]);
  return kind < kKindNames.size() ? UnicodeString(kKindNames[kind]) : UnicodeString(kKindNames[0]);
}

void TSOAPDOMProcessor::AddHeaderProcessor(const UnicodeString& ns,
                                           const UnicodeString& headerName,
                                           const UnicodeString& typeName,
                                           IDOMHeaderProcessor* processor) {
  FHeaderProcessors.push_back({ns, headerName, typeName, IntfPtr<IDOMHeaderProcessor>(processor)});
}

IDOMHeaderProcessor* TSOAPDOMProcessor::FindHeaderProcessor(const UnicodeString& ns,
                                                            const UnicodeString& headerName,
                                                            const UnicodeString& typeName) const {
  for (const auto& e : FHeaderProcessors)
    if (e.Namespace == ns && e.HeaderName == headerName && e.TypeName == typeName)
      return e.Processor.get();
  return nullptr;
}

TSOAPDomConv::TSOAPDomConv(TComponent* owner)
    : TSOAPDOMProcessor(owner),
      FEnvelope(std::make_unique<TSoapEnvelope>()),
      FOwnerIsComponent(owner != nullptr) {}

TSOAPDomConv::~TSOAPDomConv() = default;

HRESULT TSOAPDomConv::QueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  if (iid == IInterface::IID || iid == IObjConverter::IID) {
    *obj = static_cast<IObjConverter*>(this);
    _AddRef();
    return S_OK;
  }
  *obj = nullptr;
  return E_NOINTERFACE;
}

std::int32_t TSOAPDomConv::_AddRef() { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }

std::int32_t TSOAPDomConv::_Release() {
  const std::int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  // An owned converter is destroyed by its owner only.
  if (n == 0 && !FOwnerIsComponent && !Owner()) delete this;
  return n;
}

void TSOAPDomConv::AddAttachment(TSOAPAttachment* Attachment, const UnicodeString&) {
  if (Attachment) FAttachments.push_back(Attachment);
}

TSOAPAttachment* TSOAPDomConv::FindAttachment(const UnicodeString&) {
  // Attachments carry no content id of their own: none is found by one.
  return nullptr;
}

}  // namespace delvan::soap
