// The literal value reader of TSOAPDomConv: XML elements of a response into
// native values, objects and arrays.
//
// Ownership: the variable, property or array entry that receives an object
// owns it. An object that the reader replaces in a variable, property or
// entry, or drops from a shortened array, is freed; an object made for a
// value that then fails to read is freed before the exception leaves.
#include <algorithm>
#include <array>
#include <cstring>
#include <list>
#include <unordered_map>

#include "rtl/AnsiString.h"
#include "soap/InvokeRegistry.h"
#include "soap/NativeData.h"
#include "soap/SOAPAttachment.h"
#include "soap/SOAPConst.h"
#include "soap/SOAPDomConv.h"
#include "soap/TypeRegistry.h"
#include "soap/TypeTrans.h"
#include "soap/XSBuiltIns.h"
#include "xml/XMLDoc.h"

namespace delvan::soap {

using xml::IXMLNode;
using xml::IXMLNodeList;

namespace {

// Objects and arrays nest through the reader's own recursion; a type that
// contains itself could otherwise be driven as deep as the document goes.
constexpr int kMaxReadDepth = 200;

constexpr UnicodeStringView kNoTextForm =
    u"Internal error: data type kind %s cannot be converted to and from text";

bool IsTrueText(const UnicodeString& v) { return v == u"1" || rtl::SameTextAscii(v, u"true"); }

bool IsElement(IXMLNode* n) { return n && n->GetNodeType() == xml::ntElement; }

// The schema-instance and encoding namespaces, asked of every element read:
// their texts are made once, not per call.
using TKnownNamespaces =
    std::array<UnicodeString, XMLSchemaInstNamespaces.size() + SOAPEncodingNamespaces.size()>;
const TKnownNamespaces& KnownNamespaces() {
  static const TKnownNamespaces texts = [] {
    TKnownNamespaces a;
    std::size_t i = 0;
    for (UnicodeStringView ns : XMLSchemaInstNamespaces) a[i++] = UnicodeString(ns);
    for (UnicodeStringView ns : SOAPEncodingNamespaces) a[i++] = UnicodeString(ns);
    return a;
  }();
  return texts;
}

// ns as a string: a known namespace's made text, else a copy in scratch.
const UnicodeString& NamespaceText(UnicodeStringView ns, UnicodeString& scratch) {
  const TKnownNamespaces& known = KnownNamespaces();
  // Callers pass the constants themselves: their address finds the text without comparing.
  std::size_t i = 0;
  for (UnicodeStringView k : XMLSchemaInstNamespaces) {
    if (k.data() == ns.data() && k.size() == ns.size()) return known[i];
    ++i;
  }
  for (UnicodeStringView k : SOAPEncodingNamespaces) {
    if (k.data() == ns.data() && k.size() == ns.size()) return known[i];
    ++i;
  }
  for (const UnicodeString& text : known)
    if (text == ns) return text;
  scratch = ns;
  return scratch;
}

// The value of the attribute local in ns, when the element has it.
bool AttrNS(IXMLNode* n, UnicodeStringView local, UnicodeStringView ns, UnicodeString& value) {
  UnicodeString scratch;
  const UnicodeString name(local);
  const UnicodeString& uri = NamespaceText(ns, scratch);
  if (!n->HasAttribute(name, uri)) return false;
  value = n->GetAttributeNS(name, uri).ToString();
  return true;
}

// The value of the attribute of that full name, when the element has it.
bool Attr(IXMLNode* n, UnicodeStringView fullName, UnicodeString& value) {
  const UnicodeString name(fullName);
  if (!n->HasAttribute(name)) return false;
  value = n->GetAttribute(name).ToString();
  return true;
}

bool HasTrueXsiAttr(IXMLNode* n, UnicodeStringView local) {
  const UnicodeString name(local);
  const TKnownNamespaces& known = KnownNamespaces();
  for (std::size_t i = 0; i < XMLSchemaInstNamespaces.size(); ++i)
    if (n->HasAttribute(name, known[i]) && IsTrueText(n->GetAttributeNS(name, known[i]).ToString()))
      return true;
  return false;
}

bool IsByteType(const rtl::TTypeInfo* info) {
  return info && info->Kind == rtl::tkInteger && info->Ordinal()->OrdType == rtl::otUByte;
}

const rtl::TDynArrayTypeData* DynData(const rtl::TTypeInfo* info) {
  return info && info->Kind == rtl::tkDynArray ? info->DynArray() : nullptr;
}

// Frees the objects held by entries From .. end of the array at DataP (and
// by the arrays nested in them); the entries themselves stay.
void FreeArrayTail(void* DataP, const rtl::TTypeInfo* info, std::size_t From) {
  const rtl::TDynArrayTypeData* dyn = DynData(info);
  if (!dyn || !dyn->ElType) return;
  const std::size_t len = dyn->Length(DataP);
  for (std::size_t i = From; i < len; ++i) {
    void* entry = dyn->Element(DataP, i);
    if (dyn->ElType->Kind == rtl::tkClass) {
      TObject*& obj = *static_cast<TObject**>(entry);
      delete obj;
      obj = nullptr;
    } else if (dyn->ElType->Kind == rtl::tkDynArray) {
      FreeArrayTail(entry, dyn->ElType, 0);
    }
  }
}

// Resizes the array to n, freeing what the dropped entries held.
void ResizeArray(void* DataP, const rtl::TTypeInfo* info, std::size_t n) {
  const rtl::TDynArrayTypeData* dyn = info->DynArray();
  if (n < dyn->Length(DataP)) FreeArrayTail(DataP, info, n);
  dyn->SetLength(DataP, n);
}

void StoreBytes(void* DataP, const rtl::TTypeInfo* info, const std::vector<std::uint8_t>& bytes) {
  const rtl::TDynArrayTypeData* dyn = info->DynArray();
  dyn->SetLength(DataP, bytes.size());
  if (!bytes.empty()) std::memcpy(dyn->Element(DataP, 0), bytes.data(), bytes.size());
}

// Stores obj in a class property; the object it held before is freed.
void ReplacePropObject(TObject* Instance, const rtl::TPropInfo* prop, TObject* obj) {
  TObject* old = prop->GetObj ? prop->GetObj(Instance) : nullptr;
  if (prop->SetObj)
    prop->SetObj(Instance, obj);
  else
    *static_cast<TObject**>(prop->FieldAddress(Instance)) = obj;
  if (old && old != obj) delete old;
}

TObject* PropObject(TObject* Instance, const rtl::TPropInfo* prop) {
  if (prop->GetObj) return prop->GetObj(Instance);
  return *static_cast<TObject**>(prop->FieldAddress(Instance));
}

// The dimensions of an arrayType value such as "xsd:int[2,3]"; empty when
// the value carries none. Raises for dimensions that are not numbers.
std::vector<std::size_t> ParseArrayDims(const UnicodeString& arrayType) {
  std::vector<std::size_t> dims;
  const std::size_t open = arrayType.rfind(u'[');
  const std::size_t close = arrayType.rfind(u']');
  if (open == UnicodeString::npos || close == UnicodeString::npos || close < open) return dims;
  std::size_t value = 0;
  bool digits = false;
  for (std::size_t i = open + 1; i <= close; ++i) {
    const char16_t c = arrayType[i];
    if (c >= u'0' && c <= u'9') {
      if (value > (SIZE_MAX - 9) / 10)
        throw ESOAPDomConvertError(u"Invalid array dimensions %s", {arrayType});
      value = value * 10 + static_cast<std::size_t>(c - u'0');
      digits = true;
    } else if (c == u',' || c == u']') {
      if (!digits) throw ESOAPDomConvertError(u"Invalid array dimensions %s", {arrayType});
      dims.push_back(value);
      value = 0;
      digits = false;
    } else if (c != u' ') {
      throw ESOAPDomConvertError(u"Invalid array dimensions %s", {arrayType});
    }
  }
  return dims;
}

// Equal texts, compared as bytes: the library's memcmp is widened, where
// the character-by-character compare of char16_t texts is not.
bool SameText(UnicodeStringView a, UnicodeStringView b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

}  // namespace

// ---- Reading state ------------------------------------------------------------

struct TSOAPDomConv::TReaderState {
  // The elements of the current document by id, collected on the first
  // reference that needs them.
  IntfPtr<xml::IXMLDocument> IdDocument;
  std::unordered_map<UnicodeString, IntfPtr<IXMLNode>> Ids;
  // The multi-reference table: ids already read to the objects read for them.
  std::unordered_map<UnicodeString, TObject*> MultiRef;
  int Depth = 0;
  // What the registries say about each class read in this response, asked
  // once per class rather than once per object.
  struct TClassInfo {
    TSerializationOptions Options;
    const std::vector<const rtl::TPropInfo*>* Props = nullptr;  // the class's own list
    // Per property: its name on the wire and the namespace of its attribute.
    // The views are into the property descriptors, the type registry's text
    // store or Taken, which holds what attribute texts name.
    struct TNames {
      UnicodeStringView ExtName, AttrNamespace;
    };
    std::vector<TNames> Names;
    // A list: growing it moves none of its texts, and an empty one allocates nothing.
    std::list<UnicodeString> Taken;
  };
  std::unordered_map<const TClass*, TClassInfo> Classes;
  // The type registry's generation Classes was filled under: the answers are
  // kept from one response to the next while it stays the same. Answers of
  // an older generation may still be in use up the reader's stack: they are
  // set aside in Retired and freed at the next reset.
  std::uint64_t ClassesGeneration = 0;
  std::vector<std::unordered_map<const TClass*, TClassInfo>> Retired;

  const TClassInfo& ClassInfo(const TClass* cls) {
    const std::uint64_t generation = RemTypeRegistry().Generation();
    if (generation != ClassesGeneration) {
      // Moving the map keeps its entries where they are.
      if (!Classes.empty()) Retired.push_back(std::move(Classes));
      Classes.clear();
      ClassesGeneration = generation;
    }
    auto [it, added] = Classes.try_emplace(cls);
    if (!added) return it->second;
    // Filled in place: the views into Taken must not see it move.
    try {
      TClassInfo& info = it->second;
      TRemotableTypeRegistry& types = RemTypeRegistry();
      info.Options = types.SerializeOptions(cls);
      info.Props = &rtl::GetPropList(cls);
      info.Names.reserve(info.Props->size());
      for (const rtl::TPropInfo* prop : *info.Props) {
        TClassInfo::TNames names{prop->Name, {}};
        if (const UnicodeString* ext = types.FindExternalPropName(&cls->Info, prop->Name)) {
          names.ExtName = *ext;
          if (!ext->empty() && (*ext)[0] == u'[') {
            UnicodeString value;
            names.ExtName = prop->Name;
            if (GetRegInfo(*ext, iaExternalName, value))
              names.ExtName = info.Taken.emplace_back(std::move(value));
            if (GetRegInfo(*ext, iaNamespace, value))
              names.AttrNamespace = info.Taken.emplace_back(std::move(value));
          }
        }
        info.Names.push_back(names);
      }
      return info;
    } catch (...) {
      Classes.erase(it);
      throw;
    }
  }
};

void TSOAPDomConv::DeleteReaderState(TReaderState* state) { delete state; }

TSOAPDomConv::TReaderState& TSOAPDomConv::Reader() {
  if (!FReader) FReader.reset(new TReaderState());
  return *FReader;
}

void TSOAPDomConv::ResetReadingState() {
  if (!FReader) return;
  FReader->Ids.clear();
  FReader->IdDocument.reset();
  FReader->MultiRef.clear();
  FReader->Retired.clear();
  FReader->Depth = 0;
}

namespace {

class TDepthGuard {
 public:
  explicit TDepthGuard(int& depth) : FDepth(depth) {
    if (FDepth >= kMaxReadDepth)
      throw ESOAPDomConvertError(u"Value nested deeper than %d levels", {kMaxReadDepth});
    ++FDepth;
  }
  ~TDepthGuard() { --FDepth; }
  TDepthGuard(const TDepthGuard&) = delete;
  TDepthGuard& operator=(const TDepthGuard&) = delete;

 private:
  int& FDepth;
};

}  // namespace

// ---- Node operations ------------------------------------------------------------

// Almost no element of a message has attributes: asking that first spares
// the attribute questions of each namespace.
bool TSOAPDomConv::IsNilNode(IXMLNode* Node) {
  if (!Node) return true;
  // A node that cannot have attributes answers false: the type is asked after.
  return Node->GetHasAttributes() && IsElement(Node) && HasTrueXsiAttr(Node, u"nil");
}

bool TSOAPDomConv::NodeIsNULL(IXMLNode* Node) {
  if (!Node) return true;
  if (!Node->GetHasAttributes() || !IsElement(Node)) return false;
  return HasTrueXsiAttr(Node, u"nil") || HasTrueXsiAttr(Node, u"NULL");
}

UnicodeString TSOAPDomConv::GetNodeAsText(IXMLNode* Node) {
  // The usual element of one text child is read without building its child list.
  UnicodeString text;
  if (Node->ReadTextElement(text)) return text;
  IntfPtr<IXMLNodeList> kids = Node->GetChildNodes();
  const std::int32_t n = kids->GetCount();
  if (n == 1) {
    IntfPtr<IXMLNode> only = kids->Get(0);
    if (only->GetNodeType() == xml::ntText) return only->GetText();
  }
  for (std::int32_t i = 0; i < n; ++i) text += kids->Get(i)->GetXML();
  return text;
}

IntfPtr<IXMLNode> TSOAPDomConv::GetDataNode(IXMLNode* RootNode, IXMLNode* Node) {
  UnicodeString id;
  return GetDataNode(RootNode, Node, id);
}

// References belong to the encoded style; in a literal message an href or
// id attribute is data like any other.
bool TSOAPDomConv::MayReference(IXMLNode* Node) {
  return !IsLiteralStyle() && IsElement(Node) && Node->GetHasAttributes();
}

IXMLNode* TSOAPDomConv::DataNode(IXMLNode* RootNode, IXMLNode* Node, IntfPtr<IXMLNode>& keep) {
  if (!MayReference(Node)) return Node;
  keep = GetDataNode(RootNode, Node);
  return keep.get();
}

IntfPtr<IXMLNode> TSOAPDomConv::GetDataNode(IXMLNode* RootNode, IXMLNode* Node, UnicodeString& ID) {
  ID.clear();
  if (!MayReference(Node)) return IntfPtr<IXMLNode>(Node);
  UnicodeString ref;
  bool isRef = false;
  if (Attr(Node, u"href", ref)) {
    if (!ref.empty() && ref[0] == u'#') ref.erase(0, 1);
    isRef = true;
  } else if (AttrNS(Node, u"ref", SOAPEncodingNamespaces[1], ref)) {
    isRef = true;
  }
  if (!isRef) {
    if (!Attr(Node, u"id", ID)) AttrNS(Node, u"id", SOAPEncodingNamespaces[1], ID);
    return IntfPtr<IXMLNode>(Node);
  }
  TReaderState& st = Reader();
  IntfPtr<xml::IXMLDocument> doc = (RootNode ? RootNode : Node)->GetOwnerDocument();
  if (st.IdDocument.get() != doc.get()) {
    st.Ids.clear();
    st.IdDocument = doc;
    // One pass over the document, without recursion.
    std::vector<IntfPtr<IXMLNode>> stack;
    if (doc) stack.push_back(doc->GetDocumentElement());
    while (!stack.empty()) {
      IntfPtr<IXMLNode> n = std::move(stack.back());
      stack.pop_back();
      if (!IsElement(n.get())) continue;
      UnicodeString id;
      if (n->GetHasAttributes() &&
          (Attr(n.get(), u"id", id) || AttrNS(n.get(), u"id", SOAPEncodingNamespaces[1], id)))
        st.Ids.emplace(id, n);
      IntfPtr<IXMLNodeList> kids = n->GetChildNodes();
      for (std::int32_t i = kids->GetCount() - 1; i >= 0; --i) {
        IntfPtr<IXMLNode> k = kids->Get(i);
        if (IsElement(k.get())) stack.push_back(std::move(k));
      }
    }
  }
  auto it = st.Ids.find(ref);
  if (it == st.Ids.end())
    throw ESOAPDomConvertError(u"No element with id \"%s\" for the reference", {ref});
  ID = ref;
  return it->second;
}

bool TSOAPDomConv::GetElementType(IXMLNode* Node, UnicodeString& TypeURI, UnicodeString& TypeName) {
  TypeURI.clear();
  TypeName.clear();
  if (!IsElement(Node)) return false;
  UnicodeString scratch;
  if (Node->GetLocalNameView(scratch) == u"Array") {
    const UnicodeStringView ns = Node->GetNamespaceURIView(scratch);
    for (UnicodeStringView enc : SOAPEncodingNamespaces)
      if (xml::SameNamespace(ns, enc)) {
        TypeURI = ns;
        TypeName = u"Array";
        return true;
      }
  }
  if (!Node->GetHasAttributes()) return false;
  UnicodeString value;
  bool found = AttrNS(Node, u"type", XMLSchemaInstNameSpace, value);
  if (!found && FOptions.Contains(soTryAllSchema))
    for (UnicodeStringView ns : XMLSchemaInstNamespaces)
      // The current namespace was asked just above.
      if (ns != XMLSchemaInstNameSpace && (found = AttrNS(Node, u"type", ns, value))) break;
  if (!found) found = Attr(Node, u"type", value);
  if (!found) return false;
  if (xml::IsPrefixed(value)) {
    TypeURI = Node->FindNamespaceURI(xml::ExtractPrefix(value));
    TypeName = xml::ExtractLocalName(value);
  } else {
    TypeURI = Node->GetNamespaceURI();
    TypeName = value;
  }
  return true;
}

// ---- Values -----------------------------------------------------------------------

void TSOAPDomConv::ReadVariant(Variant& Value, IXMLNode* Node) {
  // No type of the service uses variants: a variant takes the element's
  // text as a string, or null for a nil element.
  Value = NodeIsNULL(Node) ? Variant::Null() : Variant(GetNodeAsText(Node));
}

void TSOAPDomConv::ConvertSoapToNativeData(void* DataP, const rtl::TTypeInfo* TypeInfo,
                                           IXMLNode* RootNode, IXMLNode* Node, bool Translate) {
  IntfPtr<IXMLNode> keep;
  IXMLNode* data = DataNode(RootNode, Node, keep);
  switch (TypeInfo->Kind) {
    case rtl::tkClass: {
      TObject** slot = static_cast<TObject**>(DataP);
      TObject* old = *slot;
      TObject* result = ConvertSOAPToObject(RootNode, data, TypeInfo->Class(), {}, {}, slot);
      *slot = result;
      // The variable owned what it held; nobody else frees a replaced object.
      if (old && old != result) delete old;
      break;
    }
    case rtl::tkDynArray:
      ConvertSoapToNativeArray(DataP, TypeInfo, RootNode, data, {});
      break;
    case rtl::tkVariant:
      ReadVariant(*static_cast<Variant*>(DataP), data);
      break;
    default:
      if (Translate)
        TTypeTranslator().CastSoapToNative(TypeInfo, GetNodeAsText(data), DataP, NodeIsNULL(data));
      break;
  }
}

TObject* TSOAPDomConv::ConvertSOAPToObject(IXMLNode* RootNode, IXMLNode* Node, const TClass* AClass,
                                           const UnicodeString&, const UnicodeString&,
                                           TObject** ObjP) {
  if (IsLiteralStyle() ? IsNilNode(Node) : NodeIsNULL(Node)) return nullptr;
  TReaderState& st = Reader();
  TDepthGuard depth(st.Depth);
  TObject* current = ObjP ? *ObjP : nullptr;

  UnicodeString id;
  IntfPtr<IXMLNode> data = GetDataNode(RootNode, Node, id);
  const bool multiRef = !id.empty() && AClass != &TSOAPAttachment::StaticClass;
  if (multiRef && st.MultiRef.count(id))
    // Each object has exactly one owner here, so an object cannot be shared
    // by two references, nor contain itself.
    throw ESOAPDomConvertError(u"Element with id \"%s\" is referenced more than once", {id});

  UnicodeString typeURI, typeName;
  const TClass* registered = nullptr;
  if (GetElementType(data.get(), typeURI, typeName))
    registered = RemTypeRegistry().URIToClass(typeURI, typeName);
  if (registered && !registered->InheritsFrom(AClass)) registered = nullptr;

  std::unique_ptr<TObject> made;
  TObject* obj = current;
  if (!current || (registered && registered != current->ClassType())) {
    const TClass* cls = registered ? registered : AClass;
    made.reset(cls->NewInstance());
    if (!made)
      throw ESOAPDomConvertError(u"Cannot create an instance of class %s", {cls->ClassName()});
    // A replacement starts with the empty instance options, as an object
    // made without its class's constructor would.
    if (current)
      if (auto* r = rtl::ObjectAs<TRemotable>(made.get())) r->SetSerializationOptions({});
    obj = made.get();
  }
  if (multiRef) st.MultiRef[id] = obj;
  try {
    LoadObject(obj, RootNode, data.get());
  } catch (...) {
    if (multiRef) st.MultiRef.erase(id);
    throw;
  }
  made.release();
  return obj;
}

void TSOAPDomConv::LoadObject(TObject* Instance, IXMLNode* RootNode, IXMLNode* Node) {
  if (auto* r = rtl::ObjectAs<TRemotable>(Instance))
    r->SOAPToObject(RootNode, Node, this);
  else
    InitObjectFromSOAP(Instance, RootNode, Node);
}

namespace {

// The text of a DOM child element without attributes (so neither nil nor
// a reference) whose only child is a text node, or which has no children:
// what GetNodeAsText gives for it, read from the DOM's storage. False for
// any other child, or one not read from the DOM.
bool ReadPlainLeaf(xml::IDOMNodeQuery* questions, xml::IDOMNode* child, bool hasAttributes,
                   UnicodeString& text) {
  if (!child || hasAttributes) return false;
  UnicodeStringView view;
  const std::int32_t answer = questions->onlyTextChild(child, view);
  if (answer == 1) {
    text.assign(view);
    return true;
  }
  return answer == 0 && !child->hasChildNodes();
}

}  // namespace

void TSOAPDomConv::InitObjectFromSOAP(TObject* Instance, IXMLNode* RootNode, IXMLNode* Node) {
  const TClass* cls = Instance->ClassType();
  const TReaderState::TClassInfo& info = Reader().ClassInfo(cls);
  TSerializationOptions options = info.Options;
  if (auto* r = rtl::ObjectAs<TRemotable>(Instance)) options = options | r->SerializationOptions();

  IntfPtr<IXMLNode> node(Node);
  if (options.Contains(xoHolderClass) &&
      !(options.Contains(xoInlineArrays) && !options.Contains(xoLiteralParam))) {
    node = Node->GetParentNode();
    if (!node) return;
  }
  const std::vector<const rtl::TPropInfo*>& props = *info.Props;
  if (props.empty()) return;
  if (options.Contains(xoSimpleTypeWrapper) && props.size() == 1) {
    SetObjectPropFromText(Instance, props[0], GetNodeAsText(node.get()));
    return;
  }

  // The children as the DOM holds them, while the node has no child list
  // yet and its DOM answers the node questions: a scalar leaf is then read
  // without a wrapper. Reading leaves the node's children in place.
  xml::TXMLNode* const self = xml::NodeObjectOrNull(node.get());
  xml::IDOMNodeQuery* const questions = self ? self->ChildQuestions() : nullptr;
  std::array<xml::IDOMNode*, 8> fewDOM{};
  std::vector<xml::IDOMNode*> manyDOM;
  xml::IDOMNode** domKids = fewDOM.data();
  std::int32_t domCount = -2;
  if (questions) {
    constexpr auto kFew = static_cast<std::int32_t>(fewDOM.size());
    domCount = questions->childNodes(self->DOMNodeRef(), 0, domKids, kFew);
    if (domCount > kFew) {
      manyDOM.resize(static_cast<std::size_t>(domCount));
      domKids = manyDOM.data();
      questions->childNodes(self->DOMNodeRef(), 0, domKids, domCount);
    }
  }
  IntfPtr<IXMLNodeList> kids;
  if (domCount == -2) kids = node->GetChildNodes();
  const std::size_t n = static_cast<std::size_t>(kids ? kids->GetCount() : domCount);
  // One record per child.
  struct TChild {
    IntfPtr<IXMLNode> Node;        // the wrapper; made when wanted for a DOM child
    xml::IDOMNode* DOM = nullptr;  // the DOM child, uncounted, when read from the DOM
    // The local name of an element: in the DOM, or in NameCopy when the
    // DOM cannot show its own (the records below never move).
    UnicodeStringView Name;
    UnicodeString NameCopy;
    bool IsElem = false, Used = false, HasAttrs = false;
    bool Own = false;  // Node is a wrapper of its own, in no child list
  };
  // Records have a few children: those need no allocation.
  std::array<TChild, 8> fewKids;
  std::vector<TChild> manyKids;
  TChild* kidsRead = fewKids.data();
  if (n > fewKids.size()) {
    manyKids.resize(n);
    kidsRead = manyKids.data();
  }
  // Asked once, when a property is an attribute: 0 no, 1 yes, -1 not asked.
  int hasAttrs = -1;
  for (std::size_t i = 0; i < n; ++i) {
    TChild& k = kidsRead[i];
    if (kids) {
      k.Node = kids->Get(static_cast<std::int32_t>(i));
      k.IsElem = IsElement(k.Node.get());
      if (k.IsElem) k.Name = k.Node->GetLocalNameView(k.NameCopy);
      continue;
    }
    k.DOM = domKids[i];
    k.IsElem = k.DOM->get_nodeType() == xml::ELEMENT_NODE;
    if (!k.IsElem) continue;
    UnicodeStringView uri;
    if (!questions->nodeNames(k.DOM, k.Name, uri)) k.Name = k.NameCopy = k.DOM->get_localName();
    k.HasAttrs = questions->attributeCount(k.DOM) != 0;
  }
  // Before anything that may run code of others (an event, the reading of
  // a class or an array), the child list is built and every child held by
  // the wrapper the list has for it, as if read from the list from the
  // start: the DOM children found above then stay, whatever that code does.
  auto holdAll = [&] {
    if (kids) return;
    kids = node->GetChildNodes();
    const auto count = static_cast<std::size_t>(kids->GetCount());
    for (std::size_t i = 0; i < n && i < count; ++i)
      if (!kidsRead[i].Node) kidsRead[i].Node = kids->Get(static_cast<std::int32_t>(i));
  };
  // The wrapper of child i as the child list holds it: a child handed on to
  // other readers is the node it always was.
  auto listed = [&](std::size_t i) -> IXMLNode* {
    holdAll();
    TChild& k = kidsRead[i];
    if (k.Own) {
      k.Node = kids->Get(static_cast<std::int32_t>(i));
      k.Own = false;
    }
    return k.Node.get();
  };
  // A wrapper of child i of its own, for a reading that asks only the
  // child itself.
  auto own = [&](std::size_t i) -> IXMLNode* {
    TChild& k = kidsRead[i];
    if (!k.Node) {
      k.Node = self->WrapChild(k.DOM);
      k.Own = true;
    }
    return k.Node.get();
  };
  // The node an object property's child is read from. A built-in scalar
  // holder reads only its element's text, so a DOM child gets a wrapper of
  // its own: unless it has attributes, which may name another class
  // (xsi:type) whose reading may look further, and it is not nil.
  auto classChild = [&](std::size_t i, const TClass* cls) -> IXMLNode* {
    TChild& k = kidsRead[i];
    if (!k.DOM || (k.Node && !k.Own) || !IsXSBuiltInHolder(cls)) return listed(i);
    IXMLNode* child = own(i);
    if (!k.HasAttrs || (IsLiteralStyle() ? IsNilNode(child) : NodeIsNULL(child))) return child;
    return listed(i);
  };
  // The class name is made only for a handler that is told about it.
  auto notReceived = [&](const rtl::TPropInfo* prop) {
    if (!(prop->Flags() & rtl::IS_OPTN) && OnMemberDataNotReceived) {
      holdAll();
      OnMemberDataNotReceived(UnicodeString(cls->ClassName()), UnicodeString(prop->Name));
    }
  };

  for (std::size_t p = 0; p < props.size(); ++p) {
    const rtl::TPropInfo* prop = props[p];
    const std::int32_t flags = prop->Flags();
    const rtl::TTypeInfo* type = prop->PropType;
    if (!type) continue;
    if (flags & rtl::IS_TEXT) {
      SetObjectPropFromText(Instance, prop, GetNodeAsText(node.get()));
      if (n == 1) kidsRead[0].Used = true;
      continue;
    }
    const UnicodeStringView extName = info.Names[p].ExtName;
    const UnicodeStringView attrNs = info.Names[p].AttrNamespace;

    const bool xsClass =
        type->Kind == rtl::tkClass && type->Class()->InheritsFrom(&TRemotableXS::StaticClass);
    if (((flags & rtl::IS_ATTR) || prop->StoredConstFalse) &&
        (IsScalarKind(type->Kind) || xsClass)) {
      UnicodeString value;
      if (hasAttrs < 0) hasAttrs = node->GetHasAttributes() ? 1 : 0;
      bool found = hasAttrs && Attr(node.get(), extName, value);
      if (!found && hasAttrs && !attrNs.empty()) found = AttrNS(node.get(), extName, attrNs, value);
      if (!found && hasAttrs && (flags & rtl::IS_QUAL)) {
        IntfPtr<IXMLNodeList> attrs = node->GetAttributeNodes();
        for (std::int32_t i = 0; i < attrs->GetCount() && !found; ++i) {
          IntfPtr<IXMLNode> a = attrs->Get(i);
          if (xml::IsPrefixed(a->GetNodeName()) && a->GetLocalName() == extName) {
            value = a->GetNodeValue().ToString();
            found = true;
          }
        }
      }
      if (!found) {
        notReceived(prop);
      } else if (xsClass) {
        auto* held = rtl::ObjectAs<TRemotableXS>(PropObject(Instance, prop));
        if (!held) {
          held = rtl::ObjectAs<TRemotableXS>(type->Class()->NewInstance());
          if (!held) continue;
          ReplacePropObject(Instance, prop, held);
        }
        held->XSToNative(value);
      } else {
        SetObjectPropFromText(Instance, prop, value);
      }
      continue;
    }

    std::size_t at = n;
    for (std::size_t i = 0; i < n; ++i)
      if (kidsRead[i].IsElem && !kidsRead[i].Used && SameText(kidsRead[i].Name, extName)) {
        at = i;
        break;
      }
    if (at == n) {
      notReceived(prop);
      continue;
    }
    kidsRead[at].Used = true;
    switch (type->Kind) {
      case rtl::tkClass: {
        TObject* obj = ConvertSOAPToObject(RootNode, classChild(at, type->Class()), type->Class(),
                                           {}, {}, nullptr);
        if (obj) ReplacePropObject(Instance, prop, obj);
        break;
      }
      case rtl::tkDynArray: {
        IXMLNode* child = listed(at);
        if (!IsLiteralStyle() && NodeIsNULL(child)) break;
        void* field = prop->FieldAddress(Instance);
        if (options.Contains(xoInlineArrays) || (flags & rtl::IS_UNBD)) {
          std::vector<IntfPtr<IXMLNode>> items;
          for (std::size_t j = at; j < n; ++j) {
            if (!kidsRead[j].IsElem) continue;
            if (!SameText(kidsRead[j].Name, extName)) break;
            if (j != at && kidsRead[j].Used) continue;
            kidsRead[j].Used = true;
            items.emplace_back(listed(j));
          }
          if (!DynData(type) || !DynData(type)->ElType)
            throw ESOAPDomConvertError(u"Element of Array type %s has no RTTI", {type->Name});
          TDepthGuard depth(Reader().Depth);
          ReadArrayItems(field, type, RootNode, items);
        } else {
          ConvertSoapToNativeArray(field, type, RootNode, GetDataNode(RootNode, child).get(), {});
        }
        break;
      }
      case rtl::tkVariant:
        ReadVariant(*static_cast<Variant*>(prop->FieldAddress(Instance)), listed(at));
        break;
      default: {
        TChild& k = kidsRead[at];
        UnicodeString text;
        if (!ReadPlainLeaf(questions, k.DOM, k.HasAttrs, text)) {
          // Read through a wrapper: one of its own for a DOM child, as a
          // scalar's reading asks only the child itself.
          IntfPtr<IXMLNode> keep;
          IXMLNode* data = DataNode(RootNode, k.DOM ? own(at) : k.Node.get(), keep);
          text = NodeIsNULL(data) ? DefaultTextOfKind(type->Kind) : GetNodeAsText(data);
        }
        // A string field stored without a setter of its own takes the text
        // read for it.
        if ((type->Kind == rtl::tkUString || type->Kind == rtl::tkWString) &&
            prop->SetStr == prop->FieldSetStr && prop->FieldAddress)
          *static_cast<UnicodeString*>(prop->FieldAddress(Instance)) = std::move(text);
        else
          SetObjectPropFromText(Instance, prop, text);
        break;
      }
    }
  }

  if (OnUnhandledNode) {
    const UnicodeString className(cls->ClassName());
    for (std::size_t i = 0; i < n; ++i)
      if (!kidsRead[i].Used) OnUnhandledNode(className, listed(i)->GetXML());
  }
}

void TSOAPDomConv::SetObjectPropFromText(TObject* Instance, const rtl::TPropInfo* PropInfo,
                                         const UnicodeString& Text) {
  const rtl::TTypeInfo* type = PropInfo->PropType;
  auto setOrd = [&](std::int64_t v) {
    if (PropInfo->SetOrd)
      PropInfo->SetOrd(Instance, v);
    else
      WriteOrdinal(PropInfo->FieldAddress(Instance), type, v);
  };
  switch (type->Kind) {
    case rtl::tkInteger:
      setOrd(SoapTextToOrdinal(type, Text));
      break;
    case rtl::tkChar:
      if (!Text.empty()) setOrd(Text[0] & 0xFF);
      break;
    case rtl::tkWChar:
      if (!Text.empty()) setOrd(Text[0]);
      break;
    case rtl::tkEnumeration:
      setOrd(SoapTextToEnum(type, Text));
      break;
    case rtl::tkFloat: {
      const long double v = SoapTextToFloat(type, rtl::TrimView(Text));
      if (PropInfo->FieldAddress)
        WriteFloat(PropInfo->FieldAddress(Instance), type, v);
      else if (PropInfo->SetFloat)
        PropInfo->SetFloat(Instance, static_cast<double>(v));
      break;
    }
    case rtl::tkString:
    case rtl::tkLString:
      TTypeTranslator().CastSoapToNative(type, Text, PropInfo->FieldAddress(Instance), false);
      break;
    case rtl::tkWString:
    case rtl::tkUString:
      if (PropInfo->SetStr)
        PropInfo->SetStr(Instance, Text);
      else
        *static_cast<UnicodeString*>(PropInfo->FieldAddress(Instance)) = Text;
      break;
    case rtl::tkInt64: {
      const std::int64_t v = SoapTextToInt64(type, Text);
      if (PropInfo->SetOrd)
        PropInfo->SetOrd(Instance, v);
      else
        *static_cast<std::int64_t*>(PropInfo->FieldAddress(Instance)) = v;
      break;
    }
    case rtl::tkClass: {
      if (!type->Class()->InheritsFrom(&TRemotableXS::StaticClass)) break;
      auto* held = rtl::ObjectAs<TRemotableXS>(PropObject(Instance, PropInfo));
      if (!held) {
        held = rtl::ObjectAs<TRemotableXS>(type->Class()->NewInstance());
        if (!held) break;
        ReplacePropObject(Instance, PropInfo, held);
      }
      held->XSToNative(Text);
      break;
    }
    case rtl::tkDynArray: {
      const rtl::TDynArrayTypeData* dyn = DynData(type);
      if (dyn && IsByteType(dyn->ElType)) {
        StoreBytes(PropInfo->FieldAddress(Instance), type, DecodeBase64(Text));
        break;
      }
      throw ESOAPDomConvertError(
          kNoTextForm, {Format(u"%s:(%s) ", {soap::TypeKindName(type->Kind), type->Name})});
    }
    default:
      throw ESOAPDomConvertError(kNoTextForm, {soap::TypeKindName(type->Kind)});
  }
}

// ---- Arrays -------------------------------------------------------------------------

void TSOAPDomConv::ConvertSoapToNativeArray(void* DataP, const rtl::TTypeInfo* TypeInfo,
                                            IXMLNode* RootNode, IXMLNode* Node,
                                            const UnicodeString& Name) {
  const rtl::TDynArrayTypeData* dyn = DynData(TypeInfo);
  if (!dyn || !dyn->ElType)
    throw ESOAPDomConvertError(u"Element of Array type %s has no RTTI", {TypeInfo->Name});
  TDepthGuard depth(Reader().Depth);
  if (IsByteType(dyn->ElType)) {
    StoreBytes(DataP, TypeInfo, DecodeBase64(Node->GetText()));
    return;
  }
  if (dyn->ElType->Kind == rtl::tkClass &&
      ReadObjectItemsFromDOM(DataP, TypeInfo, RootNode, Node, Name))
    return;
  std::vector<IntfPtr<IXMLNode>> items;
  IntfPtr<IXMLNodeList> kids = Node->GetChildNodes();
  const std::int32_t n = kids->GetCount();
  UnicodeString scratch;
  items.reserve(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    IntfPtr<IXMLNode> k = kids->Get(i);
    if (IsElement(k.get()) && (Name.empty() || SameText(k->GetLocalNameView(scratch), Name)))
      items.push_back(std::move(k));
  }
  if (!IsLiteralStyle() && DynData(dyn->ElType)) {
    std::size_t levels = 1;
    for (const rtl::TTypeInfo* t = dyn->ElType; DynData(t) && DynData(t)->ElType;
         t = DynData(t)->ElType)
      ++levels;
    UnicodeString arrayType;
    if (Node->GetHasAttributes() &&
        (AttrNS(Node, u"arrayType", SOAPEncodingNamespaces[0], arrayType) ||
         AttrNS(Node, u"arrayType", SOAPEncodingNamespaces[1], arrayType))) {
      const std::vector<std::size_t> dims = ParseArrayDims(arrayType);
      if (dims.size() > 1 && dims.size() <= levels) {
        std::size_t total = 1;
        for (std::size_t d : dims) {
          if (d > items.size() || (d != 0 && total > items.size() / d)) {
            total = items.size() + 1;  // more than there are items
            break;
          }
          total *= d;
        }
        // Announcing more items than there are is refused, not read short.
        if (total > items.size())
          throw ESOAPDomConvertError(
              u"Array dimensions %s announce more items than the element holds (%d)",
              {arrayType, static_cast<long long>(items.size())});
        ReadRectangular(DataP, TypeInfo, RootNode, dims, 0, items, 0);
        return;
      }
    }
  }
  ReadArrayItems(DataP, TypeInfo, RootNode, items);
}

bool TSOAPDomConv::ReadObjectItemsFromDOM(void* DataP, const rtl::TTypeInfo* TypeInfo,
                                          IXMLNode* RootNode, IXMLNode* Node,
                                          const UnicodeString& Name) {
  xml::TXMLNode* const self = xml::NodeObjectOrNull(Node);
  xml::IDOMNodeQuery* const questions = self ? self->ChildQuestions() : nullptr;
  if (!questions) return false;
  // The items as the element holds them now, each with its place among
  // the children. Counted: the reading of an item may run code of others,
  // which may change the document.
  struct TItem {
    IntfPtr<xml::IDOMNode> DOM;
    std::int32_t Index;
  };
  std::vector<TItem> items;
  std::array<xml::IDOMNode*, 16> some{};
  constexpr auto kSome = static_cast<std::int32_t>(some.size());
  const std::int32_t count = questions->childNodes(self->DOMNodeRef(), 0, some.data(), kSome);
  if (count == -2) return false;
  items.reserve(static_cast<std::size_t>(count));
  for (std::int32_t first = 0; first < count; first += kSome) {
    if (first > 0) questions->childNodes(self->DOMNodeRef(), first, some.data(), kSome);
    for (std::int32_t i = first; i < count && i < first + kSome; ++i) {
      xml::IDOMNode* child = some[static_cast<std::size_t>(i - first)];
      if (child->get_nodeType() != xml::ELEMENT_NODE) continue;
      if (!Name.empty()) {
        UnicodeStringView local, uri;
        UnicodeString copy;
        if (!questions->nodeNames(child, local, uri)) local = copy = child->get_localName();
        if (!SameText(local, Name)) continue;
      }
      items.push_back({IntfPtr<xml::IDOMNode>(child), i});
    }
  }
  const rtl::TDynArrayTypeData* dyn = TypeInfo->DynArray();
  ResizeArray(DataP, TypeInfo, items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    // Each item through a wrapper that the element's child list takes in if
    // it is built meanwhile. Once the list is built (by code that went on
    // from an item to its siblings), the items are its wrappers.
    IntfPtr<IXMLNode> item;
    xml::IDOMNode* dom = items[i].DOM.get();
    if (self->ChildQuestions()) {
      item = self->WrapChildForList(dom);
    } else {
      IntfPtr<IXMLNodeList> kids = Node->GetChildNodes();
      if (items[i].Index < kids->GetCount()) {
        item = kids->Get(items[i].Index);
        if (xml::TXMLNode* listed = xml::NodeObjectOrNull(item.get());
            !listed || listed->DOMNodeRef() != dom)
          item = nullptr;
      }
      // The document has changed under the reading: the item as found.
      if (!item) item = self->WrapChild(dom);
    }
    ReadArrayEntry(dyn->Element(DataP, i), dyn->ElType, RootNode, item.get());
  }
  return true;
}

void TSOAPDomConv::ReadArrayItems(void* DataP, const rtl::TTypeInfo* TypeInfo, IXMLNode* RootNode,
                                  const std::vector<IntfPtr<IXMLNode>>& Items) {
  const rtl::TDynArrayTypeData* dyn = TypeInfo->DynArray();
  ResizeArray(DataP, TypeInfo, Items.size());
  for (std::size_t i = 0; i < Items.size(); ++i)
    ReadArrayEntry(dyn->Element(DataP, i), dyn->ElType, RootNode, Items[i].get());
}

void TSOAPDomConv::ReadArrayEntry(void* Entry, const rtl::TTypeInfo* ElType, IXMLNode* RootNode,
                                  IXMLNode* Item) {
  switch (ElType->Kind) {
    case rtl::tkClass: {
      TObject** slot = static_cast<TObject**>(Entry);
      TObject* old = *slot;
      TObject* result = ConvertSOAPToObject(RootNode, Item, ElType->Class(), {}, {}, slot);
      *slot = result;
      if (old && old != result) delete old;
      // The entry is read: drop the node wrappers built below it, so that a
      // long list holds one entry's wrappers at a time, not all of them.
      Item->Resync();
      break;
    }
    case rtl::tkVariant:
      ReadVariant(*static_cast<Variant*>(Entry), Item);
      break;
    case rtl::tkDynArray:
      ConvertSoapToNativeArray(Entry, ElType, RootNode, GetDataNode(RootNode, Item).get(), {});
      break;
    default:
      TTypeTranslator().CastSoapToNative(ElType, Item->GetText(), Entry, false);
      break;
  }
}

void TSOAPDomConv::ReadRectangular(void* DataP, const rtl::TTypeInfo* TypeInfo, IXMLNode* RootNode,
                                   const std::vector<std::size_t>& Dims, std::size_t Level,
                                   const std::vector<IntfPtr<IXMLNode>>& Items, std::size_t First) {
  const rtl::TDynArrayTypeData* dyn = TypeInfo->DynArray();
  ResizeArray(DataP, TypeInfo, Dims[Level]);
  std::size_t stride = 1;
  for (std::size_t l = Level + 1; l < Dims.size(); ++l) stride *= Dims[l];
  for (std::size_t i = 0; i < Dims[Level]; ++i) {
    void* entry = dyn->Element(DataP, i);
    if (Level + 1 < Dims.size())
      ReadRectangular(entry, dyn->ElType, RootNode, Dims, Level + 1, Items, First + i * stride);
    else
      ReadArrayEntry(entry, dyn->ElType, RootNode, Items[First + i].get());
  }
}

}  // namespace delvan::soap
