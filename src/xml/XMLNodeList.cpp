// TXMLNodeList: a live list of wrappers that carries every insertion and
// removal into the DOM through its owner before changing itself.
#include "xml/XMLDoc.h"
#include "xml/XMLNodePool.h"

namespace delvan::xml {

namespace {

// Nodes whose release is under way. Releasing a list's nodes frees their
// own lists in turn; doing that from one loop instead of from each
// destructor keeps deep wrapper trees from exhausting the stack.
thread_local TXMLNodeList::TMembers* tl_pendingRelease = nullptr;

// The index error of a list: the wording is ours.
[[noreturn]] void IndexError(std::int64_t index) {
  throw EXMLDocError(u"List index out of bounds (%d)", {static_cast<long long>(index)});
}

bool Matches(IXMLNode* node, const UnicodeString& name, const UnicodeString& namespaceURI) {
  if (!namespaceURI.empty() && !SameNamespace(namespaceURI, node->GetNamespaceURI())) return false;
  return node->GetNodeName() == name || node->GetLocalName() == name;
}

}  // namespace

TXMLNodeList::TXMLNodeList(TXMLNode* owner, UnicodeString defaultNamespaceURI,
                           TNotification notification)
    : FNotificationProc(notification),
      FOwner(owner->SelfCell()),
      FDefaultNamespaceURI(std::move(defaultNamespaceURI)) {}

TXMLNodeList::TXMLNodeList(TXMLNode* owner, IDOMNode* namespaceSource, TNotification notification)
    : FNotificationProc(notification),
      FOwner(owner->SelfCell()),
      FNamespaceSource(namespaceSource) {}

const UnicodeString& TXMLNodeList::DefaultNamespaceURI() {
  if (FNamespaceSource) {
    FDefaultNamespaceURI = FNamespaceSource->get_namespaceURI();
    FNamespaceSource.reset();
  }
  return FDefaultNamespaceURI;
}

TXMLNodeList::~TXMLNodeList() {
  if (tl_pendingRelease) {
    for (IntfPtr<IXMLNode>& n : FList) tl_pendingRelease->push_back(std::move(n));
    return;
  }
  TMembers pending(std::move(FList));
  tl_pendingRelease = &pending;
  while (!pending.empty()) {
    IntfPtr<IXMLNode> n = std::move(pending.back());
    pending.pop_back();
    n.reset();  // may add that node's list members to pending
  }
  tl_pendingRelease = nullptr;
}

using TListPool = TBlockPool<sizeof(TXMLNodeList), TXMLNodeList>;

void* TXMLNodeList::operator new(std::size_t size) {
  return size == sizeof(TXMLNodeList) ? TListPool::Take() : ::operator new(size);
}

void TXMLNodeList::operator delete(void* p, std::size_t size) noexcept {
  if (size == sizeof(TXMLNodeList))
    TListPool::Give(p);
  else
    ::operator delete(p);
}

HRESULT TXMLNodeList::QueryInterface(const TGUID& iid, void** obj) {
  if (!obj) return E_POINTER;
  if (iid == IInterface::IID || iid == IXMLNodeList::IID) {
    *obj = static_cast<IXMLNodeList*>(this);
    _AddRef();
    return S_OK;
  }
  *obj = nullptr;
  return E_NOINTERFACE;
}

std::int32_t TXMLNodeList::_AddRef() {
  return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::int32_t TXMLNodeList::_Release() {
  std::int32_t n = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0) delete this;
  return n;
}

TXMLNode* TXMLNodeList::Owner() const {
  TXMLNode* owner = FOwner.get();
  // The owner went away while the list was held elsewhere: nothing to
  // carry changes to.
  if (!owner) throw EXMLDocError(u"The node list no longer has an owner node");
  return owner;
}

void TXMLNodeList::Notify(TNodeListOperation operation, IXMLNode* node, std::int32_t index,
                          bool before) {
  (Owner()->*FNotificationProc)(operation, node, index, before, FUpdateCount == 0);
}

IntfPtr<IXMLNode> TXMLNodeList::Get(std::int32_t index) {
  if (index < 0 || index >= GetCount()) IndexError(index);
  return FList[static_cast<std::size_t>(index)];
}

IntfPtr<IXMLNode> TXMLNodeList::First() { return FList.empty() ? nullptr : FList.front(); }
IntfPtr<IXMLNode> TXMLNodeList::Last() { return FList.empty() ? nullptr : FList.back(); }

IntfPtr<IXMLNode> TXMLNodeList::GetNode(const Variant& indexOrName) {
  if (indexOrName.IsOrdinal()) {
    std::int64_t i = indexOrName.AsInt64();
    if (i < 0 || i >= GetCount()) IndexError(i);
    return FList[static_cast<std::size_t>(i)];
  }
  const UnicodeString name = indexOrName.ToString();
  if (IntfPtr<IXMLNode> found = FindNode(name)) return found;
  IntfPtr<IXMLNode> created =
      Owner()->AutoCreate(FNotificationProc == &TXMLNode::AttributeListNotify, name);
  if (!created) throw EXMLDocError(u"Node \"%s\" not found", {name});
  return created;
}

IntfPtr<IXMLNode> TXMLNodeList::FindNode(const UnicodeString& name) {
  return FindNode(name, DefaultNamespaceURI());
}

IntfPtr<IXMLNode> TXMLNodeList::FindNode(const UnicodeString& name,
                                         const UnicodeString& namespaceURI) {
  std::int32_t i = IndexOf(name, namespaceURI);
  return i < 0 ? nullptr : FList[static_cast<std::size_t>(i)];
}

IntfPtr<IXMLNode> TXMLNodeList::FindNode(const TGUID& childNodeType) {
  for (IntfPtr<IXMLNode>& n : FList) {
    void* obj = nullptr;
    if (n->QueryInterface(childNodeType, &obj) == S_OK && obj) {
      static_cast<IInterface*>(obj)->_Release();
      return n;
    }
  }
  return {};
}

IntfPtr<IXMLNode> TXMLNodeList::FindSibling(IXMLNode* node, std::int32_t delta) {
  std::int32_t i = IndexOf(node);
  if (i < 0) return {};
  std::int64_t j = static_cast<std::int64_t>(i) + delta;
  if (j < 0 || j >= GetCount()) return {};
  return FList[static_cast<std::size_t>(j)];
}

std::int32_t TXMLNodeList::IndexOf(IXMLNode* node) {
  for (std::size_t i = 0; i < FList.size(); ++i)
    if (FList[i].get() == node) return static_cast<std::int32_t>(i);
  return -1;
}

std::int32_t TXMLNodeList::IndexOf(const UnicodeString& name) {
  return IndexOf(name, DefaultNamespaceURI());
}

std::int32_t TXMLNodeList::IndexOf(const UnicodeString& name, const UnicodeString& namespaceURI) {
  for (std::size_t i = 0; i < FList.size(); ++i)
    if (Matches(FList[i].get(), name, namespaceURI)) return static_cast<std::int32_t>(i);
  return -1;
}

std::int32_t TXMLNodeList::Add(IXMLNode* node) {
  Insert(-1, node);
  return GetCount() - 1;
}

void TXMLNodeList::Insert(std::int32_t index, IXMLNode* node) {
  if (!node) throw EXMLDocError(u"IDOMNode required");
  IntfPtr<IXMLNode> keep(node);
  // A wrapper that sits in a child list already leaves it first, so that
  // no list goes on showing a node the DOM has moved.
  // Only a node whose DOM node has a parent can be in one: a new node
  // (named parent but not yet inserted) costs no search.
  TXMLNode* object = NodeObject(node);
  if (FNotificationProc == &TXMLNode::ChildListNotify && object->FDOMNode->get_parentNode()) {
    if (TXMLNode* oldParent = object->ParentNodeObject()) {
      if (TXMLNodeList* old = oldParent->FChildNodes.get()) {
        std::int32_t at = old->IndexOf(node);
        if (at >= 0) {
          old->Remove(node);
          if (old == this && index > at) --index;
        }
      }
    }
  }
  if (index < -1 || index > GetCount()) IndexError(index);
  InsertPlain(index, node);
}

void TXMLNodeList::InsertPlain(std::int32_t index, IXMLNode* node) {
  // Whitespace under doNodeAutoIndent is not produced: this system never
  // turns it on, and the insertion below is what every caller relies on.
  Notify(nlInsert, node, index, true);
  if (FList.capacity() == 0) FList.reserve(kFirstCapacity);
  if (index == -1)
    FList.emplace_back(node);
  else
    FList.insert(FList.begin() + index, IntfPtr<IXMLNode>(node));
  Notify(nlInsert, node, index, false);
}

std::int32_t TXMLNodeList::Remove(IXMLNode* node) {
  std::int32_t index = IndexOf(node);
  if (index < 0) return -1;
  IntfPtr<IXMLNode> keep(node);
  Notify(nlRemove, node, index, true);
  FList.erase(FList.begin() + index);
  Notify(nlRemove, node, index, false);
  return index;
}

std::int32_t TXMLNodeList::Delete(std::int32_t index) { return Remove(Get(index).get()); }

std::int32_t TXMLNodeList::Delete(const UnicodeString& name) {
  return Delete(name, DefaultNamespaceURI());
}

std::int32_t TXMLNodeList::Delete(const UnicodeString& name, const UnicodeString& namespaceURI) {
  IntfPtr<IXMLNode> node = FindNode(name, namespaceURI);
  return node ? Remove(node.get()) : -1;
}

IntfPtr<IXMLNode> TXMLNodeList::ReplaceNode(IXMLNode* oldNode, IXMLNode* newNode) {
  IntfPtr<IXMLNode> old(oldNode);
  Insert(Remove(oldNode), newNode);
  return old;
}

void TXMLNodeList::Clear() {
  std::lock_guard<std::mutex> lock(FLock);
  while (!FList.empty()) Remove(FList.front().get());
}

}  // namespace delvan::xml
