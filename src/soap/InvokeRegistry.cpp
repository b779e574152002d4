#include "soap/InvokeRegistry.h"

#include <algorithm>

#include "soap/TypeRegistry.h"

namespace delvan::soap {

using rtl::SameTextAscii;
using rtl::TTypeInfo;
using Lock = std::lock_guard<std::recursive_mutex>;

// ---- Attribute texts ---------------------------------------------------------------

UnicodeStringView InfoAttributeKey(InfoAttribute attribute) {
  static constexpr UnicodeStringView kKeys[] = {u"ExtName",       u"ReturnName",  u"RequestNS",
                                                u"ResponseNS",    u"SOAPAction",  u"Namespace",
                                                u"ArrayItemName", u"ArrayItemNS", u"Ignore"};
  return attribute < std::size(kKeys) ? kKeys[attribute] : UnicodeStringView();
}

namespace {

bool IsBlank(char16_t c) { return c <= 32; }
bool IsQuote(char16_t c) { return c == u'"' || c == u'\'' || c == u'`'; }
// Keys are runs of ASCII letters; a digit or any other character ends one.
bool IsKeyLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

}  // namespace

bool GetRegInfo(UnicodeStringView s, UnicodeStringView key, UnicodeString& value) {
  if (s.size() < 3 || s.front() != u'[' || s.back() != u']') return false;
  // Every index below stays at or before `end`, the final "]".
  const std::size_t end = s.size() - 1;
  std::size_t pos = 1;
  auto skipBlanks = [&] {
    while (pos < end && IsBlank(s[pos])) ++pos;
  };
  for (;;) {
    skipBlanks();
    const bool matched = key.size() <= end - pos && s.substr(pos, key.size()) == key &&
                         (IsBlank(s[pos + key.size()]) || s[pos + key.size()] == u'=');
    if (matched) {
      pos += key.size();
    } else {
      while (pos < end && IsKeyLetter(s[pos])) ++pos;
    }
    skipBlanks();
    if (s[pos] != u'=') return false;
    ++pos;
    skipBlanks();
    const char16_t quote = s[pos];
    if (!IsQuote(quote)) return false;
    const std::size_t close = s.find(quote, pos + 1);
    if (close == UnicodeStringView::npos || close >= end) return false;
    if (matched) {
      value = UnicodeString(s.substr(pos + 1, close - pos - 1));
      return true;
    }
    pos = close + 1;
    while (pos < end && (IsBlank(s[pos]) || s[pos] == u',')) ++pos;
    if (pos >= end) return false;
  }
}

bool GetRegInfo(UnicodeStringView infoString, InfoAttribute attribute, UnicodeString& value) {
  return GetRegInfo(infoString, InfoAttributeKey(attribute), value);
}

// ---- Default namespaces ------------------------------------------------------------

namespace {
std::mutex gPrefixLock;
UnicodeString& PrefixStorage() {
  // Function-local so that no global constructor runs for it.
  static UnicodeString prefix;
  return prefix;
}
}  // namespace

UnicodeString AppNameSpacePrefix() {
  std::lock_guard lock(gPrefixLock);
  return PrefixStorage();
}

void SetAppNameSpacePrefix(UnicodeStringView prefix) {
  std::lock_guard lock(gPrefixLock);
  PrefixStorage() = UnicodeString(prefix);
}

UnicodeString DefaultURNPrefix() {
  const UnicodeString prefix = AppNameSpacePrefix();
  return prefix.empty() ? UnicodeString(u"urn:") : u"urn:" + prefix + u'-';
}

// ---- Finding records -----------------------------------------------------------------

namespace {

template <class Items>
auto FindByName(Items& items, UnicodeStringView name) -> decltype(&items[0]) {
  for (auto& item : items)
    if (SameTextAscii(item.Name, name)) return &item;
  return nullptr;
}

// An empty external name stands for the internal one, so it matches no
// external name here.
template <class Items>
auto FindByExtName(Items& items, UnicodeStringView extName) -> decltype(&items[0]) {
  for (auto& item : items)
    if (!item.ExtName.empty() && SameTextAscii(item.ExtName, extName)) return &item;
  return nullptr;
}

MethodMapItem& MethodOf(InterfaceMapItem& intf, UnicodeStringView name) {
  if (MethodMapItem* m = FindByName(intf.Methods, name)) return *m;
  MethodMapItem& m = intf.Methods.emplace_back();
  m.Name = UnicodeString(name);
  return m;
}

ParameterMapItem& ParamOf(MethodMapItem& method, UnicodeStringView name) {
  if (ParameterMapItem* p = FindByName(method.Parameters, name)) return *p;
  ParameterMapItem& p = method.Parameters.emplace_back();
  p.Name = UnicodeString(name);
  return p;
}

const ParameterMapItem* FindParam(const InterfaceMapItem* intf, UnicodeStringView method,
                                  UnicodeStringView param) {
  if (!intf) return nullptr;
  const MethodMapItem* m = FindByName(intf->Methods, method);
  return m ? FindByName(m->Parameters, param) : nullptr;
}

bool ImplementsInterface(const TClass* cls, const TGUID& iid) {
  // The class's own table, or its parent's when the class lists none.
  std::span<const TGUID> table = cls->Interfaces;
  if (table.empty() && cls->Parent) table = cls->Parent->Interfaces;
  for (const TGUID& g : table)
    if (g == iid) return true;
  return false;
}

}  // namespace

InterfaceMapItem* TInvokableClassRegistry::FindIntf(const TTypeInfo* Info) {
  if (!Info) return nullptr;
  for (InterfaceMapItem& item : FRegIntfs)
    if (item.Info == Info) return &item;
  return nullptr;
}

const InterfaceMapItem* TInvokableClassRegistry::FindIntf(const TTypeInfo* Info) const {
  return const_cast<TInvokableClassRegistry*>(this)->FindIntf(Info);
}

const InterfaceMapItem* TInvokableClassRegistry::FindIntf(const TGUID& IID) const {
  for (const InterfaceMapItem& item : FRegIntfs)
    if (item.GUID == IID) return &item;
  return nullptr;
}

// ---- Registration -------------------------------------------------------------------

void TInvokableClassRegistry::RegisterInterface(const TTypeInfo* Info, UnicodeStringView Namespace,
                                                UnicodeStringView WSDLEncoding,
                                                UnicodeStringView Doc, UnicodeStringView ExtName) {
  const rtl::TInterfaceTypeData* data = Info ? Info->Interface() : nullptr;
  if (!data) return;
  // Read before taking the lock: the prefix has a lock of its own.
  const UnicodeString urn = DefaultURNPrefix();
  Lock lock(FCriticalSection);
  if (FindIntf(Info)) return;
  InterfaceMapItem item;
  item.Name = UnicodeString(Info->Name);
  item.ExtName = UnicodeString(ExtName);
  item.UnitName = UnicodeString(Info->UnitName);
  item.GUID = data->Guid;
  item.Info = Info;
  item.WSDLEncoding = UnicodeString(WSDLEncoding);
  item.Documentation = UnicodeString(Doc);
  if (Namespace.empty()) {
    item.Namespace = urn + item.UnitName + u'-' + item.Name;
  } else {
    item.Namespace = UnicodeString(Namespace);
    item.InvokeOptions.Include(ioHasNamespace);
  }
  for (const InvRegClassEntry& cls : FRegClasses)
    if (ImplementsInterface(cls.ClassType, item.GUID)) {
      item.DefImpl = cls.ClassType;
      break;
    }
  FRegIntfs.push_back(std::move(item));
}

void TInvokableClassRegistry::RegisterDefaultSOAPAction(const TTypeInfo* Info,
                                                        UnicodeStringView DefSOAPAction) {
  Lock lock(FCriticalSection);
  if (InterfaceMapItem* intf = FindIntf(Info)) {
    intf->SOAPAction = UnicodeString(DefSOAPAction);
    intf->InvokeOptions.Include(ioHasDefaultSOAPAction);
  }
}

void TInvokableClassRegistry::RegisterAllSOAPActions(const TTypeInfo* Info,
                                                     UnicodeStringView AllSOAPActions) {
  Lock lock(FCriticalSection);
  if (InterfaceMapItem* intf = FindIntf(Info)) {
    intf->SOAPAction = UnicodeString(AllSOAPActions);
    intf->InvokeOptions.Include(ioHasAllSOAPActions);
  }
}

void TInvokableClassRegistry::RegisterInvokeOptions(const TTypeInfo* Info,
                                                    TIntfInvokeOption Option) {
  if (static_cast<unsigned>(Option) > 15) return;
  Lock lock(FCriticalSection);
  if (InterfaceMapItem* intf = FindIntf(Info)) intf->InvokeOptions.Include(Option);
}

void TInvokableClassRegistry::RegisterInvokeOptions(const TTypeInfo* Info,
                                                    TIntfInvokeOptions Options) {
  Lock lock(FCriticalSection);
  if (InterfaceMapItem* intf = FindIntf(Info))
    intf->InvokeOptions = TIntfInvokeOptions::FromBits(Options.Bits() & 0xFFFF);
}

void TInvokableClassRegistry::RegisterReturnParamNames(const TTypeInfo* Info,
                                                       UnicodeStringView RetParamNames) {
  Lock lock(FCriticalSection);
  if (InterfaceMapItem* intf = FindIntf(Info)) {
    intf->ReturnParamNames = UnicodeString(RetParamNames);
    intf->InvokeOptions.Include(ioHasReturnParamNames);
  }
}

void TInvokableClassRegistry::RegisterUDDIInfo(const TTypeInfo* Info, UnicodeStringView Operator,
                                               UnicodeStringView BindingKey) {
  Lock lock(FCriticalSection);
  if (InterfaceMapItem* intf = FindIntf(Info)) {
    intf->UDDIOperator = UnicodeString(Operator);
    intf->UDDIBindingKey = UnicodeString(BindingKey);
    intf->InvokeOptions.Include(ioHasUDDIInfo);
  }
}

void TInvokableClassRegistry::RegisterExternalMethName(const TTypeInfo* Info,
                                                       UnicodeStringView InternalName,
                                                       UnicodeStringView ExternalName) {
  Lock lock(FCriticalSection);
  if (InterfaceMapItem* intf = FindIntf(Info))
    MethodOf(*intf, InternalName).ExtName = UnicodeString(ExternalName);
}

void TInvokableClassRegistry::RegisterMethodInfo(const TTypeInfo* Info,
                                                 UnicodeStringView InternalName,
                                                 UnicodeStringView ExternalName,
                                                 UnicodeStringView ReturnName,
                                                 std::int32_t XMLOptions) {
  Lock lock(FCriticalSection);
  if (InterfaceMapItem* intf = FindIntf(Info)) {
    MethodMapItem& m = MethodOf(*intf, InternalName);
    m.ExtName = UnicodeString(ExternalName);
    m.ReturnName = UnicodeString(ReturnName);
    m.XMLOptions = XMLOptions;
  }
}

void TInvokableClassRegistry::RegisterParamInfo(const TTypeInfo* Info, UnicodeStringView MethodName,
                                                UnicodeStringView ParamName,
                                                UnicodeStringView ExternalParamName,
                                                UnicodeStringView InfoString,
                                                std::int32_t XMLOptions) {
  Lock lock(FCriticalSection);
  if (InterfaceMapItem* intf = FindIntf(Info)) {
    ParameterMapItem& p = ParamOf(MethodOf(*intf, MethodName), ParamName);
    p.ExtName = UnicodeString(ExternalParamName);
    p.Namespace = UnicodeString(InfoString);
    p.XMLOptions |= XMLOptions;
  }
}

void TInvokableClassRegistry::RegisterExternalParamName(const TTypeInfo* Info,
                                                        UnicodeStringView MethodName,
                                                        UnicodeStringView InternalName,
                                                        UnicodeStringView ExternalName) {
  Lock lock(FCriticalSection);
  if (InterfaceMapItem* intf = FindIntf(Info))
    ParamOf(MethodOf(*intf, MethodName), InternalName).ExtName = UnicodeString(ExternalName);
}

void TInvokableClassRegistry::RegisterHeaderClass(const TTypeInfo* Info, const TClass* Cls,
                                                  UnicodeStringView Name,
                                                  UnicodeStringView Namespace,
                                                  eHeaderMethodType MethodType, bool Required) {
  if (!Cls) return;
  UnicodeString name(Name), ns(Namespace);
  // A header registered without name or namespace takes those of its class
  // in the type registry. Asked before taking this registry's lock, so the
  // two registries' locks are never held together.
  if (name.empty() || ns.empty()) {
    UnicodeString uri, typeName;
    RemClassRegistry().ClassToURI(Cls, uri, typeName);
    if (name.empty()) name = typeName;
    if (ns.empty()) ns = uri;
  }
  Lock lock(FCriticalSection);
  InterfaceMapItem* intf = FindIntf(Info);
  if (!intf) return;
  for (const IntfHeaderItem& h : intf->IntfHeaders)
    if (h.ClassType == Cls) return;
  IntfHeaderItem& h = intf->IntfHeaders.emplace_back();
  h.Info = Info;
  h.ClassType = Cls;
  h.Name = std::move(name);
  h.Namespace = std::move(ns);
  h.DefaultMethodType = MethodType;
  h.DefaultRequired = Required;
}

void TInvokableClassRegistry::RegisterHeaderMethod(const TTypeInfo* Info, const TClass* Cls,
                                                   UnicodeStringView MethodName,
                                                   eHeaderMethodType MethodType, bool Required) {
  Lock lock(FCriticalSection);
  InterfaceMapItem* intf = FindIntf(Info);
  if (!intf) return;
  for (IntfHeaderItem& h : intf->IntfHeaders)
    if (h.ClassType == Cls) {
      h.MethodNames.emplace_back(MethodName);
      h.MethodTypes.push_back(MethodType);
      h.HeaderRequired.push_back(Required);
      return;
    }
}

void TInvokableClassRegistry::RegisterException(const TTypeInfo* Info, const TClass* Cls) {
  if (!Cls) return;
  Lock lock(FCriticalSection);
  InterfaceMapItem* intf = FindIntf(Info);
  if (!intf) return;
  for (const IntfExceptionItem& e : intf->IntfExceptions)
    if (e.ClassType == Cls) return;
  intf->IntfExceptions.push_back({Cls, {}});
}

void TInvokableClassRegistry::RegisterExceptionMethod(const TTypeInfo* Info,
                                                      UnicodeStringView MethodName,
                                                      const TClass* Cls) {
  if (!Cls) return;
  Lock lock(FCriticalSection);
  InterfaceMapItem* intf = FindIntf(Info);
  if (!intf) return;
  for (IntfExceptionItem& e : intf->IntfExceptions)
    if (e.ClassType == Cls) {
      e.MethodNames.emplace_back(MethodName);
      return;
    }
  intf->IntfExceptions.push_back({Cls, {UnicodeString(MethodName)}});
}

void TInvokableClassRegistry::RegisterInvokableClass(const TClass* Cls, TCreateInstanceProc Proc) {
  if (!Cls) return;
  Lock lock(FCriticalSection);
  for (const InvRegClassEntry& e : FRegClasses)
    if (e.ClassType == Cls) return;
  FRegClasses.push_back({Cls, Proc, {}});
}

// ---- Lookups --------------------------------------------------------------------------

TIntfInvokeOptions TInvokableClassRegistry::GetIntfInvokeOptions(const TTypeInfo* Info) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  return intf ? intf->InvokeOptions : TIntfInvokeOptions();
}

TIntfInvokeOptions TInvokableClassRegistry::GetIntfInvokeOptions(const TGUID& IID) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(IID);
  return intf ? intf->InvokeOptions : TIntfInvokeOptions();
}

const TTypeInfo* TInvokableClassRegistry::GetInterfaceTypeInfo(const TGUID& IID) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(IID);
  return intf ? intf->Info : nullptr;
}

UnicodeString TInvokableClassRegistry::GetNamespaceByGUID(const TGUID& IID) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(IID);
  return intf ? intf->Namespace : UnicodeString();
}

UnicodeString TInvokableClassRegistry::GetMethExternalName(const TTypeInfo* Info,
                                                           UnicodeStringView MethodName) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  const MethodMapItem* m = intf ? FindByName(intf->Methods, MethodName) : nullptr;
  return m && !m->ExtName.empty() ? m->ExtName : UnicodeString(MethodName);
}

UnicodeString TInvokableClassRegistry::GetMethInternalName(const TTypeInfo* Info,
                                                           UnicodeStringView ExternalName) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  const MethodMapItem* m = intf ? FindByExtName(intf->Methods, ExternalName) : nullptr;
  return m ? m->Name : UnicodeString(ExternalName);
}

UnicodeString TInvokableClassRegistry::GetParamExternalName(const TTypeInfo* Info,
                                                            UnicodeStringView MethodName,
                                                            UnicodeStringView ParamName) const {
  Lock lock(FCriticalSection);
  const ParameterMapItem* p = FindParam(FindIntf(Info), MethodName, ParamName);
  return p && !p->ExtName.empty() ? p->ExtName : UnicodeString(ParamName);
}

UnicodeString TInvokableClassRegistry::GetParamInternalName(const TTypeInfo* Info,
                                                            UnicodeStringView MethodName,
                                                            UnicodeStringView ExternalName) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  const MethodMapItem* m = intf ? FindByName(intf->Methods, MethodName) : nullptr;
  const ParameterMapItem* p = m ? FindByExtName(m->Parameters, ExternalName) : nullptr;
  return p ? p->Name : UnicodeString(ExternalName);
}

TMethodRegInfo TInvokableClassRegistry::GetMethodInfo(const TTypeInfo* Info,
                                                      UnicodeStringView MethodName) const {
  Lock lock(FCriticalSection);
  TMethodRegInfo result;
  const InterfaceMapItem* intf = FindIntf(Info);
  const MethodMapItem* m = intf ? FindByName(intf->Methods, MethodName) : nullptr;
  result.ExtName = m && !m->ExtName.empty() ? m->ExtName : UnicodeString(MethodName);
  if (m) {
    result.ReturnName = m->ReturnName;
    result.XMLOptions = m->XMLOptions;
  }
  return result;
}

TParamRegInfo TInvokableClassRegistry::GetParamInfo(const TTypeInfo* Info,
                                                    UnicodeStringView MethodName,
                                                    UnicodeStringView ParamName) const {
  Lock lock(FCriticalSection);
  TParamRegInfo result;
  const ParameterMapItem* p = FindParam(FindIntf(Info), MethodName, ParamName);
  result.ExtName = p && !p->ExtName.empty() ? p->ExtName : UnicodeString(ParamName);
  if (p) {
    result.InfoString = p->Namespace;
    result.XMLOptions = p->XMLOptions;
  }
  return result;
}

UnicodeString TInvokableClassRegistry::ActionOf(const InterfaceMapItem& item,
                                                UnicodeStringView MethodName,
                                                int MethodIndex) const {
  if (item.InvokeOptions.Contains(ioHasDefaultSOAPAction)) {
    UnicodeString action = item.SOAPAction;
    static constexpr UnicodeStringView kPlaceholder = u"%operationName%";
    if (!MethodName.empty())
      if (const std::size_t at = action.find(kPlaceholder); at != UnicodeString::npos)
        action.replace(at, kPlaceholder.size(), MethodName);
    return action;
  }
  if (item.InvokeOptions.Contains(ioHasAllSOAPActions)) {
    // The list's first character separates its entries; runs of it make no
    // empty entries.
    const UnicodeString& list = item.SOAPAction;
    if (list.empty() || MethodIndex < 0) return {};
    const char16_t separator = list[0];
    int index = 0;
    std::size_t pos = 0;
    while (pos < list.size()) {
      while (pos < list.size() && list[pos] == separator) ++pos;
      if (pos == list.size()) break;
      const std::size_t next = std::min(list.find(separator, pos), list.size());
      if (index++ == MethodIndex) return list.substr(pos, next - pos);
      pos = next;
    }
    return {};
  }
  return item.Namespace + u'#' + UnicodeString(MethodName);
}

UnicodeString TInvokableClassRegistry::GetActionURIOfInfo(const TTypeInfo* Info,
                                                          UnicodeStringView MethodName,
                                                          int MethodIndex) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  return intf ? ActionOf(*intf, MethodName, MethodIndex) : UnicodeString();
}

UnicodeString TInvokableClassRegistry::GetActionURIOfIID(const TGUID& IID) const {
  Lock lock(FCriticalSection);
  return GetActionURIOfInfo(GetInterfaceTypeInfo(IID), u"", -1);
}

bool TInvokableClassRegistry::GetUDDIInfo(const TTypeInfo* Info, UnicodeString& Operator,
                                          UnicodeString& BindingKey) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  if (!intf || !intf->InvokeOptions.Contains(ioHasUDDIInfo)) return false;
  Operator = intf->UDDIOperator;
  BindingKey = intf->UDDIBindingKey;
  return true;
}

bool TInvokableClassRegistry::GetUDDIInfo(const TGUID& IID, UnicodeString& Operator,
                                          UnicodeString& BindingKey) const {
  Lock lock(FCriticalSection);
  return GetUDDIInfo(GetInterfaceTypeInfo(IID), Operator, BindingKey);
}

UnicodeString TInvokableClassRegistry::GetReturnParamNames(const TTypeInfo* Info) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  if (intf && intf->InvokeOptions.Contains(ioHasReturnParamNames)) return intf->ReturnParamNames;
  return u"Result;Return";
}

// Reads under the lock like every other lookup: a read without it could
// meet the tables while another thread's registration reallocates them.
const TClass* TInvokableClassRegistry::GetHeaderClass(UnicodeStringView Name,
                                                      UnicodeStringView Namespace) const {
  Lock lock(FCriticalSection);
  for (const InterfaceMapItem& intf : FRegIntfs)
    for (const IntfHeaderItem& h : intf.IntfHeaders)
      if (h.Name == Name && h.Namespace == Namespace) return h.ClassType;
  return nullptr;
}

UnicodeString TInvokableClassRegistry::GetHeaderNamespace(const TClass* Cls) const {
  return GetHeaderNamespace(nullptr, Cls);
}

// A null Info stands for every interface.
UnicodeString TInvokableClassRegistry::GetHeaderNamespace(const TTypeInfo* Info,
                                                          const TClass* Cls) const {
  if (!Cls) return {};
  {
    Lock lock(FCriticalSection);
    for (const InterfaceMapItem& intf : FRegIntfs) {
      if (Info && intf.Info != Info) continue;
      for (const IntfHeaderItem& h : intf.IntfHeaders)
        if (h.ClassType == Cls) return h.Namespace;
    }
  }
  // Outside this registry's lock: the type registry takes its own.
  const UnicodeString *uri, *name;
  RemClassRegistry().ClassToURI(Cls, uri, name);
  return *uri;
}

const TClass* TInvokableClassRegistry::GetClassFromIntfInfo(const TTypeInfo* Info) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  return intf ? intf->DefImpl : nullptr;
}

UnicodeString TInvokableClassRegistry::GetInterfaceExternalName(const TTypeInfo* Info) const {
  if (!Info) return {};
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  return intf && !intf->ExtName.empty() ? intf->ExtName : UnicodeString(Info->Name);
}

UnicodeString TInvokableClassRegistry::GetWSDLEncoding(const TTypeInfo* Info) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  return intf ? intf->WSDLEncoding : UnicodeString();
}

TObject* TInvokableClassRegistry::GetInvokableObjectFromClass(const TClass* Cls) const {
  TCreateInstanceProc proc = nullptr;
  {
    Lock lock(FCriticalSection);
    auto it = std::find_if(FRegClasses.begin(), FRegClasses.end(),
                           [&](const InvRegClassEntry& e) { return e.ClassType == Cls; });
    if (it == FRegClasses.end()) return nullptr;
    proc = it->Proc;
  }
  // The factory runs outside the lock: it is the caller's code.
  return proc ? proc() : Cls->NewInstance();
}

std::optional<InterfaceMapItem> TInvokableClassRegistry::GetInterfaceInfo(
    const TTypeInfo* Info) const {
  Lock lock(FCriticalSection);
  const InterfaceMapItem* intf = FindIntf(Info);
  if (!intf) return std::nullopt;
  return *intf;
}

std::size_t TInvokableClassRegistry::InterfaceCount() const {
  Lock lock(FCriticalSection);
  return FRegIntfs.size();
}

}  // namespace delvan::soap
