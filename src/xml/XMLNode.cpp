// TXMLNode: one DOM node as the node model sees it, with the namespace,
// text, value and attribute rules.
#include <array>
#include <clocale>
#include <cstdio>

#include "xml/DOMNamespaceScan.h"
#include "xml/DOMNodeQuery.h"
#include "xml/XMLDoc.h"
#include "xml/XMLNodePool.h"

namespace delvan::xml {

namespace {

// Asked of a node by NodeObject alone: answers the TXMLNode, uncounted, so
// that the many lookups on every insertion cost no reference traffic.
constexpr TGUID kNodeObjectIID = TGUID::Parse("{B5E1C0A4-7D2F-4E93-8A61-3C9F0D4E7B25}");

[[noreturn]] void NoAttributes() {
  throw EXMLDocError(u"Attributes are not supported on this node type");
}

// General format with at most 15 significant digits, the exponent written
// without plus sign or leading zeros, and the locale's decimal separator.
UnicodeString FloatText(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string s(buf);
  if (std::size_t e = s.find('E'); e != std::string::npos) {
    std::string mantissa = s.substr(0, e);
    std::string exp = s.substr(e + 1);
    bool negative = !exp.empty() && exp[0] == '-';
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) exp.erase(0, 1);
    exp.erase(0, std::min(exp.find_first_not_of('0'), exp.size() - 1));
    s = mantissa + "E" + (negative ? "-" : "") + exp;
  }
  const char* point = std::localeconv()->decimal_point;
  UnicodeString out = rtl::AsciiToUnicode(s);
  if (point && point[0] && point[0] != '.')
    for (char16_t& c : out)
      if (c == u'.') c = static_cast<char16_t>(static_cast<unsigned char>(point[0]));
  return out;
}

}  // namespace

TXMLNode* NodeObjectOrNull(IXMLNode* node) {
  void* self = nullptr;
  if (node && node->QueryInterface(kNodeObjectIID, &self) == S_OK && self)
    return static_cast<TXMLNode*>(self);
  IntfPtr<IXMLNodeAccess> access = node ? QueryIntf<IXMLNodeAccess>(node) : nullptr;
  return access ? access->GetNodeObject() : nullptr;
}

TXMLNode* NodeObject(IXMLNode* node) {
  if (!node) throw EXMLDocError(u"IDOMNode required");
  TXMLNode* self = NodeObjectOrNull(node);
  if (!self) throw EXMLDocError(u"The node does not belong to this node model");
  return self;
}

IntfPtr<IDOMNode> CreateDOMNode(IDOMDocument* doc, const UnicodeString& nameOrData,
                                TNodeType nodeType, const UnicodeString& addlData) {
  switch (nodeType) {
    case ntElement:
      if (!addlData.empty()) return IntfPtr<IDOMNode>(doc->createElementNS(addlData, nameOrData));
      return IntfPtr<IDOMNode>(doc->createElement(nameOrData));
    case ntAttribute:
      if (!addlData.empty()) return IntfPtr<IDOMNode>(doc->createAttributeNS(addlData, nameOrData));
      return IntfPtr<IDOMNode>(doc->createAttribute(nameOrData));
    case ntText:
      return IntfPtr<IDOMNode>(doc->createTextNode(nameOrData));
    case ntCData:
      return IntfPtr<IDOMNode>(doc->createCDATASection(nameOrData));
    case ntEntityRef:
      return IntfPtr<IDOMNode>(doc->createEntityReference(nameOrData));
    case ntProcessingInstr:
      return IntfPtr<IDOMNode>(doc->createProcessingInstruction(nameOrData, addlData));
    case ntComment:
      return IntfPtr<IDOMNode>(doc->createComment(nameOrData));
    case ntDocFragment:
      return IntfPtr<IDOMNode>(doc->createDocumentFragment());
    default:
      throw EXMLDocError(u"Invalid node type");
  }
}

// ---- Life -----------------------------------------------------------------------

TXMLNode::TXMLNode(IDOMNode* domNode, TXMLNode* parent, TXMLDocument* document)
    : FDOMNode(domNode) {
  if (!domNode) throw EXMLDocError(u"IDOMNode required");
  if (document) FDocument = TBackRef<TXMLDocument>(document->SelfRef());
  if (parent) FParentNode = TBackRef<TXMLNode>(parent->SelfCell());
  FIsDocElement =
      parent && parent->GetNodeType() == ntDocument && domNode->get_nodeType() == ELEMENT_NODE;
}

TXMLNode::~TXMLNode() {
  if (FLoose) LeaveParentLoose();
  if (FSelf) *FSelf = nullptr;
}

void TXMLNode::LeaveParentLoose() {
  FLoose = false;
  if (TXMLNode* parent = FParentNode.get(); parent && parent->FLooseChild == this)
    parent->FLooseChild = nullptr;
}

using TNodePool = TBlockPool<sizeof(TXMLNode), TXMLNode>;

void* TXMLNode::operator new(std::size_t size) {
  return size == sizeof(TXMLNode) ? TNodePool::Take() : ::operator new(size);
}

void TXMLNode::operator delete(void* p, std::size_t size) noexcept {
  if (size == sizeof(TXMLNode))
    TNodePool::Give(p);
  else
    ::operator delete(p);
}

const std::shared_ptr<TXMLNode*>& TXMLNode::SelfCell() {
  if (!FSelf) FSelf = std::allocate_shared<TXMLNode*>(TPoolAllocator<TXMLNode*>(), this);
  return FSelf;
}

HRESULT TXMLNode::QueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  if (iid == kNodeObjectIID) {
    *obj = this;
    return S_OK;  // not counted: see kNodeObjectIID
  }
  if (iid == IInterface::IID || iid == IXMLNode::IID)
    *obj = static_cast<IXMLNode*>(this);
  else if (iid == IXMLNodeAccess::IID)
    *obj = static_cast<IXMLNodeAccess*>(this);
  else {
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  _AddRef();
  return S_OK;
}

// The document element keeps its document alive: every reference beyond
// the one its parent's list holds also counts on the document.
std::int32_t TXMLNode::_AddRef() {
  std::int32_t n = FRefCount.fetch_add(1, std::memory_order_relaxed) + 1;
  if (FIsDocElement && n > 1)
    if (TXMLDocument* doc = Document()) doc->_AddRef();
  return n;
}

std::int32_t TXMLNode::_Release() {
  const bool docElement = FIsDocElement;
  TXMLDocument* doc = Document();
  std::int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0) {
    delete this;
    return 0;
  }
  if (docElement && doc) doc->_Release();  // may free this node: no member use after it
  return n;
}

TXMLDocOptions TXMLNode::DocOptions() const {
  TXMLDocument* doc = Document();
  return doc ? doc->GetOptions() : TXMLDocOptions{};
}

IntfPtr<IXMLDocument> TXMLNode::GetOwnerDocument() { return IntfPtr<IXMLDocument>(Document()); }

void TXMLNode::SetParentNode(TXMLNode* parent) {
  if (parent && parent->Document() != Document()) MoveToDocument(parent->Document());
  if (parent && FParentNode.get() == parent) return;  // the same cell (a child just made)
  if (FLoose) LeaveParentLoose();
  FParentNode = parent ? TBackRef<TXMLNode>(parent->SelfCell()) : TBackRef<TXMLNode>();
}

void TXMLNode::MoveToDocument(TXMLDocument* document) {
  std::vector<TXMLNode*> stack{this};
  while (!stack.empty()) {
    TXMLNode* n = stack.back();
    stack.pop_back();
    TXMLDocument* old = n->Document();
    if (n->FIsDocElement) {
      // Carry the references held beyond the parent's over to the new one.
      std::int32_t outside = n->FRefCount.load(std::memory_order_relaxed) - 1;
      for (std::int32_t i = 0; document && i < outside; ++i) document->_AddRef();
      n->FDocument =
          document ? TBackRef<TXMLDocument>(document->SelfRef()) : TBackRef<TXMLDocument>();
      for (std::int32_t i = 0; old && i < outside; ++i) old->_Release();
    } else {
      n->FDocument =
          document ? TBackRef<TXMLDocument>(document->SelfRef()) : TBackRef<TXMLDocument>();
    }
    for (TXMLNodeList* list : {n->FChildNodes.get(), n->FAttributeNodes.get()})
      if (list)
        for (std::int32_t i = 0; i < list->GetCount(); ++i)
          stack.push_back(NodeObject(list->Get(i).get()));
  }
}

// ---- Lists ------------------------------------------------------------------------

IntfPtr<TXMLNodeList> TXMLNode::CreateChildList() {
  IntfPtr<TXMLNodeList> list(new TXMLNodeList(this, FDOMNode.get(), &TXMLNode::ChildListNotify));
  // Most lists built for a new node stay empty.
  if (!FDOMNode->hasChildNodes()) return list;
  if (IDOMNodeQuery* query = NodeQuery()) {
    // The children a few at a time, uncounted.
    std::array<IDOMNode*, 16> some;
    constexpr auto kSome = static_cast<std::int32_t>(some.size());
    std::int32_t count = query->childNodes(FDOMNode.get(), 0, some.data(), kSome);
    for (std::int32_t first = 0; count != -2 && first < count; first += kSome) {
      if (first > 0) query->childNodes(FDOMNode.get(), first, some.data(), kSome);
      for (std::int32_t i = first; i < count && i < first + kSome; ++i)
        list->AddBuilt(ListedChild(some[static_cast<std::size_t>(i - first)]));
    }
    if (count != -2) return list;
  }
  // Walked by siblings: a DOM node list would be one more object made and
  // freed for every list built.
  for (IntfPtr<IDOMNode> child = FDOMNode->get_firstChild(); child;
       child = child->get_nextSibling())
    list->AddBuilt(ListedChild(child.get()));
  return list;
}

IntfPtr<IXMLNode> TXMLNode::ListedChild(IDOMNode* domChild) {
  if (TXMLNode* loose = FLooseChild; loose && loose->FDOMNode.get() == domChild) {
    FLooseChild = nullptr;
    loose->FLoose = false;
    return IntfPtr<IXMLNode>(loose);
  }
  return CreateChildNode(domChild);
}

IntfPtr<IXMLNode> TXMLNode::WrapChildForList(IDOMNode* domChild) {
  IntfPtr<IXMLNode> child = CreateChildNode(domChild);
  TXMLNode* made = NodeObject(child.get());
  if (FChildNodes || !made || made->FParentNode.get() != this) return child;
  if (FLooseChild) FLooseChild->FLoose = false;
  made->FLoose = true;
  FLooseChild = made;
  return child;
}

IntfPtr<TXMLNodeList> TXMLNode::CreateAttributeList() {
  IntfPtr<TXMLNodeList> list(
      new TXMLNodeList(this, UnicodeString(), &TXMLNode::AttributeListNotify));
  if (IntfPtr<IDOMNamedNodeMap> attrs = FDOMNode->get_attributes()) {
    const std::int32_t count = attrs->get_length();
    for (std::int32_t i = 0; i < count; ++i)
      list->AddBuilt(CreateAttributeNode(attrs->get_item(i).get()));
  }
  return list;
}

IntfPtr<IXMLNode> TXMLNode::CreateChildNode(IDOMNode* domNode) {
  return IntfPtr<IXMLNode>(new TXMLNode(domNode, this, Document()));
}

IntfPtr<IXMLNode> TXMLNode::CreateAttributeNode(IDOMNode* domNode) {
  return IntfPtr<IXMLNode>(new TXMLNode(domNode, nullptr, Document()));
}

void TXMLNode::SetChildNodes(IntfPtr<TXMLNodeList> value) { FChildNodes = std::move(value); }
void TXMLNode::SetAttributeNodes(IntfPtr<TXMLNodeList> value) {
  FAttributeNodes = std::move(value);
}

IntfPtr<IXMLNodeList> TXMLNode::GetChildNodes() {
  if (!FChildNodes) SetChildNodes(CreateChildList());
  return IntfPtr<IXMLNodeList>(FChildNodes.get());
}

IntfPtr<IXMLNodeList> TXMLNode::GetAttributeNodes() {
  if (!FAttributeNodes) SetAttributeNodes(CreateAttributeList());
  return IntfPtr<IXMLNodeList>(FAttributeNodes.get());
}

void TXMLNode::Resync() {
  SetChildNodes(nullptr);
  SetAttributeNodes(nullptr);
}

void TXMLNode::DoNodeChange(TNodeChange change, bool beforeChange) {
  if (FReadOnly) throw EXMLDocError(u"Node is readonly");
  if (TXMLDocument* doc = Document()) {
    doc->SetModified();
    const TNodeChangeEvent& event = beforeChange ? doc->BeforeNodeChange : doc->AfterNodeChange;
    if (event) event(this, change);
  }
}

void TXMLNode::ChildListNotify(TNodeListOperation operation, IXMLNode* node, std::int32_t index,
                               bool beforeChange, bool carry) {
  // The node was checked when the change was announced.
  TXMLNode* child = beforeChange ? NodeObject(node) : nullptr;
  if (operation == nlInsert) {
    DoNodeChange(ncInsertChild, beforeChange);
    if (!beforeChange) return;
    if (carry) {
      // An append (index -1, the common case) needs no child list.
      IntfPtr<IDOMNodeList> children;
      if (index >= 0) children = FDOMNode->get_childNodes();
      if (children && index < children->get_length())
        FDOMNode->insertBefore(child->FDOMNode.get(), children->get_item(index).get());
      else if (IDOMTreeEdit* edit = TreeEdit();
               !edit || !edit->appendChildTo(FDOMNode.get(), child->FDOMNode.get()))
        FDOMNode->appendChild(child->FDOMNode.get());
    }
    child->SetParentNode(this);
  } else if (operation == nlRemove) {
    DoNodeChange(ncRemoveChild, beforeChange);
    if (!beforeChange) return;
    if (carry) {
      FDOMNode->removeChild(child->FDOMNode.get());
      child->SetParentNode(nullptr);
    }
  }
}

void TXMLNode::AttributeListNotify(TNodeListOperation operation, IXMLNode* node, std::int32_t,
                                   bool beforeChange, bool carry) {
  TXMLNode* attr = beforeChange ? NodeObject(node) : nullptr;
  if (operation == nlInsert) {
    DoNodeChange(ncAddAttribute, beforeChange);
    if (!beforeChange || !carry) return;
    IntfPtr<IDOMNamedNodeMap> attrs = FDOMNode->get_attributes();
    if (!attrs) NoAttributes();
    if (attr->GetNamespaceURI().empty())
      attrs->setNamedItem(attr->FDOMNode.get());
    else
      attrs->setNamedItemNS(attr->FDOMNode.get());
  } else if (operation == nlRemove) {
    DoNodeChange(ncRemoveAttribute, beforeChange);
    if (!beforeChange || !carry) return;
    IntfPtr<IDOMNamedNodeMap> attrs = FDOMNode->get_attributes();
    if (!attrs) NoAttributes();
    if (attr->GetNamespaceURI().empty())
      attrs->removeNamedItem(attr->GetNodeName());
    else
      attrs->removeNamedItemNS(attr->GetNamespaceURI(), attr->GetLocalName());
  }
}

IntfPtr<IXMLNode> TXMLNode::AutoCreate(bool attribute, const UnicodeString& name) {
  if (!DocOptions().Contains(doNodeAutoCreate)) return {};
  // An attribute list creates an attribute of that name with empty value.
  if (attribute) {
    IntfPtr<IXMLNode> attr =
        CreateAttributeNode(CreateDOMNode(DOMDocument().get(), name, ntAttribute, {}).get());
    GetAttributeNodes()->Add(attr.get());
    return attr;
  }
  if (GetNodeType() == ntDocument) {
    TXMLDocument* doc = Document();
    if (doc && doc->GetDocumentElement()) return {};
  }
  return AddChild(name, -1);
}

// ---- Namespaces and children ----------------------------------------------------

IntfPtr<IDOMDocument> TXMLNode::DOMDocument() {
  if (GetNodeType() == ntDocument) return QueryIntf<IDOMDocument>(FDOMNode);
  return FDOMNode->get_ownerDocument();
}

IDOMDocument* TXMLNode::DOMDocument(IntfPtr<IDOMDocument>& keep) {
  // The node questions answer -2 only for a node of another DOM document.
  if (TXMLDocument* doc = Document())
    if (IDOMNodeQuery* query = doc->FDOMNodeQuery.get())
      if (query->attributeCount(FDOMNode.get()) != -2) return doc->FDOMDocument.get();
  keep = DOMDocument();
  return keep.get();
}

IDOMElement* TXMLNode::DOMElement() {
  if (!FDOMElementKnown) {
    if (GetNodeType() == ntElement) FDOMElement = QueryIntf<IDOMElement>(FDOMNode);
    FDOMElementKnown = true;
  }
  return FDOMElement.get();
}

UnicodeString TXMLNode::FindNamespaceURI(const UnicodeString& tagOrPrefix) {
  const UnicodeString wanted = IsPrefixed(tagOrPrefix) ? ExtractPrefix(tagOrPrefix) : tagOrPrefix;
  for (TXMLNode* n = this; n; n = n->ParentNodeObject()) {
    IntfPtr<IDOMNamedNodeMap> attrs = n->FDOMNode->get_attributes();
    const std::int32_t count = attrs ? attrs->get_length() : 0;
    for (std::int32_t i = 0; i < count; ++i) {
      IntfPtr<IDOMNode> a = attrs->get_item(i);
      if (a->get_prefix() == u"xmlns" && a->get_localName() == wanted) return a->get_nodeValue();
    }
  }
  return {};
}

std::int32_t TXMLNode::AttributeNamespaceDeclIndex(const UnicodeString& namespaceURI) {
  IntfPtr<IDOMNamedNodeMap> attrs = FDOMNode->get_attributes();
  const std::int32_t count = attrs ? attrs->get_length() : 0;
  for (std::int32_t i = 0; i < count; ++i) {
    IntfPtr<IDOMNode> a = attrs->get_item(i);
    // The name first: it is short, the value is a URI copied out.
    if ((a->get_prefix() == u"xmlns" || a->get_nodeName() == u"xmlns") &&
        SameNamespace(a->get_nodeValue(), namespaceURI))
      return i;
  }
  return -1;
}

std::int32_t TXMLNode::OwnNamespaceDeclIndex(IDOMNamespaceDeclScan* scan,
                                             const UnicodeString& namespaceURI) {
  // The document's scan answers -2 for a node of another DOM document
  // (one kept from before a reload): that node is searched the general way.
  const std::int32_t found = scan ? scan->namespaceDeclIndex(FDOMNode.get(), namespaceURI) : -2;
  return found == -2 ? AttributeNamespaceDeclIndex(namespaceURI) : found;
}

IDOMNamespaceDeclScan* TXMLNode::NamespaceScan() const {
  TXMLDocument* doc = Document();
  return doc ? doc->FDOMNamespaceScan.get() : nullptr;
}

IDOMNodeQuery* TXMLNode::NodeQuery() const {
  TXMLDocument* doc = Document();
  return doc ? doc->FDOMNodeQuery.get() : nullptr;
}

IDOMTreeEdit* TXMLNode::TreeEdit() const {
  TXMLDocument* doc = Document();
  return doc ? doc->FDOMTreeEdit.get() : nullptr;
}

TXMLNode* TXMLNode::NamespaceDeclOwner(const UnicodeString& namespaceURI, std::int32_t& index) {
  IDOMNamespaceDeclScan* scan = NamespaceScan();
  for (TXMLNode* n = this; n; n = n->ParentNodeObject()) {
    std::int32_t found = scan ? scan->namespaceDeclIndex(n->FDOMNode.get(), namespaceURI) : -2;
    if (found == -1) continue;
    if (found == -2) found = n->AttributeNamespaceDeclIndex(namespaceURI);
    if (found >= 0) {
      index = found;
      return n;
    }
  }
  return nullptr;
}

IntfPtr<IXMLNode> TXMLNode::FindNamespaceDecl(const UnicodeString& namespaceURI) {
  std::int32_t index = -1;
  TXMLNode* owner = NamespaceDeclOwner(namespaceURI, index);
  return owner ? owner->GetAttributeNodes()->Get(index) : nullptr;
}

void TXMLNode::DeclareNamespace(const UnicodeString& prefix, const UnicodeString& uri) {
  std::int32_t index = -1;
  if (NamespaceDeclOwner(uri, index)) return;
  AddNamespaceDecl(prefix, uri);
}

void TXMLNode::AddNamespaceDecl(const UnicodeString& prefix, const UnicodeString& uri) {
  SetAttributeNS(prefix.empty() ? UnicodeString(u"xmlns") : MakeNodeName(u"xmlns", prefix),
                 UnicodeString(kXMLNSNamespaceURI), Variant(uri));
}

UnicodeString TXMLNode::GetPrefixedName(const UnicodeString& name,
                                        const UnicodeString& namespaceURI) {
  if (DocOptions().Contains(doAutoPrefix) && !IsPrefixed(name))
    return PrefixedName(name, FindNamespaceDecl(namespaceURI).get());
  return name;
}

UnicodeString TXMLNode::PrefixedName(const UnicodeString& name, IXMLNode* decl) {
  if (decl && decl->GetNodeName() != u"xmlns") return MakeNodeName(decl->GetLocalName(), name);
  return name;
}

IntfPtr<IXMLNode> TXMLNode::InternalAddChild(const UnicodeString& nodeName,
                                             const UnicodeString& namespaceURI,
                                             std::int32_t index) {
  IntfPtr<IDOMDocument> keep;
  IntfPtr<IXMLNode> child =
      CreateChildNode(CreateDOMNode(DOMDocument(keep), nodeName, ntElement, namespaceURI).get());
  // A node just made sits in no list: Insert's search for the list it
  // leaves is skipped.
  if (!FChildNodes) SetChildNodes(CreateChildList());
  TXMLNodeList* list = FChildNodes.get();
  if (index >= -1 && index <= list->GetCount())
    list->InsertPlain(index, child.get());
  else
    list->Insert(index, child.get());  // reports the index
  return child;
}

IntfPtr<IXMLNode> TXMLNode::AddChild(const UnicodeString& tagName, std::int32_t index) {
  if (IsPrefixed(tagName)) return InternalAddChild(tagName, FindNamespaceURI(tagName), index);
  return InternalAddChild(MakeNodeName(GetPrefix(), tagName), GetNamespaceURI(), index);
}

const UnicodeString& TXMLNode::NewChildName(const UnicodeString& tagName, bool generatePrefix,
                                            TXMLNode* declOwner, std::int32_t declIndex,
                                            UnicodeString& built, UnicodeString& prefix) {
  if (declOwner && generatePrefix) {
    // GetPrefixedName with the declaration found.
    if (DocOptions().Contains(doAutoPrefix) && !IsPrefixed(tagName))
      return built = PrefixedName(tagName, declOwner->GetAttributeNodes()->Get(declIndex).get());
  } else if (IsPrefixed(tagName)) {
    prefix = ExtractPrefix(tagName);
  } else if (generatePrefix) {
    TXMLDocument* doc = Document();
    if (!doc) throw EXMLDocError(u"No active document");
    prefix = doc->GeneratePrefix(this);
    return built = MakeNodeName(prefix, tagName);
  }
  return tagName;
}

IntfPtr<IXMLNode> TXMLNode::AddChild(const UnicodeString& tagName,
                                     const UnicodeString& namespaceURI, bool generatePrefix,
                                     std::int32_t index) {
  UnicodeString built;  // the tag name when it is not tagName itself
  UnicodeString prefix;
  // Whether a declaration is in scope; the declaration's own node (and
  // with it its element's attribute list) only when its prefix is wanted.
  std::int32_t declIndex = -1;
  TXMLNode* declOwner = NamespaceDeclOwner(namespaceURI, declIndex);
  const UnicodeString& name =
      NewChildName(tagName, generatePrefix, declOwner, declIndex, built, prefix);
  return AddNamedChild(name, prefix, namespaceURI, declOwner != nullptr, index);
}

IntfPtr<IXMLNode> TXMLNode::AddNamedChild(const UnicodeString& name, const UnicodeString& prefix,
                                          const UnicodeString& namespaceURI, bool declared,
                                          std::int32_t index) {
  IntfPtr<IXMLNode> child = InternalAddChild(name, namespaceURI, index);
  TXMLDocument* doc = Document();
  if (!namespaceURI.empty() && doc && DocOptions().Contains(doNamespaceDecl) && !declared) {
    TXMLNode* made = NodeObject(child.get());
    // The ancestors were searched above; the new element's own attributes
    // are still looked at, as a vendor may declare the namespace of an
    // element it makes. A node-change handler may have changed the tree in
    // between: then the whole search is made again.
    if (doc->BeforeNodeChange || doc->AfterNodeChange)
      child->DeclareNamespace(prefix, namespaceURI);
    else if (made->OwnNamespaceDeclIndex(NamespaceScan(), namespaceURI) < 0)
      made->AddNamespaceDecl(prefix, namespaceURI);
  }
  return child;
}

void TXMLNode::AddLeafChild(const UnicodeString& tagName, const UnicodeString& namespaceURI,
                            bool generatePrefix, const UnicodeString* text,
                            const UnicodeString& attrName, const UnicodeString& attrNamespace,
                            const UnicodeString& attrValue) {
  UnicodeString built, prefix;
  std::int32_t declIndex = -1;
  TXMLNode* declOwner = NamespaceDeclOwner(namespaceURI, declIndex);
  const UnicodeString& name =
      NewChildName(tagName, generatePrefix, declOwner, declIndex, built, prefix);
  const bool declare =
      !namespaceURI.empty() && !declOwner && DocOptions().Contains(doNamespaceDecl);
  // The element goes into the DOM alone, with its text, while nothing
  // could tell: this element has no child list to hold a wrapper and no
  // handler is told of the changes (announcing one only checks and marks).
  // The DOM hands the new element back uncounted, without attributes.
  TXMLDocument* doc = Document();
  IDOMTreeEdit* edit = TreeEdit();
  const bool attributes = declare || !attrName.empty();
  IDOMElement* e = nullptr;
  if (!FChildNodes && doc && edit && !doc->BeforeNodeChange && !doc->AfterNodeChange &&
      GetNodeType() == ntElement) {
    DoNodeChange(ncInsertChild, true);
    e = edit->appendElement(FDOMNode.get(), namespaceURI, name, text);
  }
  if (!e) {
    IntfPtr<IXMLNode> child = AddNamedChild(name, prefix, namespaceURI, declOwner != nullptr, -1);
    if (!attrName.empty()) child->SetAttributeNS(attrName, attrNamespace, Variant(attrValue));
    if (text) child->SetText(*text);
    return;
  }
  DoNodeChange(ncInsertChild, false);
  if (!attributes) return;
  const bool autoPrefix = DocOptions().Contains(doAutoPrefix);
  // The new element's scope is this element's, with the declaration below.
  static const UnicodeString xmlnsURI(kXMLNSNamespaceURI);
  if (declare) {
    UnicodeString declName =
        prefix.empty() ? UnicodeString(u"xmlns") : MakeNodeName(u"xmlns", prefix);
    if (prefix.empty() && autoPrefix)
      declName = PrefixedName(declName, FindNamespaceDecl(xmlnsURI).get());
    e->setAttributeNS(xmlnsURI, declName, namespaceURI);
  }
  if (!attrName.empty()) {
    UnicodeString qualified = attrName;
    if (autoPrefix && !IsPrefixed(attrName)) {
      if (declare && attrNamespace == namespaceURI)
        qualified = prefix.empty() ? attrName : MakeNodeName(prefix, attrName);
      else
        qualified = PrefixedName(attrName, FindNamespaceDecl(attrNamespace).get());
    }
    e->setAttributeNS(attrNamespace, qualified, attrValue);
  }
}

IntfPtr<IXMLNode> TXMLNode::CloneNode(bool deep) {
  IntfPtr<IDOMNode> copy = FDOMNode->cloneNode(deep);
  return IntfPtr<IXMLNode>(new TXMLNode(copy.get(), nullptr, Document()));
}

IntfPtr<IXMLNode> TXMLNode::NextSibling() {
  TXMLNode* parent = ParentNodeObject();
  return parent ? parent->GetChildNodes()->FindSibling(this, 1) : nullptr;
}

IntfPtr<IXMLNode> TXMLNode::PreviousSibling() {
  TXMLNode* parent = ParentNodeObject();
  return parent ? parent->GetChildNodes()->FindSibling(this, -1) : nullptr;
}

void TXMLNode::Normalize() {
  if (IDOMElement* e = DOMElement())
    e->normalize();
  else
    FDOMNode->normalize();
  SetChildNodes(nullptr);
}

UnicodeStringView TXMLNode::GetLocalNameView(UnicodeString& scratch) {
  UnicodeStringView local, ns;
  if (IDOMNodeQuery* query = NodeQuery())
    if (query->nodeNames(FDOMNode.get(), local, ns)) return local;
  scratch = FDOMNode->get_localName();
  return scratch;
}

UnicodeStringView TXMLNode::GetNamespaceURIView(UnicodeString& scratch) {
  UnicodeStringView local, ns;
  if (IDOMNodeQuery* query = NodeQuery())
    if (query->nodeNames(FDOMNode.get(), local, ns)) return ns;
  scratch = FDOMNode->get_namespaceURI();
  return scratch;
}

// ---- Text and values ----------------------------------------------------------------

// Both ask the first child and its sibling rather than a child list: asked
// for every scalar element written or read, they should not build one.
bool TXMLNode::GetIsTextElement() {
  if (IDOMNodeQuery* query = NodeQuery()) {
    UnicodeStringView text;
    if (const std::int32_t answer = query->onlyTextChild(FDOMNode.get(), text); answer != -2)
      return answer == 1;
  }
  if (GetNodeType() != ntElement) return false;
  IntfPtr<IDOMNode> first = FDOMNode->get_firstChild();
  return first && !first->get_nextSibling() && first->get_nodeType() == TEXT_NODE;
}

bool TXMLNode::ReadTextElement(UnicodeString& text) {
  if (IDOMNodeQuery* query = NodeQuery()) {
    UnicodeStringView view;
    if (const std::int32_t answer = query->onlyTextChild(FDOMNode.get(), view); answer != -2) {
      if (answer == 1) text.assign(view);
      return answer == 1;
    }
  }
  if (!GetIsTextElement()) return false;
  text = GetText();
  return true;
}

IntfPtr<IDOMNode> TXMLNode::TextChild() {
  IntfPtr<IDOMNode> first = FDOMNode->get_firstChild();
  if (!first) return first;
  if (!first->get_nextSibling()) {
    std::uint16_t t = first->get_nodeType();
    if (t == TEXT_NODE || t == CDATA_SECTION_NODE) return first;
  }
  throw EXMLDocError(u"Element \"%s\" does not contain a single text node", {GetNodeName()});
}

void TXMLNode::AppendText(const UnicodeString& value) {
  IDOMTreeEdit* edit = TreeEdit();
  if (!edit || !edit->appendText(FDOMNode.get(), value)) {
    IntfPtr<IDOMDocument> keep;
    IntfPtr<IDOMText> text = DOMDocument(keep)->createTextNode(value);
    FDOMNode->appendChild(text.get());
  }
  SetChildNodes(nullptr);
}

UnicodeString TXMLNode::GetText() {
  // The usual element of one text child is answered by one question.
  if (IDOMNodeQuery* query = NodeQuery()) {
    UnicodeStringView text;
    if (query->onlyTextChild(FDOMNode.get(), text) == 1) return UnicodeString(text);
  }
  if (GetNodeType() != ntElement) return FDOMNode->get_nodeValue();
  if (IntfPtr<IDOMNode> text = TextChild()) return text->get_nodeValue();
  AppendText({});  // reading gives an empty element its text child
  return {};
}

void TXMLNode::SetText(const UnicodeString& value) {
  DoNodeChange(ncUpdateValue, true);
  if (GetNodeType() == ntElement) {
    // An element without children (every one the writer fills) gets its
    // text node made with the value.
    if (IntfPtr<IDOMNode> text = TextChild())
      text->set_nodeValue(value);
    else
      AppendText(value);
  } else {
    FDOMNode->set_nodeValue(value);
  }
  DoNodeChange(ncUpdateValue, false);
}

UnicodeString TXMLNode::ValueText(const Variant& value) {
  if (value.VarType() == varBoolean && UseXSDBooleanStrings)
    return UnicodeString(XSDBoolStrs[value.AsBoolean() ? 1 : 0]);
  if (value.IsText()) return value.Text();
  if (value.IsEmpty() || value.IsNull()) return {};
  if (value.IsFloat()) return FloatText(value.AsDouble());
  return value.ToString();
}

Variant TXMLNode::GetNodeValue() {
  UnicodeString text = GetText();
  if (text.empty()) return Variant::Null();
  return Variant(std::move(text));
}

void TXMLNode::SetNodeValue(const Variant& value) { SetText(ValueText(value)); }

Variant TXMLNode::GetChildValue(const Variant& indexOrName) {
  IntfPtr<IXMLNodeList> children = GetChildNodes();
  IntfPtr<IXMLNode> child;
  if (indexOrName.IsOrdinal()) {
    std::int64_t i = indexOrName.AsInt64();
    if (i >= 0 && i < children->GetCount()) child = children->Get(static_cast<std::int32_t>(i));
  } else {
    child = children->FindNode(indexOrName.ToString());
  }
  return child ? child->GetNodeValue() : Variant::Null();
}

void TXMLNode::SetChildValue(const Variant& indexOrName, const Variant& value) {
  GetChildNodes()->GetNode(indexOrName)->SetNodeValue(value);
}

UnicodeString TXMLNode::GetXML() {
  IntfPtr<IDOMNodeEx> ex = QueryIntf<IDOMNodeEx>(FDOMNode);
  if (!ex) DOMNodeExNotSupported();
  return ex->get_xml();
}

void TXMLNode::TransformNode(IXMLNode* stylesheet, UnicodeString& output) {
  IntfPtr<IDOMNodeEx> ex = QueryIntf<IDOMNodeEx>(FDOMNode);
  if (!ex) DOMNodeExNotSupported();
  ex->transformNode(NodeObject(stylesheet)->FDOMNode.get(), output);
}

void TXMLNode::TransformNode(IXMLNode* stylesheet, IXMLDocument* output) {
  IntfPtr<IDOMNodeEx> ex = QueryIntf<IDOMNodeEx>(FDOMNode);
  if (!ex) DOMNodeExNotSupported();
  if (!output) throw EXMLDocError(u"No active document");
  ex->transformNode(NodeObject(stylesheet)->FDOMNode.get(), output->GetDOMDocument().get());
}

// ---- Attributes -----------------------------------------------------------------------

Variant TXMLNode::GetAttribute(const UnicodeString& attrName) {
  if (IDOMElement* e = DOMElement()) {
    if (e->hasAttribute(attrName)) return Variant(e->getAttribute(attrName));
  } else if (IntfPtr<IXMLNode> a = GetAttributeNodes()->FindNode(attrName)) {
    return Variant(a->GetDOMNode()->get_nodeValue());
  }
  if (!Document() || DocOptions().Contains(doAttrNull)) return Variant::Null();
  return Variant(u"");
}

void TXMLNode::SetAttribute(const UnicodeString& attrName, const Variant& value) {
  const TNodeChange change = value.IsNull() ? ncRemoveAttribute : ncAddAttribute;
  if (IDOMElement* e = DOMElement()) {
    DoNodeChange(change, true);
    if (value.IsNull())
      e->removeAttribute(attrName);
    else
      e->setAttribute(attrName, ValueText(value));
  } else {
    IntfPtr<IDOMNamedNodeMap> attrs = FDOMNode->get_attributes();
    if (!attrs) NoAttributes();
    DoNodeChange(change, true);
    if (value.IsNull()) {
      attrs->removeNamedItem(attrName);
    } else {
      IntfPtr<IDOMAttr> a = DOMDocument()->createAttribute(attrName);
      a->set_nodeValue(ValueText(value));
      attrs->setNamedItem(a.get());
    }
  }
  SetAttributeNodes(nullptr);
  DoNodeChange(change, false);
}

Variant TXMLNode::GetAttributeNS(const UnicodeString& attrName, const UnicodeString& namespaceURI) {
  IDOMElement* e = DOMElement();
  if (!e) NoAttributes();
  if (e->hasAttributeNS(namespaceURI, attrName))
    return Variant(e->getAttributeNS(namespaceURI, attrName));
  if (!Document() || DocOptions().Contains(doAttrNull)) return Variant::Null();
  return Variant(u"");
}

void TXMLNode::SetAttributeNS(const UnicodeString& attrName, const UnicodeString& namespaceURI,
                              const Variant& value) {
  IDOMElement* e = DOMElement();
  if (!e) NoAttributes();
  const UnicodeString name = GetPrefixedName(attrName, namespaceURI);
  const TNodeChange change = value.IsNull() ? ncRemoveAttribute : ncAddAttribute;
  DoNodeChange(change, true);
  if (value.IsNull())
    // Removal is by local name: the DOM matches namespace and local part.
    e->removeAttributeNS(namespaceURI, ExtractLocalName(name));
  else
    e->setAttributeNS(namespaceURI, name, ValueText(value));
  SetAttributeNodes(nullptr);
  DoNodeChange(change, false);
}

bool TXMLNode::GetHasAttributes() {
  // The query answers -2 for a node of another DOM document.
  if (IDOMNodeQuery* query = NodeQuery())
    if (const std::int32_t count = query->attributeCount(FDOMNode.get()); count != -2)
      return count > 0;
  IntfPtr<IDOMNamedNodeMap> attrs = FDOMNode->get_attributes();
  return attrs && attrs->get_length() > 0;
}

bool TXMLNode::HasAttribute(const UnicodeString& name) {
  if (IDOMElement* e = DOMElement()) return e->hasAttribute(name);
  return static_cast<bool>(GetAttributeNodes()->FindNode(name));
}

bool TXMLNode::HasAttribute(const UnicodeString& name, const UnicodeString& namespaceURI) {
  IDOMElement* e = DOMElement();
  if (!e) NoAttributes();
  return e->hasAttributeNS(namespaceURI, name);
}

}  // namespace delvan::xml
