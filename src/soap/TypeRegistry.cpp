#include "soap/TypeRegistry.h"

#include "rtl/DynArrayTypes.h"
#include "soap/InvokeRegistry.h"
#include "soap/SOAPAttachment.h"
#include "soap/SOAPConst.h"
#include "soap/XMLData.h"
#include "soap/XSBuiltIns.h"

namespace delvan::soap {

using rtl::TTypeInfo;
using Lock = std::lock_guard<std::recursive_mutex>;

namespace {

// "urn:" + prefix + the module that declares the type; for an enumeration
// the module of its base type; for other kinds but classes and dynamic
// arrays no module.
UnicodeString DefaultTypeURI(const TTypeInfo* info) {
  UnicodeString uri = DefaultURNPrefix();
  switch (info->Kind) {
    case rtl::tkClass:
    case rtl::tkDynArray:
      uri += info->UnitName;
      break;
    case rtl::tkEnumeration: {
      const rtl::TOrdinalTypeData* ord = info->Ordinal();
      uri += ord && ord->BaseType ? ord->BaseType->UnitName : info->UnitName;
      break;
    }
    default:
      break;
  }
  return uri;
}

// The stored texts of e, or none on a miss.
bool Answer(const TRemRegEntry* e, const UnicodeString& none, const UnicodeString*& URI,
            const UnicodeString*& Name, bool* IsScalar) {
  URI = e ? e->StoredURI : &none;
  Name = e ? e->StoredName : &none;
  if (IsScalar) *IsScalar = e && e->IsScalar;
  return e != nullptr;
}

}  // namespace

// ---- Finding entries ---------------------------------------------------------------

TRemRegEntry* TRemotableTypeRegistry::FindByInfo(const TTypeInfo* Info) {
  if (!Info) return nullptr;
  const auto it = FByInfo.find(Info);
  return it == FByInfo.end() ? nullptr : &URIMAP[it->second];
}

const TRemRegEntry* TRemotableTypeRegistry::FindByInfo(const TTypeInfo* Info) const {
  return const_cast<TRemotableTypeRegistry*>(this)->FindByInfo(Info);
}

const TRemRegEntry* TRemotableTypeRegistry::FindByClass(const TClass* Cls) const {
  if (!Cls) return nullptr;
  const auto it = FByClass.find(Cls);
  return it == FByClass.end() ? nullptr : &URIMAP[it->second];
}

void TRemotableTypeRegistry::Reindex() {
  FByInfo.clear();
  FByClass.clear();
  for (std::size_t i = 0; i < URIMAP.size(); ++i) {
    FByInfo.try_emplace(URIMAP[i].Info, i);  // the first entry wins, as a scan finds it
    if (URIMAP[i].ClassType) FByClass.try_emplace(URIMAP[i].ClassType, i);
  }
}

// Another record of the same type: same kind and name (compared exactly;
// one type's records all carry the same spelling).
const TRemRegEntry* TRemotableTypeRegistry::FindSameType(const TTypeInfo* Info) const {
  for (const TRemRegEntry& e : URIMAP)
    if (e.Info->Kind == Info->Kind && e.Info->Name == Info->Name) return &e;
  return nullptr;
}

// ---- Registration -------------------------------------------------------------------

void TRemotableTypeRegistry::Register(const TTypeInfo* Info, const TClass* Cls,
                                      UnicodeStringView URI, UnicodeStringView Name,
                                      UnicodeStringView ExtName, bool IsScalar,
                                      TObjMultiOptions MultiRefOpt) {
  if (!Info) return;
  // Made before taking the lock: the prefix has a lock of its own.
  UnicodeString uri = URI.empty() ? DefaultTypeURI(Info) : UnicodeString(URI);
  Lock lock(FCriticalSection);
  for (const TRemRegEntry& e : URIMAP)
    if (e.Info == Info && (Name.empty() || e.Name == Name)) return;
  TRemRegEntry n;
  n.ClassType = Cls;
  n.Info = Info;
  n.URI = std::move(uri);
  n.Name = Name.empty() ? UnicodeString(Info->Name) : UnicodeString(Name);
  n.ExtName = UnicodeString(ExtName);
  n.StoredURI = &*FTexts.insert(n.URI).first;
  n.StoredName = &*FTexts.insert(n.WrittenName()).first;
  n.IsScalar = IsScalar;
  n.MultiRefOpt = MultiRefOpt;
  URIMAP.push_back(std::move(n));
  FByInfo.try_emplace(Info, URIMAP.size() - 1);
  if (Cls) FByClass.try_emplace(Cls, URIMAP.size() - 1);
  Changed();
}

void TRemotableTypeRegistry::RegisterXSClass(const TClass* Cls, UnicodeStringView URI,
                                             UnicodeStringView Name, UnicodeStringView ExtName,
                                             bool IsScalar, TObjMultiOptions MultiRefOpt) {
  if (Cls) Register(&Cls->Info, Cls, URI, Name, ExtName, IsScalar, MultiRefOpt);
}

void TRemotableTypeRegistry::RegisterXSInfo(const TTypeInfo* Info, UnicodeStringView URI,
                                            UnicodeStringView Name, UnicodeStringView ExtName) {
  if (Info) Register(Info, Info->Class(), URI, Name, ExtName, false, ocDefault);
}

void TRemotableTypeRegistry::RegisterHolderClsMember(const TTypeInfo* Info, UnicodeStringView URI,
                                                     UnicodeStringView Name,
                                                     UnicodeStringView ExtName) {
  RegisterXSInfo(Info, URI, Name, ExtName);
}

void TRemotableTypeRegistry::RegisterSerializeOptions(const TClass* Cls,
                                                      TSerializationOptions Options) {
  if (Cls) RegisterSerializeOptions(&Cls->Info, Options);
}

void TRemotableTypeRegistry::RegisterSerializeOptions(const TTypeInfo* Info,
                                                      TSerializationOptions Options) {
  Lock lock(FCriticalSection);
  if (TRemRegEntry* e = FindByInfo(Info)) e->SerializationOpt = Options;
  Changed();
}

void TRemotableTypeRegistry::RegisterExternalPropName(const TTypeInfo* Info,
                                                      UnicodeStringView InternalName,
                                                      UnicodeStringView ExternalName) {
  Lock lock(FCriticalSection);
  if (TRemRegEntry* e = FindByInfo(Info)) {
    ExtNameMapItem m{UnicodeString(InternalName), UnicodeString(ExternalName)};
    m.StoredExtName = &*FTexts.insert(m.ExtName).first;
    e->PropNameMap.push_back(std::move(m));
  }
  Changed();
}

void TRemotableTypeRegistry::UnRegisterXSClass(const TClass* Cls) {
  if (Cls) UnRegisterXSInfo(&Cls->Info);
}

void TRemotableTypeRegistry::UnRegisterXSInfo(const TTypeInfo* Info) {
  Lock lock(FCriticalSection);
  std::erase_if(URIMAP, [&](const TRemRegEntry& e) { return e.Info == Info; });
  Reindex();
  Changed();
}

bool TRemotableTypeRegistry::AutoRegisterNativeTypes() const {
  Lock lock(FCriticalSection);
  return FAutoRegister;
}

void TRemotableTypeRegistry::SetAutoRegisterNativeTypes(bool value) {
  Lock lock(FCriticalSection);
  FAutoRegister = value;
  Changed();
}

// ---- Lookups --------------------------------------------------------------------------

// On a miss the lock is let go before the registration, which takes it
// again; its duplicate check makes a second thread's registration of the
// same type harmless. The second lookup does not register again.
bool TRemotableTypeRegistry::ClassToURI(const TClass* Cls, const UnicodeString*& URI,
                                        const UnicodeString*& Name, bool* IsScalar,
                                        bool tryToRegister) {
  auto answer = [&](const TRemRegEntry* e) { return Answer(e, FNoText, URI, Name, IsScalar); };
  if (!Cls) return answer(nullptr);
  {
    Lock lock(FCriticalSection);
    const TRemRegEntry* e = FindByClass(Cls);
    if (e || !FAutoRegister || !tryToRegister) return answer(e);
  }
  RegisterXSClass(Cls);
  Lock lock(FCriticalSection);
  return answer(FindByClass(Cls));
}

bool TRemotableTypeRegistry::InfoToURI(const TTypeInfo* Info, const UnicodeString*& URI,
                                       const UnicodeString*& Name, bool* IsScalar,
                                       bool tryToRegister) {
  auto answer = [&](const TRemRegEntry* e) { return Answer(e, FNoText, URI, Name, IsScalar); };
  if (!Info) return answer(nullptr);
  auto find = [&]() -> const TRemRegEntry* {
    const TRemRegEntry* e = FindByInfo(Info);
    return e ? e : FindSameType(Info);
  };
  {
    Lock lock(FCriticalSection);
    const TRemRegEntry* e = find();
    if (e || !FAutoRegister || !tryToRegister) return answer(e);
  }
  RegisterXSInfo(Info);
  Lock lock(FCriticalSection);
  return answer(find());
}

bool TRemotableTypeRegistry::TypeInfoToXSD(const TTypeInfo* Info, const UnicodeString*& URI,
                                           const UnicodeString*& Name) {
  if (const TClass* cls = Info ? Info->Class() : nullptr) return ClassToURI(cls, URI, Name);
  return InfoToURI(Info, URI, Name);
}

bool TRemotableTypeRegistry::ClassToURI(const TClass* Cls, UnicodeString& URI, UnicodeString& Name,
                                        bool* IsScalar, bool tryToRegister) {
  const UnicodeString *uri, *name;
  const bool found = ClassToURI(Cls, uri, name, IsScalar, tryToRegister);
  URI = *uri;
  Name = *name;
  return found;
}

bool TRemotableTypeRegistry::InfoToURI(const TTypeInfo* Info, UnicodeString& URI,
                                       UnicodeString& Name, bool* IsScalar, bool tryToRegister) {
  const UnicodeString *uri, *name;
  const bool found = InfoToURI(Info, uri, name, IsScalar, tryToRegister);
  URI = *uri;
  Name = *name;
  return found;
}

bool TRemotableTypeRegistry::TypeInfoToXSD(const TTypeInfo* Info, UnicodeString& URI,
                                           UnicodeString& Name) {
  const UnicodeString *uri, *name;
  const bool found = TypeInfoToXSD(Info, uri, name);
  URI = *uri;
  Name = *name;
  return found;
}

const TClass* TRemotableTypeRegistry::URIToClass(UnicodeStringView URI, UnicodeStringView Name,
                                                 bool* IsScalar) const {
  Lock lock(FCriticalSection);
  for (const TRemRegEntry& e : URIMAP)
    if (e.URI == URI && e.WrittenName() == Name) {
      if (IsScalar) *IsScalar = e.ClassType && e.IsScalar;
      return e.ClassType;
    }
  if (IsScalar) *IsScalar = false;
  return nullptr;
}

const TTypeInfo* TRemotableTypeRegistry::URIToInfo(UnicodeStringView URI,
                                                   UnicodeStringView Name) const {
  Lock lock(FCriticalSection);
  for (const TRemRegEntry& e : URIMAP)
    if (e.URI == URI && e.Name == Name) return e.Info;
  return nullptr;
}

const TTypeInfo* TRemotableTypeRegistry::GetSimpleBuiltInXSDType(UnicodeStringView URI,
                                                                 UnicodeStringView Name) const {
  return URIToInfo(URI, Name);
}

const TClass* TRemotableTypeRegistry::GetRegisteredClassForBuiltInXSD(
    UnicodeStringView Name) const {
  return URIToClass(XMLSchemaNameSpace, Name);
}

const TTypeInfo* TRemotableTypeRegistry::XSDToTypeInfo(UnicodeStringView URI,
                                                       UnicodeStringView Name) const {
  Lock lock(FCriticalSection);
  // A class registered under the name, else the first type registered under
  // it: under the XML Schema namespace (the simple built-in types) as under
  // any other.
  const TClass* cls = URIToClass(URI, Name);
  const TTypeInfo* result = cls ? &cls->Info : URIToInfo(URI, Name);
  if (!result && (Name == XMLBase64Types[0] || Name == XMLBase64Types[1])) {
    result = GetSimpleBuiltInXSDType(URI, XMLBase64Types[0]);
    if (!result) result = GetSimpleBuiltInXSDType(URI, XMLBase64Types[1]);
  }
  return result;
}

bool TRemotableTypeRegistry::IsClassScalar(const TClass* Cls) const {
  Lock lock(FCriticalSection);
  const TRemRegEntry* e = FindByClass(Cls);
  return e && e->IsScalar;
}

TObjMultiOptions TRemotableTypeRegistry::ClassOptions(const TClass* Cls) const {
  Lock lock(FCriticalSection);
  const TRemRegEntry* e = FindByClass(Cls);
  return e ? e->MultiRefOpt : ocDefault;
}

TSerializationOptions TRemotableTypeRegistry::SerializeOptions(const TClass* Cls) const {
  return Cls ? SerializeOptions(&Cls->Info) : TSerializationOptions();
}

TSerializationOptions TRemotableTypeRegistry::SerializeOptions(const TTypeInfo* Info) const {
  Lock lock(FCriticalSection);
  const TRemRegEntry* e = FindByInfo(Info);
  return e ? e->SerializationOpt : TSerializationOptions();
}

// Calls itself for the parent class with the lock held, which the
// re-entrant lock allows.
const UnicodeString* TRemotableTypeRegistry::FindExternalPropName(const TTypeInfo* Info,
                                                                  UnicodeStringView Prop) const {
  // The class and then its ancestors below TRemotable, under one lock.
  Lock lock(FCriticalSection);
  while (Info) {
    if (const TRemRegEntry* e = FindByInfo(Info))
      for (const ExtNameMapItem& m : e->PropNameMap)
        if (m.Name == Prop) return m.StoredExtName;
    const TClass* cls = Info->Class();
    const TClass* parent = cls ? cls->Parent : nullptr;
    if (!parent || parent == &TRemotable::StaticClass || parent == &TObject::StaticClass) break;
    Info = &parent->Info;
  }
  return nullptr;
}

UnicodeString TRemotableTypeRegistry::GetExternalPropName(const TTypeInfo* Info,
                                                          UnicodeStringView Prop) const {
  const UnicodeString* ext = FindExternalPropName(Info, Prop);
  return ext ? *ext : UnicodeString(Prop);
}

UnicodeString TRemotableTypeRegistry::GetInternalPropName(const TTypeInfo* Info,
                                                          UnicodeStringView ExtName) const {
  Lock lock(FCriticalSection);
  if (const TRemRegEntry* e = FindByInfo(Info))
    for (const ExtNameMapItem& m : e->PropNameMap)
      if (m.ExtName == ExtName) return m.Name;
  return UnicodeString(ExtName);
}

const TTypeInfo* TRemotableTypeRegistry::VariantToInfo(const Variant& Value) const {
  switch (Value.VarType()) {
    case varSmallint:
      return &rtl::TypeInfo_SmallInt;
    case varInteger:
      return &rtl::TypeInfo_Integer;
    case varSingle:
      return &rtl::TypeInfo_Single;
    case varDouble:
    case varCurrency:
      return &rtl::TypeInfo_Double;
    case varDate: {
      // The date-time value type registered as "dateTime". The holder class
      // registered under the same name comes first and is skipped: a date
      // variant holds a value, not an object.
      static constexpr UnicodeStringView kNamespaces[] = {
          XMLSchemaNamespaces[2], XMLSchemaNamespaces[0], XMLSchemaNamespaces[1],
          XMLSchemaNamespaces[2]};
      Lock lock(FCriticalSection);
      for (UnicodeStringView ns : kNamespaces)
        for (const TRemRegEntry& e : URIMAP)
          if (!e.ClassType && e.URI == ns && e.Name == u"dateTime") return e.Info;
      break;  // none registered: unsupported, like any type without an XML form
    }
    case varOleStr:
    case varString:
      return &rtl::TypeInfo_WideString;
    case varBoolean:
      return &rtl::TypeInfo_Boolean;
    case varVariant:
      return &rtl::TypeInfo_Variant;
    case varShortInt:
      return &rtl::TypeInfo_ShortInt;
    case varByte:
      return &rtl::TypeInfo_Byte;
    case varWord:
      return &rtl::TypeInfo_Word;
    case varLongWord:
      return &rtl::TypeInfo_Cardinal;
    case varInt64:
      return &rtl::TypeInfo_Int64;
    case varUString:
      return &rtl::TypeInfo_UnicodeString;
    case varDispatch:
      throw ETypeRegistryException(u"varDispatch type not supported");
    case varError:
      throw ETypeRegistryException(u"varError type not supported");
    default:
      break;
  }
  throw ETypeRegistryException(u"Unsuppported variant type %d",
                               {static_cast<int>(Value.VarType())});
}

std::vector<TRemRegEntry> TRemotableTypeRegistry::Entries() const {
  Lock lock(FCriticalSection);
  return URIMAP;
}

// ---- Built-in registrations ---------------------------------------------------------

void RegisterBuiltInTypes(TRemotableTypeRegistry& r) {
  using namespace rtl;
  const UnicodeStringView xsd = XMLSchemaNameSpace;
  auto xs = [&](const TTypeInfo& info, std::initializer_list<UnicodeStringView> names) {
    for (UnicodeStringView name : names) r.RegisterXSInfo(&info, xsd, name);
  };

  xs(TypeInfo_Boolean, {u"boolean"});
  xs(TypeInfo_ShortInt, {u"byte"});
  xs(TypeInfo_Byte, {u"unsignedByte"});
  xs(TypeInfo_SmallInt, {u"short"});
  xs(TypeInfo_Word, {u"unsignedShort"});
  xs(TypeInfo_Cardinal, {u"unsignedInt"});
  xs(TypeInfo_Integer, {u"int"});
  xs(TypeInfo_Int64, {u"long", u"unsignedLong", u"integer"});
  xs(TypeInfo_Single, {u"float"});
  for (const TTypeInfo* t :
       {&TypeInfo_Double, &TypeInfo_Extended, &TypeInfo_Currency, &TypeInfo_Comp, &TypeInfo_Real})
    xs(*t, {u"double"});
  xs(TypeInfo_AnsiString, {u"string",
                           u"anyURI",
                           u"ENTITY",
                           u"ENTITIES",
                           u"gDay",
                           u"gMonth",
                           u"gMonthDay",
                           u"gYear",
                           u"gYearMonth",
                           u"ID",
                           u"IDREF",
                           u"IDREFS",
                           u"language",
                           u"Name",
                           u"NMTOKEN",
                           u"NMTOKENS",
                           u"normalizedString",
                           u"NOTATION",
                           u"NCName",
                           u"QName",
                           u"token",
                           u"lang"});
  for (const TTypeInfo* t : {&TypeInfo_WideString, &TypeInfo_UnicodeString, &TypeInfo_ShortString,
                             &TypeInfo_Char, &TypeInfo_WideChar})
    xs(*t, {u"string"});
  xs(TypeInfo_TByteDynArray, {u"base64Binary"});
  xs(TypeInfo_Variant, {u"anyType", u"anySimpleType", u"ur-type"});
  xs(TypeInfo_OleVariant, {u"anyType"});
  r.RegisterXSClass(&TXMLData::StaticClass, xsd, u"schema", u"", false, ocNoMultiRef);
  r.RegisterXSInfo(&TypeInfo_TByteDynArray, SOAPEncodingNamespaces[0], u"base64");

  for (const TTypeInfo* t :
       {&TypeInfo_TIntegerDynArray, &TypeInfo_TCardinalDynArray, &TypeInfo_TWordDynArray,
        &TypeInfo_TSmallIntDynArray, &TypeInfo_TByteDynArray, &TypeInfo_TShortIntDynArray,
        &TypeInfo_TInt64DynArray, &TypeInfo_TLongWordDynArray, &TypeInfo_TSingleDynArray,
        &TypeInfo_TDoubleDynArray, &TypeInfo_TBooleanDynArray, &TypeInfo_TStringDynArray,
        &TypeInfo_TWideStringDynArray})
    r.RegisterXSInfo(t, SOAPLibraryTypesNamespace, t->Name);

  r.RegisterXSClass(&TSOAPAttachment::StaticClass, xsd, u"base64Binary", u"", false, ocNoMultiRef);
  r.RegisterXSClass(&TSOAPAttachment::StaticClass, SOAPLibraryTypesNamespace,
                    TSOAPAttachment::StaticClass.ClassName(), u"", false, ocNoMultiRef);

  RegisterXSBuiltInHolders(r);

  xs(TypeInfo_TDateTime, {u"dateTime"});
  for (const TTypeInfo* t : {&TypeInfo_ByteBool, &TypeInfo_WordBool, &TypeInfo_LongBool})
    xs(*t, {u"boolean"});
}

}  // namespace delvan::soap
