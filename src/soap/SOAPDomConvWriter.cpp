// The literal value writer of TSOAPDomConv: native values, remotable
// objects and dynamic arrays turned into XML elements, with the encoded
// style's typing and multi-reference nodes where that style differs.
#include <cmath>
#include <optional>
#include <unordered_map>

#include "rtl/DynArrayTypes.h"
#include "rtl/Format.h"
#include "soap/InvokeRegistry.h"
#include "soap/NativeData.h"
#include "soap/SOAPConst.h"
#include "soap/SOAPDomConv.h"
#include "soap/TypeRegistry.h"
#include "soap/XSBuiltIns.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

using rtl::IntToStr;
using xml::IXMLNode;

// Objects written by reference in the encoded style, in the order their
// first href was written; each is written once under the root node.
struct TSOAPDomConv::TWriterMultiRef {
  struct TEntry {
    TObject* Instance;
    UnicodeString ID;
    UnicodeString TypeURI;
    UnicodeString TypeName;
  };
  std::vector<TEntry> Entries;
  std::unordered_map<const TObject*, std::size_t> Index;
};

namespace {

// The schema-instance attribute names and namespace, asked of many nodes: made once.
const UnicodeString& NilAttr() {
  static const UnicodeString text(u"nil");
  return text;
}
const UnicodeString& TypeAttr() {
  static const UnicodeString text(u"type");
  return text;
}
const UnicodeString& XsiNamespace() {
  static const UnicodeString text(XMLSchemaInstNameSpace);
  return text;
}

[[noreturn]] void RaiseNotRegistered(UnicodeStringView name) {
  throw ESOAPDomConvertError(u"Remotable Type %s not registered", {name});
}

[[noreturn]] void RaiseCycle(const TObject* obj) {
  throw ESOAPDomConvertError(
      u"Must enable multiref output for objects when serializing a graph of objects - (%s)",
      {obj->ClassName()});
}

// Restores the declared class and instance of the value being written.
class TRootScope {
 public:
  TRootScope(const TClass*& cls, TObject*& inst, const TClass* newCls, TObject* newInst)
      : FCls(cls), FInst(inst), FOldCls(cls), FOldInst(inst) {
    cls = newCls;
    inst = newInst;
  }
  ~TRootScope() {
    FCls = FOldCls;
    FInst = FOldInst;
  }
  TRootScope(const TRootScope&) = delete;
  TRootScope& operator=(const TRootScope&) = delete;

 private:
  const TClass*& FCls;
  TObject*& FInst;
  const TClass* FOldCls;
  TObject* FOldInst;
};

// Keeps obj in the list of objects being written for the scope's duration.
class TWritingScope {
 public:
  TWritingScope(std::vector<const TObject*>& list, const TObject* obj) : FList(list) {
    for (const TObject* o : list)
      if (o == obj) RaiseCycle(obj);
    list.push_back(obj);
  }
  ~TWritingScope() { FList.pop_back(); }
  TWritingScope(const TWritingScope&) = delete;
  TWritingScope& operator=(const TWritingScope&) = delete;

 private:
  std::vector<const TObject*>& FList;
};

UnicodeString Base64(const std::uint8_t* data, std::size_t n) {
  static constexpr char16_t kAlphabet[] =
      u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  UnicodeString out;
  out.reserve((n + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const std::uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (n - i == 1) {
    const std::uint32_t v = data[i] << 16;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += u"==";
  } else if (n - i == 2) {
    const std::uint32_t v = (data[i] << 16) | (data[i + 1] << 8);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += u'=';
  }
  return out;
}

bool IsByteArray(const rtl::TTypeInfo* info) {
  if (info->Kind != rtl::tkDynArray) return false;
  const rtl::TTypeInfo* el = info->DynArray()->ElType;
  return el && el->Kind == rtl::tkInteger && el->Ordinal()->OrdType == rtl::otUByte;
}

UnicodeString ByteArrayText(void* array, const rtl::TTypeInfo* info) {
  const rtl::TDynArrayTypeData* da = info->DynArray();
  const std::size_t n = da->Length(array);
  return Base64(n ? static_cast<const std::uint8_t*>(da->Element(array, 0)) : nullptr, n);
}

bool IsBooleanType(const rtl::TTypeInfo* info) {
  const rtl::TTypeInfo* base = info->Ordinal()->BaseType;
  return base == &rtl::TypeInfo_Boolean || base == &rtl::TypeInfo_ByteBool ||
         base == &rtl::TypeInfo_WordBool || base == &rtl::TypeInfo_LongBool;
}

UnicodeString FloatText(long double v) {
  if (std::isnan(v)) return u"NaN";
  if (std::isinf(v)) return v < 0 ? u"-INF" : u"INF";
  return SoapFloatToStr(static_cast<double>(v));
}

UnicodeString EnumText(std::int64_t v, const rtl::TTypeInfo* info) {
  if (IsBooleanType(info)) return v != 0 ? u"true" : u"false";
  const rtl::TOrdinalTypeData* od = info->Ordinal();
  std::span<const std::u16string_view> names = od->Names;
  if (names.empty() && od->BaseType && od->BaseType != info) names = od->BaseType->Ordinal()->Names;
  // A value outside the name table has no name to send: its number goes instead.
  if (v < 0 || static_cast<std::uint64_t>(v) >= names.size()) return IntToStr(v);
  return RemTypeRegistry().GetExternalPropName(info, names[static_cast<std::size_t>(v)]);
}

// Kinds past the message table are named by soap::TypeKindName (a Unicode
// string as "LString", the others as "Unknown").
[[noreturn]] void RaiseNoText(const rtl::TTypeInfo* info) {
  throw ESOAPDomConvertError(
      u"Internal error: data type kind %s cannot be converted to and from text",
      {Format(u"%s:(%s) ", {soap::TypeKindName(info->Kind), info->Name})});
}

// The text of the scalar at p, of type info.
UnicodeString ScalarText(void* p, const rtl::TTypeInfo* info) {
  switch (info->Kind) {
    case rtl::tkInteger:
      return IntToStr(ReadOrdinal(p, info));
    case rtl::tkEnumeration:
      return EnumText(ReadOrdinal(p, info), info);
    case rtl::tkChar:  // the byte as the character of the same number, as the reader takes it back
      return UnicodeString(1,
                           static_cast<char16_t>(static_cast<std::uint8_t>(ReadOrdinal(p, info))));
    case rtl::tkWChar:
      return UnicodeString(1, static_cast<char16_t>(ReadOrdinal(p, info)));
    case rtl::tkInt64: {
      const std::int64_t v = *static_cast<const std::int64_t*>(p);
      const rtl::TInt64TypeData* d = info->Int64();
      if (d->MinValue > d->MaxValue) {  // the unsigned 64-bit type
        const std::uint64_t u = static_cast<std::uint64_t>(v);
        return u > static_cast<std::uint64_t>(INT64_MAX) ? Format(u"%d", {u}) : IntToStr(v);
      }
      return IntToStr(v);
    }
    case rtl::tkFloat:
      if (info == &rtl::TypeInfo_TDateTime)
        return DateTimeToXMLTime(*static_cast<const double*>(p), true);
      return FloatText(ReadFloat(p, info));
    case rtl::tkString:
    case rtl::tkLString:
      return static_cast<const AnsiString*>(p)->Decode();
    case rtl::tkWString:
    case rtl::tkUString:
      return *static_cast<const UnicodeString*>(p);
    case rtl::tkDynArray:
      if (IsByteArray(info)) return ByteArrayText(p, info);
      [[fallthrough]];
    default:
      RaiseNoText(info);
  }
}

// The prefix bound to uri as seen from node. A default declaration, or a
// prefix rebound to another namespace further in, does not count: then a
// new prefix is generated and declared on root.
UnicodeString PrefixFor(IXMLNode* root, IXMLNode* node, const UnicodeString& uri) {
  if (IntfPtr<IXMLNode> decl = node->FindNamespaceDecl(uri)) {
    const UnicodeString name = decl->GetNodeName();
    if (xml::ExtractPrefix(name) == u"xmlns") {
      UnicodeString prefix = xml::ExtractLocalName(name);
      if (xml::SameNamespace(node->FindNamespaceURI(prefix), uri)) return prefix;
    }
  }
  IntfPtr<xml::IXMLDocument> doc = node->GetOwnerDocument();
  UnicodeString prefix = doc ? doc->GeneratePrefix(node) : UnicodeString(u"NS1");
  UnicodeString attr = u"xmlns:";
  attr += prefix;
  root->SetAttributeNS(attr, UnicodeString(xml::kXMLNSNamespaceURI), Variant(uri));
  return prefix;
}

void SetNil(IXMLNode* node) { node->SetAttributeNS(NilAttr(), XsiNamespace(), Variant(u"true")); }

// The last element child of node, or node itself when it has none.
IntfPtr<IXMLNode> LastElementChild(IXMLNode* node) {
  IntfPtr<xml::IXMLNodeList> kids = node->GetChildNodes();
  for (std::int32_t i = kids->GetCount() - 1; i >= 0; --i) {
    IntfPtr<IXMLNode> kid = kids->Get(i);
    if (kid->GetNodeType() == xml::ntElement) return kid;
  }
  return IntfPtr<IXMLNode>(node);
}

// The classes of an instance below TRemotable with their registered
// namespaces, most derived first; decides where a property's element goes
// when the hierarchy spans several namespaces.
struct TClassNamespaces {
  struct TItem {
    const TClass* Cls;
    const UnicodeString* URI;  // the type registry's
    bool Registered;
  };
  std::vector<TItem> Items;
  bool PerClass = false;  // several namespaces and an ancestor declares properties

  explicit TClassNamespaces(const TClass* cls) {
    bool ancestorHasProps = false, several = false;
    const UnicodeString* first = nullptr;
    for (const TClass* c = cls; c && c != &TRemotable::StaticClass && c != &TObject::StaticClass;
         c = c->Parent) {
      const UnicodeString *uri, *name;
      const bool registered = RemTypeRegistry().ClassToURI(c, uri, name, nullptr, false);
      Items.push_back({c, uri, registered});
      if (c != cls && !c->Props.empty()) ancestorHasProps = true;
    }
    for (const TItem& it : Items) {
      if (!it.Registered) continue;
      if (!first)
        first = it.URI;
      else if (*first != *it.URI)
        several = true;
    }
    PerClass = several && ancestorHasProps;
  }

  // The namespace of the class that declares prop; null when unknown.
  const UnicodeString* DeclaringURI(const rtl::TPropInfo* prop) const {
    for (const TItem& it : Items)
      if (!it.Cls->Props.empty() && prop >= it.Cls->Props.data() &&
          prop < it.Cls->Props.data() + it.Cls->Props.size())
        return it.Registered ? it.URI : nullptr;
    return nullptr;
  }
};

}  // namespace

bool TSOAPDomConv::IsLiteralStyle() const {
  return FOptions.Contains(soLiteralParams) || FOptions.Contains(soDocument);
}

// ---- Dispatch on the type kind --------------------------------------------------------

void TSOAPDomConv::ConvertNativeDataToSoap2(IXMLNode* RootNode, IXMLNode* ParentNode,
                                            const UnicodeString& Name, const UnicodeString& URI,
                                            const UnicodeString& TypeName,
                                            const rtl::TTypeInfo* Info, void* P,
                                            std::int32_t Flags) {
  WriteValue(RootNode, ParentNode, Name, URI, TypeName, Info, P, Flags);
}

void TSOAPDomConv::ConvertNativeDataToSoap(IXMLNode* RootNode, IXMLNode* ParentNode,
                                           const UnicodeString& Name, const UnicodeString& URI,
                                           const rtl::TTypeInfo* Info, void* P, int /*Index*/) {
  WriteValue(RootNode, ParentNode, Name, URI, UnicodeString(), Info, P, 0);
}

void TSOAPDomConv::WriteValue(IXMLNode* RootNode, IXMLNode* ParentNode, const UnicodeString& Name,
                              const UnicodeString& URI, const UnicodeString& TypeName,
                              const rtl::TTypeInfo* Info, void* P, std::int32_t Flags) {
  const UnicodeString *typeURI, *typeName;
  if (!RemTypeRegistry().TypeInfoToXSD(Info, typeURI, typeName)) RaiseNotRegistered(Info->Name);
  if (IsScalarKind(Info->Kind)) {
    AddScalarNode(RootNode, ParentNode, Name, URI, *typeURI, *typeName, ScalarText(P, Info));
    return;
  }
  switch (Info->Kind) {
    case rtl::tkClass: {
      TRootScope scope(FRootClass, FRootInstance, Info->Class(), *static_cast<TObject* const*>(P));
      ConvertObjectToSOAP(Name, URI, TypeName, P, RootNode, ParentNode);
      return;
    }
    case rtl::tkDynArray: {
      const bool inlined = (Flags & rtl::IS_UNBD) != 0 ||
                           RemTypeRegistry().SerializeOptions(Info).Contains(xoInlineArrays);
      ConvertNativeArrayToSoap(RootNode, ParentNode, Name, URI, TypeName, Info, P, inlined);
      return;
    }
    case rtl::tkVariant:
      WriteVariant(RootNode, ParentNode, Name, URI, *static_cast<const Variant*>(P));
      return;
    default:
      throw ESOAPDomConvertError(
          u"Datatype of TypeKind: %s not supported as argument for remote invocation",
          {soap::TypeKindName(Info->Kind)});
  }
}

// ---- Registry answers per message ------------------------------------------------------

// Filled lazily, at the point where the writer would ask the registry, so a
// message asks each question once per class instead of once per object.
struct TSOAPDomConv::TWriterCache {
  struct TProp {
    bool Named = false;
    UnicodeString ExtName, AttrList, ExplicitNS;
    bool HasExplicitNS = false;
    bool Typed = false;
    bool TypeKnown = false;
    const UnicodeString* TypeURI = nullptr;  // the type registry's texts
    const UnicodeString* TypeName = nullptr;
  };
  struct TClassEntry {
    bool HasURI = false;
    bool URIKnown = false;
    const UnicodeString* URI = nullptr;  // the type registry's texts
    const UnicodeString* Name = nullptr;
    bool HasOptions = false;
    TSerializationOptions Options;
    bool HasProps = false;
    std::vector<TProp> PropInfo;  // parallel to the class's property list
    std::optional<TClassNamespaces> Namespaces;
  };
  std::unordered_map<const TClass*, TClassEntry> Classes;
  std::uint64_t Generation = 0;  // the type registry's, read before the first answer
};

void TSOAPDomConv::DeleteWriterCache(TWriterCache* cache) { delete cache; }

TSOAPDomConv::TWriterCacheScope::TWriterCacheScope(TSOAPDomConv& conv)
    : FConv(conv), FOwns(!conv.FWriterCache) {
  if (!FOwns) return;
  const std::uint64_t generation = RemTypeRegistry().Generation();
  if (FConv.FKeptWriterCache && FConv.FKeptWriterCache->Generation == generation) {
    FConv.FWriterCache = std::move(FConv.FKeptWriterCache);
    return;
  }
  FConv.FKeptWriterCache.reset();
  FConv.FWriterCache.reset(new TWriterCache);
  FConv.FWriterCache->Generation = generation;
}

// The answers are kept for the next message, also after a failed one: each
// is filled completely before it is marked as known.
TSOAPDomConv::TWriterCacheScope::~TWriterCacheScope() {
  if (FOwns) FConv.FKeptWriterCache = std::move(FConv.FWriterCache);
}

bool TSOAPDomConv::ClassURI(const TClass* Cls, const UnicodeString*& URI,
                            const UnicodeString*& Name) {
  if (!FWriterCache) return RemTypeRegistry().ClassToURI(Cls, URI, Name);
  TWriterCache::TClassEntry& e = FWriterCache->Classes[Cls];
  if (!e.HasURI) {
    e.URIKnown = RemTypeRegistry().ClassToURI(Cls, e.URI, e.Name);
    e.HasURI = true;
  }
  URI = e.URI;
  Name = e.Name;
  return e.URIKnown;
}

TSerializationOptions TSOAPDomConv::ClassSerializeOptions(const TClass* Cls) {
  if (!FWriterCache) return RemTypeRegistry().SerializeOptions(Cls);
  TWriterCache::TClassEntry& e = FWriterCache->Classes[Cls];
  if (!e.HasOptions) {
    e.Options = RemTypeRegistry().SerializeOptions(Cls);
    e.HasOptions = true;
  }
  return e.Options;
}

// ---- Objects --------------------------------------------------------------------------

bool TSOAPDomConv::IsMultiRefCandidate(const TClass* Cls) const {
  if (IsLiteralStyle() || !FOptions.Contains(soSendMultiRefObj) || FOptions.Contains(soXXXXHdr))
    return false;
  return !RemTypeRegistry().IsClassScalar(Cls) &&
         RemTypeRegistry().ClassOptions(Cls) != ocNoMultiRef;
}

void TSOAPDomConv::WriteHref(IXMLNode* ParentNode, const UnicodeString& Name, TObject* Instance,
                             const UnicodeString& TypeURI, const UnicodeString& TypeName) {
  if (!FMultiRef) FMultiRef = std::make_shared<TWriterMultiRef>();
  auto [it, added] = FMultiRef->Index.try_emplace(Instance, FMultiRef->Entries.size());
  // Multi-reference ids come from the same counter as the objects' reference ids.
  if (added) FMultiRef->Entries.push_back({Instance, IntToStr(FIDs++), TypeURI, TypeName});
  IntfPtr<IXMLNode> node = ParentNode->AddChild(Name, UnicodeString(), false);
  UnicodeString href = u"#";
  href += FMultiRef->Entries[it->second].ID;
  node->SetAttribute(u"href", Variant(href));
}

void TSOAPDomConv::FinalizeMultiRefNodes(IXMLNode* RootNode) {
  if (!FMultiRef) return;
  // Writing an entry may add further entries; they are written in turn.
  for (std::size_t i = 0; i < FMultiRef->Entries.size(); ++i) {
    const TWriterMultiRef::TEntry entry = FMultiRef->Entries[i];
    TWritingScope writing(FObjsWriting, entry.Instance);
    UnicodeString refID;
    IntfPtr<IXMLNode> node;
    if (auto* rem = rtl::ObjectAs<TRemotable>(entry.Instance))
      node = rem->ObjectToSOAP(RootNode, RootNode, this, entry.TypeName, entry.TypeURI,
                               entry.TypeURI, {}, refID);
    else
      node = ObjInstanceToSOAP(entry.Instance, RootNode, RootNode, entry.TypeName, entry.TypeURI,
                               entry.TypeURI, {}, refID);
    if (node) node->SetAttribute(u"id", Variant(entry.ID));
  }
}

// The list of objects being written and the declared class are left to the
// scopes that set them: an object may call this while it is being written.
void TSOAPDomConv::ResetMultiRef() { FMultiRef.reset(); }

void TSOAPDomConv::ConvertObjectToSOAP(const UnicodeString& Name, const UnicodeString& URI,
                                       const UnicodeString& /*TypeName*/, void* ObjP,
                                       IXMLNode* RootNode, IXMLNode* ParentNode) {
  TObject* obj = *static_cast<TObject* const*>(ObjP);
  if (!obj) {
    CreateNULLNode(RootNode, ParentNode, Name);
    return;
  }
  if (!obj->InheritsFrom(&TRemotable::StaticClass))
    throw ESOAPDomConvertError(
        u"Conversion from class %s to SOAP is not supported - SOAP classes must derive from "
        u"TRemotable",
        {obj->ClassName()});
  const UnicodeString *childNS, *typeName;
  if (!ClassURI(obj->ClassType(), childNS, typeName)) RaiseNotRegistered(obj->ClassName());
  if (IsMultiRefCandidate(obj->ClassType())) {
    WriteHref(ParentNode, Name, obj, *childNS, *typeName);
    return;
  }
  TWritingScope writing(FObjsWriting, obj);
  CreateObjectNode(obj, RootNode, ParentNode, Name, URI, *childNS, {ocoDontPrefixNode});
}

UnicodeString TSOAPDomConv::CreateObjectNode(TObject* Instance, IXMLNode* RootNode,
                                             IXMLNode* ParentNode, const UnicodeString& Name,
                                             const UnicodeString& URI,
                                             const UnicodeString& ChildNamespace,
                                             TObjectConvertOptions ObjConvOpts) {
  UnicodeString refID;
  if (auto* rem = rtl::ObjectAs<TRemotable>(Instance))
    rem->ObjectToSOAP(RootNode, ParentNode, this, Name, URI, ChildNamespace, ObjConvOpts, refID);
  else
    ObjInstanceToSOAP(Instance, RootNode, ParentNode, Name, URI, ChildNamespace, ObjConvOpts,
                      refID);
  return refID;
}

IntfPtr<IXMLNode> TSOAPDomConv::ObjInstanceToSOAP(
    TObject* Instance, IXMLNode* RootNode, IXMLNode* ParentNode, const UnicodeString& NodeName,
    const UnicodeString& NodeNamespace, const UnicodeString& ChildNamespace,
    TObjectConvertOptions ObjConvOpts, UnicodeString& RefID) {
  RefID = IntToStr(FIDs++);
  const TClass* cls = Instance->ClassType();
  TSerializationOptions serialOpts = ClassSerializeOptions(cls);
  if (auto* rem = rtl::ObjectAs<TRemotable>(Instance))
    serialOpts = serialOpts | rem->SerializationOptions();
  const bool usePrefix = !ObjConvOpts.Contains(ocoDontPrefixNode);
  const bool serializeProps = !ObjConvOpts.Contains(ocoDontSerializeProps);
  const bool canHaveType =
      !ObjConvOpts.Contains(ocoDontPutTypeAttr) && !serialOpts.Contains(xoLiteralParam);

  IntfPtr<IXMLNode> node;
  const bool holder = serialOpts.Contains(xoHolderClass);
  if (holder)
    node = IntfPtr<IXMLNode>(ParentNode);
  else if (NodeNamespace.empty())
    node = ParentNode->AddChild(NodeName, UnicodeString(), false);
  else
    node = ParentNode->AddChild(NodeName, NodeNamespace, usePrefix);

  // A holder's parent is not the object's own element: it gets no type.
  if (canHaveType && !holder) {
    const UnicodeString *typeURI, *typeName;
    if (ClassURI(cls, typeURI, typeName)) {
      const bool forced = Instance == FRootInstance && FRootClass && cls != FRootClass &&
                          cls->InheritsFrom(FRootClass);
      SetNodeTypeEx(RootNode, node.get(), *typeURI, *typeName, forced);
    }
  }
  if (serializeProps) WriteObjectProps(Instance, RootNode, node.get(), ChildNamespace, serialOpts);
  return node;
}

void TSOAPDomConv::WriteObjectProps(TObject* Instance, IXMLNode* RootNode, IXMLNode* Node,
                                    const UnicodeString& ChildNamespace,
                                    TSerializationOptions SerialOpts) {
  const TClass* cls = Instance->ClassType();
  const std::vector<const rtl::TPropInfo*>& props = rtl::GetPropList(cls);
  TWriterCache::TClassEntry* cached = FWriterCache ? &FWriterCache->Classes[cls] : nullptr;
  if (cached && !cached->HasProps) {
    cached->PropInfo.resize(props.size());
    cached->HasProps = true;
  }
  if (props.empty()) return;
  if (SerialOpts.Contains(xoSimpleTypeWrapper) && props.size() == 1) {
    Node->SetText(GetObjectPropAsText(Instance, props[0]));
    return;
  }
  TRemotableTypeRegistry& reg = RemTypeRegistry();
  const bool literal = IsLiteralStyle();
  const bool dontSendEmpty = FOptions.Contains(soDontSendEmptyNodes);
  std::optional<TClassNamespaces> uncachedNamespaces;
  std::optional<TClassNamespaces>& classNamespaces =
      cached ? cached->Namespaces : uncachedNamespaces;

  for (std::size_t propIndex = 0; propIndex < props.size(); ++propIndex) {
    const rtl::TPropInfo* prop = props[propIndex];
    TWriterCache::TProp* answers = cached ? &cached->PropInfo[propIndex] : nullptr;
    const std::int32_t flags = prop->Flags();
    // Optional: the stored-test decides; a constant stored False marks an
    // attribute instead (below).
    if ((flags & rtl::IS_OPTN) && prop->IsStored && !prop->IsStored(Instance)) continue;
    if (flags & rtl::IS_TEXT) {
      Node->SetText(GetObjectPropAsText(Instance, prop));
      continue;
    }

    // The answers are kept in the message's cache, or for this property alone.
    TWriterCache::TProp uncached;
    TWriterCache::TProp& a = answers ? *answers : uncached;
    if (!a.Named) {
      a.ExtName = reg.GetExternalPropName(&cls->Info, prop->Name);
      if (!a.ExtName.empty() && a.ExtName[0] == u'[') a.AttrList = a.ExtName;
      if (!a.AttrList.empty()) {
        if (!GetRegInfo(a.AttrList, iaExternalName, a.ExtName))
          a.ExtName = UnicodeString(prop->Name);
        a.HasExplicitNS = GetRegInfo(a.AttrList, iaNamespace, a.ExplicitNS);
      }
      a.Named = true;
    }
    const UnicodeString& extName = a.ExtName;
    const UnicodeString& attrList = a.AttrList;
    const bool hasExplicitNS = a.HasExplicitNS;

    const rtl::TTypeInfo* type = prop->PropType;
    if (!type) RaiseNotRegistered(prop->Name);
    if (!a.Typed) {
      a.TypeKnown = reg.TypeInfoToXSD(type, a.TypeURI, a.TypeName);
      a.Typed = true;
    }
    if (!a.TypeKnown) RaiseNotRegistered(type->Name);
    const UnicodeString& typeURI = *a.TypeURI;
    const UnicodeString& typeName = *a.TypeName;

    static const UnicodeString kNoNamespace;
    const UnicodeString* elemURI;
    if (hasExplicitNS)
      elemURI = &a.ExplicitNS;
    else if (flags & rtl::IS_UNQL)
      elemURI = &kNoNamespace;
    else if (!literal)
      elemURI = &typeURI;
    else if (flags & rtl::IS_REF)
      elemURI = &typeURI;
    else {
      if (!classNamespaces) classNamespaces.emplace(cls);
      const UnicodeString* declaring =
          classNamespaces->PerClass ? classNamespaces->DeclaringURI(prop) : nullptr;
      elemURI = declaring ? declaring : &ChildNamespace;
    }

    const rtl::TTypeKind kind = type->Kind;
    const bool xsClass =
        kind == rtl::tkClass && type->Class()->InheritsFrom(&TRemotableXS::StaticClass);
    // For a dynamic array a constant stored False means unbounded, not attribute.
    const bool asAttribute =
        ((flags & rtl::IS_ATTR) || (prop->StoredConstFalse && kind != rtl::tkDynArray)) &&
        kind != rtl::tkVariant && (kind != rtl::tkClass || xsClass);
    if (asAttribute) {
      UnicodeString text;
      if (kind == rtl::tkClass) {
        TObject* obj = prop->GetObj ? prop->GetObj(Instance)
                                    : *static_cast<TObject* const*>(prop->FieldAddress(Instance));
        if (!obj) continue;
        text = static_cast<TRemotableXS*>(obj)->NativeToXS();
      } else {
        text = GetObjectPropAsText(Instance, prop);
      }
      if (dontSendEmpty && text.empty()) continue;
      IntfPtr<IXMLNode> target = SerialOpts.Contains(xoAttributeOnLastMember)
                                     ? LastElementChild(Node)
                                     : IntfPtr<IXMLNode>(Node);
      if (((flags & rtl::IS_QUAL) || hasExplicitNS) && !elemURI->empty()) {
        UnicodeString qname = PrefixFor(RootNode, target.get(), *elemURI);
        qname += u':';
        qname += extName;
        target->SetAttributeNS(qname, *elemURI, Variant(text));
      } else {
        target->SetAttribute(extName, Variant(text));
      }
      continue;
    }

    switch (kind) {
      case rtl::tkClass: {
        TObject* obj = prop->GetObj ? prop->GetObj(Instance)
                                    : *static_cast<TObject* const*>(prop->FieldAddress(Instance));
        if (!obj) {
          if (dontSendEmpty) break;
          if (literal && !(flags & rtl::IS_REF))
            AddNilNode(Node, extName, *elemURI);
          else
            CreateNULLNode(RootNode, Node, extName);
          break;
        }
        if (obj->InheritsFrom(&TRemotable::StaticClass) && IsMultiRefCandidate(obj->ClassType())) {
          const UnicodeString *objURI, *objName;
          if (!reg.ClassToURI(obj->ClassType(), objURI, objName))
            RaiseNotRegistered(obj->ClassName());
          WriteHref(Node, extName, obj, *objURI, *objName);
          break;
        }
        TWritingScope writing(FObjsWriting, obj);
        TRootScope scope(FRootClass, FRootInstance, type->Class(), obj);
        TObjectConvertOptions opts;
        if (obj->InheritsFrom(&TRemotableXS::StaticClass)) opts.Include(ocoDontPrefixNode);
        CreateObjectNode(obj, RootNode, Node, extName, *elemURI, typeURI, opts);
        break;
      }
      case rtl::tkDynArray: {
        if (!prop->FieldAddress) RaiseNoText(type);
        const bool inlined =
            SerialOpts.Contains(xoInlineArrays) || (flags & rtl::IS_UNBD) || prop->StoredConstFalse;
        const UnicodeString& arrayTypeName = !attrList.empty() && !inlined ? attrList : typeURI;
        ConvertNativeArrayToSoap(RootNode, Node, extName, *elemURI, arrayTypeName, type,
                                 prop->FieldAddress(Instance), inlined);
        break;
      }
      case rtl::tkVariant:
        if (!prop->FieldAddress) RaiseNoText(type);
        WriteVariant(RootNode, Node, extName, *elemURI,
                     *static_cast<const Variant*>(prop->FieldAddress(Instance)));
        break;
      default: {
        // A string field is written from where it lies, without a copy.
        UnicodeString scratch;
        const UnicodeString* text = &scratch;
        if ((kind == rtl::tkUString || kind == rtl::tkWString) && prop->FieldAddress)
          text = static_cast<const UnicodeString*>(prop->FieldAddress(Instance));
        else
          scratch = GetObjectPropAsText(Instance, prop);
        if (dontSendEmpty && text->empty()) break;
        AddScalarNode(RootNode, Node, extName, *elemURI, typeURI, typeName, *text);
        break;
      }
    }
  }
}

UnicodeString TSOAPDomConv::GetObjectPropAsText(TObject* Instance, const rtl::TPropInfo* PropInfo) {
  const rtl::TTypeInfo* type = PropInfo->PropType;
  if (!type) RaiseNotRegistered(PropInfo->Name);
  if (type->Kind == rtl::tkClass) {
    TObject* obj = PropInfo->GetObj
                       ? PropInfo->GetObj(Instance)
                       : *static_cast<TObject* const*>(PropInfo->FieldAddress(Instance));
    if (auto* xs = rtl::ObjectAs<TRemotableXS>(obj)) return xs->NativeToXS();
    return UnicodeString();
  }
  if (PropInfo->FieldAddress) return ScalarText(PropInfo->FieldAddress(Instance), type);
  // A property without field access: through its typed accessors.
  switch (type->Kind) {
    case rtl::tkInteger:
    case rtl::tkInt64:
      if (PropInfo->GetOrd) return IntToStr(PropInfo->GetOrd(Instance));
      break;
    case rtl::tkEnumeration:
      if (PropInfo->GetOrd) return EnumText(PropInfo->GetOrd(Instance), type);
      break;
    case rtl::tkChar:
    case rtl::tkWChar:
      if (PropInfo->GetOrd)
        return UnicodeString(1, static_cast<char16_t>(PropInfo->GetOrd(Instance)));
      break;
    case rtl::tkFloat:
      if (PropInfo->GetFloat) {
        const double v = PropInfo->GetFloat(Instance);
        return type == &rtl::TypeInfo_TDateTime ? DateTimeToXMLTime(v, true) : FloatText(v);
      }
      break;
    case rtl::tkString:
    case rtl::tkLString:
    case rtl::tkWString:
    case rtl::tkUString:
      if (PropInfo->GetStr) return PropInfo->GetStr(Instance);
      break;
    default:
      break;
  }
  RaiseNoText(type);
}

// ---- Arrays ---------------------------------------------------------------------------

void TSOAPDomConv::ConvertNativeArrayToSoap(IXMLNode* RootNode, IXMLNode* ParentNode,
                                            const UnicodeString& Name, const UnicodeString& URI,
                                            const UnicodeString& TypeName,
                                            const rtl::TTypeInfo* Info, void* P, bool Inline) {
  const rtl::TDynArrayTypeData* da = Info->DynArray();
  const rtl::TTypeInfo* elType = da->ElType;
  if (!elType) RaiseNotRegistered(Info->Name);
  const UnicodeString *elURIText, *elNameText;
  if (!RemTypeRegistry().TypeInfoToXSD(elType, elURIText, elNameText))
    RaiseNotRegistered(elType->Name);
  const UnicodeString& elURI = *elURIText;
  const UnicodeString& elName = *elNameText;

  if (IsByteArray(Info)) {
    const UnicodeString *arrURI, *arrName;
    if (!RemTypeRegistry().TypeInfoToXSD(Info, arrURI, arrName)) RaiseNotRegistered(Info->Name);
    AddScalarNode(RootNode, ParentNode, Name, URI, *arrURI, *arrName, ByteArrayText(P, Info));
    return;
  }

  const std::size_t count = da->Length(P);
  const bool literal = IsLiteralStyle();
  IntfPtr<IXMLNode> container;
  UnicodeString itemName, itemNS;
  if (literal && Inline) {
    container = IntfPtr<IXMLNode>(ParentNode);
    itemName = Name;
    itemNS = URI;
  } else if (literal) {
    container = ParentNode->AddChild(Name, URI, false);
    if (!GetRegInfo(TypeName, iaArrayItemName, itemName)) itemName = elName;
    if (!GetRegInfo(TypeName, iaNamespace, itemNS)) itemNS = URI;
  } else {
    // Encoded: a wrapper typed by the encoding's arrayType, items "item"; arrays
    // are always written in place (soSendMultiRefArray is not built).
    container = ParentNode->AddChild(Name, UnicodeString(), false);
    const UnicodeString encNS(SOAPEncodingNamespaces[FOptions.Contains(soSOAP12) ? 1 : 0]);
    UnicodeString arrayType =
        elURI.empty() ? UnicodeString() : PrefixFor(RootNode, container.get(), elURI);
    if (!arrayType.empty()) arrayType += u':';
    arrayType += elName;
    arrayType += u'[';
    arrayType += IntToStr(static_cast<std::int64_t>(count));
    arrayType += u']';
    UnicodeString encAttr = PrefixFor(RootNode, container.get(), encNS);
    encAttr += u":arrayType";
    container->SetAttributeNS(encAttr, encNS, Variant(arrayType));
    itemName = u"item";
  }

  const bool isClass = elType->Kind == rtl::tkClass;
  const bool isScalar = IsScalarKind(elType->Kind);
  if (!isClass && !isScalar && elType->Kind != rtl::tkDynArray && elType->Kind != rtl::tkVariant)
    throw ESOAPDomConvertError(
        u"Datatype of TypeKind: %s not supported as argument for remote invocation",
        {soap::TypeKindName(elType->Kind)});
  for (std::size_t i = 0; i < count; ++i) {
    void* item = da->Element(P, i);
    if (isClass) {
      // The item class is the declared class: a derived item gets its xsi:type.
      TRootScope scope(FRootClass, FRootInstance, elType->Class(),
                       *static_cast<TObject* const*>(item));
      IntfPtr<xml::IXMLNodeList> written = container->GetChildNodes();
      const std::int32_t before = written->GetCount();
      ConvertObjectToSOAP(itemName, itemNS, UnicodeString(), item, RootNode, container.get());
      // The entry is complete: drop the node wrappers built below it, so that
      // a long list keeps one entry's wrappers at a time (the nodes stay).
      if (written->GetCount() > before) written->Last()->Resync();
    } else if (isScalar) {
      AddScalarNode(RootNode, container.get(), itemName, itemNS, elURI, elName,
                    ScalarText(item, elType));
    } else if (elType->Kind == rtl::tkDynArray) {
      ConvertNativeArrayToSoap(RootNode, container.get(), itemName, itemNS, UnicodeString(), elType,
                               item, false);
    } else {
      WriteVariant(RootNode, container.get(), itemName, itemNS, *static_cast<const Variant*>(item));
    }
  }
}

// ---- Variants -------------------------------------------------------------------------

// A variant goes as a scalar element typed with xsi:type (the reader has no
// declared type to go by), or as a nil element when it is Empty or Null.
void TSOAPDomConv::WriteVariant(IXMLNode* RootNode, IXMLNode* ParentNode, const UnicodeString& Name,
                                const UnicodeString& URI, const Variant& Value) {
  if (Value.IsEmpty() || Value.IsNull()) {
    AddNilNode(ParentNode, Name, IsLiteralStyle() ? URI : UnicodeString());
    return;
  }
  const rtl::TTypeInfo* info = RemTypeRegistry().VariantToInfo(Value);
  const UnicodeString *typeURI, *typeName;
  if (!RemTypeRegistry().TypeInfoToXSD(info, typeURI, typeName)) RaiseNotRegistered(info->Name);
  UnicodeString text;
  if (Value.VarType() == varBoolean)
    text = Value.AsBoolean() ? u"true" : u"false";
  else if (Value.IsFloat())
    text = FloatText(Value.AsDouble());
  else
    text = Value.ToString();
  IntfPtr<IXMLNode> node = CreateTypedNode(ParentNode, Name, URI);
  SetNodeTypeEx(RootNode, node.get(), *typeURI, *typeName, true);
  node->SetText(text);
}

// ---- Node makers ----------------------------------------------------------------------

IntfPtr<IXMLNode> TSOAPDomConv::CreateScalarNodeXS(IXMLNode* RootNode, IXMLNode* ParentNode,
                                                   const UnicodeString& Name,
                                                   const UnicodeString& URI,
                                                   const UnicodeString& TypeURI,
                                                   const UnicodeString& TypeName,
                                                   const UnicodeString& Value, bool GenPrefix) {
  IntfPtr<IXMLNode> node = CreateTypedNode(ParentNode, Name, URI, GenPrefix);
  SetNodeType(RootNode, node.get(), TypeURI, TypeName);
  node->SetText(Value);
  return node;
}

void TSOAPDomConv::AddScalarNode(IXMLNode* RootNode, IXMLNode* ParentNode,
                                 const UnicodeString& Name, const UnicodeString& URI,
                                 const UnicodeString& TypeURI, const UnicodeString& TypeName,
                                 const UnicodeString& Value) {
  // The literal style writes no xsi:type here (see SetNodeTypeEx).
  if (IsLiteralStyle())
    if (xml::TXMLNode* parent = xml::NodeObjectOrNull(ParentNode)) {
      parent->AddLeafChild(Name, URI, false, &Value);
      return;
    }
  CreateScalarNodeXS(RootNode, ParentNode, Name, URI, TypeURI, TypeName, Value);
}

IntfPtr<IXMLNode> TSOAPDomConv::CreateTypedNode(IXMLNode* ParentNode, const UnicodeString& Name,
                                                const UnicodeString& URI, bool GenPrefix) {
  if (IsLiteralStyle()) return ParentNode->AddChild(Name, URI, GenPrefix);
  return ParentNode->AddChild(Name, UnicodeString(), false);
}

void TSOAPDomConv::SetNodeType(IXMLNode* RootNode, IXMLNode* InstNode, const UnicodeString& TypeURI,
                               const UnicodeString& TypeName) {
  SetNodeTypeEx(RootNode, InstNode, TypeURI, TypeName, false);
}

void TSOAPDomConv::SetNodeTypeEx(IXMLNode* RootNode, IXMLNode* InstNode,
                                 const UnicodeString& TypeURI, const UnicodeString& TypeName,
                                 bool Forced) {
  const bool write = IsLiteralStyle() ? Forced : !FOptions.Contains(soSendUntyped);
  if (!write) return;
  UnicodeString value;
  if (!TypeURI.empty()) {
    value = PrefixFor(RootNode, InstNode, TypeURI);
    value += u':';
  }
  value += TypeName;
  InstNode->SetAttributeNS(TypeAttr(), XsiNamespace(), Variant(value));
}

void TSOAPDomConv::AddNilNode(IXMLNode* ParentNode, const UnicodeString& Name,
                              const UnicodeString& URI) {
  if (xml::TXMLNode* parent = xml::NodeObjectOrNull(ParentNode))
    parent->AddLeafChild(Name, URI, false, nullptr, NilAttr(), XsiNamespace(), u"true");
  else
    CreateNilNode(ParentNode, Name, URI);
}

IntfPtr<IXMLNode> TSOAPDomConv::CreateNilNode(IXMLNode* ParentNode, const UnicodeString& Name,
                                              const UnicodeString& URI) {
  IntfPtr<IXMLNode> node = ParentNode->AddChild(Name, URI, false);
  SetNil(node.get());
  return node;
}

IntfPtr<IXMLNode> TSOAPDomConv::CreateNULLNode(IXMLNode* /*RootNode*/, IXMLNode* ParentNode,
                                               const UnicodeString& Name, bool UseParent) {
  IntfPtr<IXMLNode> node = UseParent ? IntfPtr<IXMLNode>(ParentNode)
                                     : ParentNode->AddChild(Name, UnicodeString(), false);
  SetNil(node.get());
  return node;
}

}  // namespace delvan::soap
