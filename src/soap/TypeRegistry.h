// The remotable-type registry (RemClassRegistry, RemTypeRegistry): maps each
// remotable class and each other remotable type to its XML type (namespace
// URI and name), with per-type scalar flag, multi-reference policy,
// serialization options and property renames.
//
// Registrations never fail and a repeated one leaves the first in place;
// lookups never fail and yield their documented default on a miss. Class and
// type lookups register a missing type on the spot while auto-registration
// is on (it is, from creation). Every operation takes the registry's
// re-entrant lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/TypInfo.h"
#include "rtl/Variant.h"
#include "soap/Remotable.h"

namespace delvan::soap {

// VariantToInfo's failure: a variant whose type has no XML form.
class ETypeRegistryException : public Exception {
 public:
  using Exception::Exception;
};

enum TObjMultiOptions : std::uint8_t { ocDefault, ocMultiRef, ocNoMultiRef };

struct ExtNameMapItem {
  UnicodeString Name;     // the property's own name
  UnicodeString ExtName;  // its name on the wire (may be an attribute text)
  const UnicodeString* StoredExtName = nullptr;  // ExtName in the registry's text store
};

struct TRemRegEntry {
  const TClass* ClassType = nullptr;  // null for a type that is not a class
  const rtl::TTypeInfo* Info = nullptr;
  UnicodeString URI;
  UnicodeString Name;
  UnicodeString ExtName;  // when non-empty, the name written and matched
  bool IsScalar = false;
  TObjMultiOptions MultiRefOpt = ocDefault;
  TSerializationOptions SerializationOpt;
  std::vector<ExtNameMapItem> PropNameMap;
  // URI and written name as kept in the registry's text store (see ClassToURI).
  const UnicodeString* StoredURI = nullptr;
  const UnicodeString* StoredName = nullptr;

  // The name written for the type: ExtName when set, else Name.
  const UnicodeString& WrittenName() const { return ExtName.empty() ? Name : ExtName; }
};

class TRemotableTypeRegistry {
 public:
  TRemotableTypeRegistry() = default;
  TRemotableTypeRegistry(const TRemotableTypeRegistry&) = delete;
  TRemotableTypeRegistry& operator=(const TRemotableTypeRegistry&) = delete;

  // Registration. An entry is appended unless one with the same type
  // information exists that, when Name is given, also has that Name. An
  // empty URI becomes "urn:" + prefix + the declaring module (for an
  // enumeration, its base type's module; for a type that is neither class,
  // enumeration nor dynamic array, nothing after the prefix); an empty Name
  // becomes the type's name.
  void RegisterXSClass(const TClass* Cls, UnicodeStringView URI = {}, UnicodeStringView Name = {},
                       UnicodeStringView ExtName = {}, bool IsScalar = false,
                       TObjMultiOptions MultiRefOpt = ocDefault);
  // The same for any type; the type information of a class fills ClassType.
  void RegisterXSInfo(const rtl::TTypeInfo* Info, UnicodeStringView URI = {},
                      UnicodeStringView Name = {}, UnicodeStringView ExtName = {});
  // A member type of a holder class: registered as RegisterXSInfo does.
  void RegisterHolderClsMember(const rtl::TTypeInfo* Info, UnicodeStringView URI = {},
                               UnicodeStringView Name = {}, UnicodeStringView ExtName = {});
  // Replace the options of the first entry of the type.
  void RegisterSerializeOptions(const TClass* Cls, TSerializationOptions Options);
  void RegisterSerializeOptions(const rtl::TTypeInfo* Info, TSerializationOptions Options);
  // Appends a rename to the first entry of the type.
  void RegisterExternalPropName(const rtl::TTypeInfo* Info, UnicodeStringView InternalName,
                                UnicodeStringView ExternalName);
  // Remove every entry of the type.
  void UnRegisterXSClass(const TClass* Cls);
  void UnRegisterXSInfo(const rtl::TTypeInfo* Info);

  bool AutoRegisterNativeTypes() const;
  void SetAutoRegisterNativeTypes(bool value);

  // Lookups. Each scans in registration order and takes the first match.

  // URI, written name and scalar flag of the first entry of the class. On a
  // miss, with auto-registration on and tryToRegister set, the class is
  // registered with all defaults and answered from its new entry. False
  // (outputs empty) when nothing is found.
  bool ClassToURI(const TClass* Cls, UnicodeString& URI, UnicodeString& Name,
                  bool* IsScalar = nullptr, bool tryToRegister = true);
  // The same for any type: the first entry of Info, else the first entry of
  // a type of the same kind and name.
  bool InfoToURI(const rtl::TTypeInfo* Info, UnicodeString& URI, UnicodeString& Name,
                 bool* IsScalar = nullptr, bool tryToRegister = true);
  // ClassToURI for the type information of a class, else InfoToURI.
  bool TypeInfoToXSD(const rtl::TTypeInfo* Info, UnicodeString& URI, UnicodeString& Name);
  // The same three answers without copies: URI and Name point into the
  // registry's text store, which keeps every text it was given until the
  // registry is destroyed (removing an entry frees none), so they stay valid
  // whatever is registered meanwhile. Empty texts on a miss.
  bool ClassToURI(const TClass* Cls, const UnicodeString*& URI, const UnicodeString*& Name,
                  bool* IsScalar = nullptr, bool tryToRegister = true);
  bool InfoToURI(const rtl::TTypeInfo* Info, const UnicodeString*& URI,
                 const UnicodeString*& Name, bool* IsScalar = nullptr, bool tryToRegister = true);
  bool TypeInfoToXSD(const rtl::TTypeInfo* Info, const UnicodeString*& URI,
                     const UnicodeString*& Name);
  // The class of the first entry with exactly this URI and written name;
  // null when there is none or when that entry is not a class.
  const TClass* URIToClass(UnicodeStringView URI, UnicodeStringView Name,
                           bool* IsScalar = nullptr) const;
  // The type of the first entry with exactly this URI and stored Name; null.
  const rtl::TTypeInfo* URIToInfo(UnicodeStringView URI, UnicodeStringView Name) const;
  // The type for an XML type name: a class under a namespace other than
  // the XML Schema one, a class or a simple type under it; the base64 names
  // stand for each other. Null when nothing fits.
  const rtl::TTypeInfo* XSDToTypeInfo(UnicodeStringView URI, UnicodeStringView Name) const;
  const rtl::TTypeInfo* GetSimpleBuiltInXSDType(UnicodeStringView URI,
                                                UnicodeStringView Name) const;
  const TClass* GetRegisteredClassForBuiltInXSD(UnicodeStringView Name) const;
  bool IsClassScalar(const TClass* Cls) const;                               // false
  TObjMultiOptions ClassOptions(const TClass* Cls) const;                    // ocDefault
  TSerializationOptions SerializeOptions(const TClass* Cls) const;           // empty
  TSerializationOptions SerializeOptions(const rtl::TTypeInfo* Info) const;  // empty
  // The external name of property Prop (case-sensitive) of Info, looked up
  // on Info and then on its parent classes below TRemotable; else Prop.
  UnicodeString GetExternalPropName(const rtl::TTypeInfo* Info, UnicodeStringView Prop) const;
  // The same without a copy: the external name in the registry's text store
  // (valid as ClassToURI's answers are), or null where Prop keeps its name.
  const UnicodeString* FindExternalPropName(const rtl::TTypeInfo* Info,
                                            UnicodeStringView Prop) const;
  // The internal name of external property name ExtName of Info (no parent
  // walk); else ExtName.
  UnicodeString GetInternalPropName(const rtl::TTypeInfo* Info, UnicodeStringView ExtName) const;
  // The type information for the type a variant holds. Raises
  // ETypeRegistryException for an empty, null, unknown or unsupported one.
  const rtl::TTypeInfo* VariantToInfo(const Variant& Value) const;

  // A copy of every entry in registration order, for inspection.
  std::vector<TRemRegEntry> Entries() const;

  // Changes with every registration, removal, option or external name
  // given, and with the auto-registration switch: a caller that keeps
  // answers across messages keeps them while this stays the same. Read it
  // before asking, so that a change made meanwhile is seen next time.
  std::uint64_t Generation() const { return FGeneration.load(std::memory_order_acquire); }

 private:
  const TRemRegEntry* FindByInfo(const rtl::TTypeInfo* Info) const;
  TRemRegEntry* FindByInfo(const rtl::TTypeInfo* Info);
  const TRemRegEntry* FindByClass(const TClass* Cls) const;
  const TRemRegEntry* FindSameType(const rtl::TTypeInfo* Info) const;
  void Register(const rtl::TTypeInfo* Info, const TClass* Cls, UnicodeStringView URI,
                UnicodeStringView Name, UnicodeStringView ExtName, bool IsScalar,
                TObjMultiOptions MultiRefOpt);

  mutable std::recursive_mutex FCriticalSection;
  std::atomic<std::uint64_t> FGeneration{0};
  void Changed() { FGeneration.fetch_add(1, std::memory_order_release); }
  // Every URI, written name and external property name ever registered;
  // only grows (see ClassToURI).
  std::unordered_set<UnicodeString> FTexts;
  const UnicodeString FNoText;
  bool FAutoRegister = true;
  std::vector<TRemRegEntry> URIMAP;
  // Position in URIMAP of the first entry of each type and of each class:
  // asked for every property of every object written or read.
  std::unordered_map<const rtl::TTypeInfo*, std::size_t> FByInfo;
  std::unordered_map<const TClass*, std::size_t> FByClass;
  void Reindex();
};

// The built-in registrations, in their order: the XML Schema types, the
// library's arrays and attachment class, the XML Schema value holders, then
// the date-time and boolean-like types. Run once on a new registry.
void RegisterBuiltInTypes(TRemotableTypeRegistry& registry);

// The process-wide remotable-type registry (both names give the same one),
// created with the invokable registry on first use. Lives until the
// registries are finalised.
TRemotableTypeRegistry& RemClassRegistry();
TRemotableTypeRegistry& RemTypeRegistry();

}  // namespace delvan::soap
