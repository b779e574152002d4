// The registry of invokable interfaces (InvRegistry): per interface its
// target namespace, SOAP action, invoke options, and the wire names and
// attribute texts of its methods and parameters. Also the reader of
// attribute texts (GetRegInfo) and the process-wide AppNameSpacePrefix.
//
// Registrations never fail: one that does not apply is ignored, a repeated
// one leaves the first in place. Lookups never fail: a miss yields the
// documented default. Every operation takes the registry's re-entrant lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "rtl/Interface.h"
#include "rtl/Set.h"
#include "rtl/TypInfo.h"

namespace delvan::soap {

// Per-interface flags, stored as a 16-bit set.
enum TIntfInvokeOption : std::uint8_t {
  ioDefault,
  ioDocument,
  ioLiteral,
  ioHasDefaultSOAPAction,
  ioHasReturnParamNames,
  ioHasNamespace,
  ioIsAppServerSOAP,
  ioHasUDDIInfo,
  ioHasAllSOAPActions,
  ioSOAP12,
};
using TIntfInvokeOptions = TSet<TIntfInvokeOption>;

enum eHeaderMethodType : std::uint8_t { hmtAll, hmtRequest, hmtResponse };

// ---- Attribute texts ---------------------------------------------------------------

// The keys the converters read out of a registered attribute text.
enum InfoAttribute : std::uint8_t {
  iaExternalName,
  iaMethReturnName,
  iaMethRequestNamespace,
  iaMethResponseNamespace,
  iaMethSOAPAction,
  iaNamespace,
  iaArrayItemName,
  iaArrayItemNamespace,
  iaIgnoreItem,
};

// "ExtName", "ReturnName", "RequestNS", "ResponseNS", "SOAPAction",
// "Namespace", "ArrayItemName", "ArrayItemNS", "Ignore".
UnicodeStringView InfoAttributeKey(InfoAttribute attribute);

// Reads the value of key (case-sensitive) out of an attribute text of the
// form [Key1="value", Key2='value'] (quotes: double, single or backquote; no
// escapes). True and the value between the quotes when found. Any text is
// safe to pass: the scan never reads outside it and ends at the first thing
// that does not fit the form (a key holding a digit, a missing "=" or quote,
// a value without its closing quote, a missing final "]").
bool GetRegInfo(UnicodeStringView infoString, UnicodeStringView key, UnicodeString& value);
bool GetRegInfo(UnicodeStringView infoString, InfoAttribute attribute, UnicodeString& value);

// ---- Default namespaces ------------------------------------------------------------

// Empty unless a host sets it; goes into every default "urn:" namespace made
// after it is set. Cleared when the registries are destroyed.
UnicodeString AppNameSpacePrefix();
void SetAppNameSpacePrefix(UnicodeStringView prefix);

// "urn:" followed by AppNameSpacePrefix and "-" when the prefix is set.
UnicodeString DefaultURNPrefix();

// ---- Registry content ---------------------------------------------------------------

struct ParameterMapItem {
  UnicodeString Name;
  UnicodeString ExtName;    // empty: the internal name
  UnicodeString Namespace;  // the attribute text exactly as registered
  std::int32_t XMLOptions = 0;
};

struct MethodMapItem {
  UnicodeString Name;
  UnicodeString ExtName;  // empty: the internal name
  UnicodeString ReturnName;
  std::int32_t XMLOptions = 0;
  std::vector<ParameterMapItem> Parameters;
};

struct IntfHeaderItem {
  const rtl::TTypeInfo* Info = nullptr;
  const TClass* ClassType = nullptr;
  UnicodeString Namespace;
  UnicodeString Name;
  eHeaderMethodType DefaultMethodType = hmtAll;
  bool DefaultRequired = false;
  std::vector<UnicodeString> MethodNames;  // with MethodTypes and HeaderRequired, one per method
  std::vector<eHeaderMethodType> MethodTypes;
  std::vector<bool> HeaderRequired;
};

struct IntfExceptionItem {
  const TClass* ClassType = nullptr;
  std::vector<UnicodeString> MethodNames;
};

struct InterfaceMapItem {
  UnicodeString Name;
  UnicodeString ExtName;
  UnicodeString UnitName;
  TGUID GUID;
  const rtl::TTypeInfo* Info = nullptr;  // the key of the record
  const TClass* DefImpl = nullptr;
  UnicodeString Namespace;
  UnicodeString WSDLEncoding;
  UnicodeString Documentation;
  UnicodeString SOAPAction;  // the default action template, or the list of all actions
  UnicodeString ReturnParamNames;
  TIntfInvokeOptions InvokeOptions;
  std::vector<MethodMapItem> Methods;
  std::vector<IntfHeaderItem> IntfHeaders;
  std::vector<IntfExceptionItem> IntfExceptions;
  UnicodeString UDDIOperator;
  UnicodeString UDDIBindingKey;
};

// Produces a new instance of an invokable class; the caller owns it.
using TCreateInstanceProc = TObject* (*)();

struct InvRegClassEntry {
  const TClass* ClassType = nullptr;
  TCreateInstanceProc Proc = nullptr;
  UnicodeString URI;
};

// What GetMethodInfo and GetParamInfo answer.
struct TMethodRegInfo {
  UnicodeString ExtName;
  UnicodeString ReturnName;
  std::int32_t XMLOptions = 0;
};
struct TParamRegInfo {
  UnicodeString ExtName;
  UnicodeString InfoString;
  std::int32_t XMLOptions = 0;
};

class TInvokableClassRegistry {
 public:
  TInvokableClassRegistry() = default;
  TInvokableClassRegistry(const TInvokableClassRegistry&) = delete;
  TInvokableClassRegistry& operator=(const TInvokableClassRegistry&) = delete;

  // Registration. Info is the interface's type information; a call for an
  // interface that is not registered does nothing (RegisterInterface aside).
  // Method and parameter names are matched ignoring ASCII case; one not yet
  // present is appended with the given internal name.

  // First registration wins. An empty ns gives "urn:" + prefix + unit + "-"
  // + name without ioHasNamespace; a given one sets ioHasNamespace.
  void RegisterInterface(const rtl::TTypeInfo* Info, UnicodeStringView Namespace = {},
                         UnicodeStringView WSDLEncoding = {}, UnicodeStringView Doc = {},
                         UnicodeStringView ExtName = {});
  void RegisterDefaultSOAPAction(const rtl::TTypeInfo* Info, UnicodeStringView DefSOAPAction);
  void RegisterAllSOAPActions(const rtl::TTypeInfo* Info, UnicodeStringView AllSOAPActions);
  // Adds one option; an ordinal above 15 leaves the set unchanged.
  void RegisterInvokeOptions(const rtl::TTypeInfo* Info, TIntfInvokeOption Option);
  // Replaces the stored set (its first 16 members).
  void RegisterInvokeOptions(const rtl::TTypeInfo* Info, TIntfInvokeOptions Options);
  void RegisterReturnParamNames(const rtl::TTypeInfo* Info, UnicodeStringView RetParamNames);
  void RegisterUDDIInfo(const rtl::TTypeInfo* Info, UnicodeStringView Operator,
                        UnicodeStringView BindingKey);
  void RegisterExternalMethName(const rtl::TTypeInfo* Info, UnicodeStringView InternalName,
                                UnicodeStringView ExternalName);
  // Sets ExtName and ReturnName, replaces XMLOptions.
  void RegisterMethodInfo(const rtl::TTypeInfo* Info, UnicodeStringView InternalName,
                          UnicodeStringView ExternalName, UnicodeStringView ReturnName,
                          std::int32_t XMLOptions);
  // Sets ExtName and the attribute text (kept unparsed), ORs XMLOptions in.
  void RegisterParamInfo(const rtl::TTypeInfo* Info, UnicodeStringView MethodName,
                         UnicodeStringView ParamName, UnicodeStringView ExternalParamName,
                         UnicodeStringView InfoString, std::int32_t XMLOptions);
  void RegisterExternalParamName(const rtl::TTypeInfo* Info, UnicodeStringView MethodName,
                                 UnicodeStringView InternalName, UnicodeStringView ExternalName);

  // Server-side bindings; the client path never reads them back.
  void RegisterHeaderClass(const rtl::TTypeInfo* Info, const TClass* Cls,
                           UnicodeStringView Name = {}, UnicodeStringView Namespace = {},
                           eHeaderMethodType MethodType = hmtAll, bool Required = false);
  void RegisterHeaderMethod(const rtl::TTypeInfo* Info, const TClass* Cls,
                            UnicodeStringView MethodName, eHeaderMethodType MethodType = hmtAll,
                            bool Required = false);
  void RegisterException(const rtl::TTypeInfo* Info, const TClass* Cls);
  void RegisterExceptionMethod(const rtl::TTypeInfo* Info, UnicodeStringView MethodName,
                               const TClass* Cls);
  void RegisterInvokableClass(const TClass* Cls, TCreateInstanceProc Proc = nullptr);

  // Lookups. Each scans in registration order and takes the first match.

  TIntfInvokeOptions GetIntfInvokeOptions(const rtl::TTypeInfo* Info) const;  // empty
  TIntfInvokeOptions GetIntfInvokeOptions(const TGUID& IID) const;            // empty
  const rtl::TTypeInfo* GetInterfaceTypeInfo(const TGUID& IID) const;         // null
  UnicodeString GetNamespaceByGUID(const TGUID& IID) const;                   // empty
  // The stored external name when non-empty, else MethodName.
  UnicodeString GetMethExternalName(const rtl::TTypeInfo* Info, UnicodeStringView MethodName) const;
  // The internal name of the first method with that external name, else ExternalName.
  UnicodeString GetMethInternalName(const rtl::TTypeInfo* Info,
                                    UnicodeStringView ExternalName) const;
  UnicodeString GetParamExternalName(const rtl::TTypeInfo* Info, UnicodeStringView MethodName,
                                     UnicodeStringView ParamName) const;
  UnicodeString GetParamInternalName(const rtl::TTypeInfo* Info, UnicodeStringView MethodName,
                                     UnicodeStringView ExternalName) const;
  // Defaults: external name MethodName, empty return name, options 0.
  TMethodRegInfo GetMethodInfo(const rtl::TTypeInfo* Info, UnicodeStringView MethodName) const;
  // Defaults: external name ParamName, empty attribute text, options 0.
  TParamRegInfo GetParamInfo(const rtl::TTypeInfo* Info, UnicodeStringView MethodName,
                             UnicodeStringView ParamName) const;
  // The SOAP action of a method: the default template with the first
  // "%operationName%" replaced by MethodName (when non-empty); else token
  // MethodIndex of the action list; else Namespace + "#" + MethodName.
  // Empty for an interface that is not registered.
  UnicodeString GetActionURIOfInfo(const rtl::TTypeInfo* Info, UnicodeStringView MethodName,
                                   int MethodIndex) const;
  // GetActionURIOfInfo(GetInterfaceTypeInfo(IID), "", -1).
  UnicodeString GetActionURIOfIID(const TGUID& IID) const;
  // True with operator and binding key when ioHasUDDIInfo is set.
  bool GetUDDIInfo(const rtl::TTypeInfo* Info, UnicodeString& Operator,
                   UnicodeString& BindingKey) const;
  bool GetUDDIInfo(const TGUID& IID, UnicodeString& Operator, UnicodeString& BindingKey) const;
  // The registered names when ioHasReturnParamNames is set, else "Result;Return".
  UnicodeString GetReturnParamNames(const rtl::TTypeInfo* Info) const;
  // The header class bound to any interface under exactly this name and
  // namespace; null when none.
  const TClass* GetHeaderClass(UnicodeStringView Name, UnicodeStringView Namespace) const;
  // The namespace of Cls as a header bound to any interface (to Info only in
  // the second form); else its URI in the remotable-type registry, which
  // registers the class when it is missing.
  UnicodeString GetHeaderNamespace(const TClass* Cls) const;
  UnicodeString GetHeaderNamespace(const rtl::TTypeInfo* Info, const TClass* Cls) const;

  // Server-side questions.
  const TClass* GetClassFromIntfInfo(const rtl::TTypeInfo* Info) const;  // DefImpl, or null
  // ExtName when set, else the interface's name; empty for a null Info.
  UnicodeString GetInterfaceExternalName(const rtl::TTypeInfo* Info) const;
  UnicodeString GetWSDLEncoding(const rtl::TTypeInfo* Info) const;
  // A new instance of a registered invokable class (its factory, else its
  // virtual constructor); null when the class is not registered. The caller
  // owns the object.
  TObject* GetInvokableObjectFromClass(const TClass* Cls) const;

  // A copy of the record of an interface, for inspection.
  std::optional<InterfaceMapItem> GetInterfaceInfo(const rtl::TTypeInfo* Info) const;
  std::size_t InterfaceCount() const;

 private:
  InterfaceMapItem* FindIntf(const rtl::TTypeInfo* Info);
  const InterfaceMapItem* FindIntf(const rtl::TTypeInfo* Info) const;
  const InterfaceMapItem* FindIntf(const TGUID& IID) const;
  UnicodeString ActionOf(const InterfaceMapItem& item, UnicodeStringView MethodName,
                         int MethodIndex) const;

  mutable std::recursive_mutex FCriticalSection;
  std::vector<InvRegClassEntry> FRegClasses;
  std::vector<InterfaceMapItem> FRegIntfs;
};

// The process-wide invokable registry, created with the remotable-type
// registry on first use. Lives until the registries are finalised.
TInvokableClassRegistry& InvRegistry();

}  // namespace delvan::soap
