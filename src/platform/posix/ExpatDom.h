// The DOM of our own behind the vendor-neutral interfaces: the node tree,
// its parser (expat, with namespaces resolved here) and its serialiser.
//
// Lifetime: every node belongs to one document. A counted reference counts
// on the node, and a node with any references counts once on its document,
// so a document lives while any of its nodes is referenced. A node with a
// parent (or owner element) is owned by it; a node without one is freed
// with its subtree when its last reference goes. No walk over the tree
// recurses: depth is only bounded for parsed documents, not for trees
// built by hand.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xmldom.h"

namespace delvan::platform::posix {

using namespace delvan::xml;

// The name this vendor is registered under: the parser it stands on.
inline constexpr UnicodeStringView kExpatDOMVendorName = u"Expat DOM";

// Deepest element nesting a parsed document may have; deeper is a parse
// error. Chosen well above any SOAP message and well below what a thread's
// stack would survive in a recursive reader above us.
inline constexpr std::size_t kMaxParseDepth = 1000;

// An immutable, shared text: the names and namespace URIs of nodes. The
// parser hands one atom to every node of the same name or namespace, so a
// message of many like elements keeps each name once. Copies count.
class TXAtom {
 public:
  TXAtom() = default;
  TXAtom(UnicodeString text)  // NOLINT: implicit, as the text it stands for
      : FCell(text.empty() ? nullptr : NewCell(std::move(text))) {}
  TXAtom(const char16_t* text) : TXAtom(UnicodeString(text)) {}  // NOLINT
  TXAtom(const TXAtom& other) noexcept : FCell(other.FCell) {
    if (FCell && !FCell->Permanent.load(std::memory_order_relaxed))
      FCell->Refs.fetch_add(1, std::memory_order_relaxed);
  }
  TXAtom(TXAtom&& other) noexcept : FCell(other.FCell) { other.FCell = nullptr; }
  TXAtom& operator=(TXAtom other) noexcept {
    std::swap(FCell, other.FCell);
    return *this;
  }
  ~TXAtom() {
    if (FCell && !FCell->Permanent.load(std::memory_order_relaxed) &&
        FCell->Refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete FCell;
  }

  // An atom made by a thread's cache (SharedAtom), the only kind that may
  // become permanent: no static object holds one.
  static TXAtom ForCache(UnicodeString text) {
    TXAtom atom(std::move(text));
    if (atom.FCell) atom.FCell->Cached = true;
    return atom;
  }
  // Keeps the text of an atom made by a thread's cache for the life of the
  // library, so that copying and dropping it no longer count: for the
  // names and URIs every message uses, which would otherwise cost two
  // interlocked operations per node. Bounded: once kPermanentAtomBytes are
  // kept, atoms stay counted. Not in the sanitizer build, where a use
  // after the last reference must show.
  void MakePermanent() const;
  bool Permanent() const { return FCell && FCell->Permanent.load(std::memory_order_relaxed); }
  // Frees the permanent texts. Only where no atom can be in use any more:
  // as the shared library is unloaded, which the loader does only once no
  // living thread keeps the thread caches of this library.
  static void FreePermanent();

  const UnicodeString& str() const { return FCell ? FCell->Text : Empty(); }
  operator UnicodeStringView() const { return str(); }  // NOLINT
  std::size_t size() const { return str().size(); }
  bool empty() const { return !FCell; }
  // Where the first colon stands (npos: none), and whether the text has at
  // most one colon, not at either end: worked out once, as the atom is made.
  static constexpr std::uint32_t npos = static_cast<std::uint32_t>(-1);
  std::uint32_t Colon() const { return FCell ? FCell->Colon : npos; }
  bool NamespaceWellFormed() const { return !FCell || FCell->WellFormed; }
  // Sizes, then the bytes at once (the character traits compare one by one).
  friend bool operator==(const TXAtom& a, UnicodeStringView b) {
    const UnicodeString& s = a.str();
    return s.size() == b.size() &&
           (b.empty() || std::memcmp(s.data(), b.data(), b.size() * sizeof(char16_t)) == 0);
  }

 private:
  struct TCell {
    std::atomic<std::int32_t> Refs;
    const UnicodeString Text;
    std::uint32_t Colon;
    bool WellFormed;
    // Set once, never cleared: from then on copies are not counted and the
    // cell is freed only by FreePermanent. A copy counted before and
    // dropped after leaves the count above zero, which is harmless.
    std::atomic<bool> Permanent{false};
    bool Cached = false;
  };
  static TCell* NewCell(UnicodeString text) {
    const std::size_t c = text.find(u':');
    const bool wellFormed =
        c == UnicodeString::npos ||
        (c > 0 && c + 1 < text.size() && text.find(u':', c + 1) == UnicodeString::npos);
    const std::uint32_t colon = c == UnicodeString::npos ? npos : static_cast<std::uint32_t>(c);
    return new TCell{{1}, std::move(text), colon, wellFormed, {false}, false};
  }
  static const UnicodeString& Empty() {
    static const UnicodeString empty;
    return empty;
  }
  TCell* FCell = nullptr;
};

// Bytes of atoms kept for the life of the library (TXAtom::MakePermanent),
// across all threads.
inline constexpr std::size_t kPermanentAtomBytes = 256 * 1024;

// Counts one more use of a text a thread's cache keeps, in uses; true once,
// when the text has just been used often enough to be one every message
// uses, and so to be made permanent.
inline bool UsedOftenEnough(std::uint8_t& uses) {
  constexpr std::uint8_t kPermanentAfterUses = 8;
  return uses < kPermanentAfterUses && ++uses == kPermanentAfterUses;
}

// Working lists and buffers a thread keeps for the next document keep their
// room only up to this many bytes: a large message must not pin its memory
// in every thread that ever read or wrote one.
inline constexpr std::size_t kKeepScratchBytes = 64 * 1024;

// Empties a list or buffer kept per thread, giving its memory back when it
// has grown above kKeepScratchBytes.
template <class C>
void ClearScratch(C& c) {
  if (c.capacity() * sizeof(typename C::value_type) > kKeepScratchBytes)
    C().swap(c);
  else
    c.clear();
}

// The shared atom of text from this thread's cache, which outlives parses
// and documents so that the names and URIs of each message are made once
// per thread. The cache is bounded in slots and in the length it keeps: a
// document of a million distinct names leaves only the last few behind.
TXAtom SharedAtom(UnicodeStringView text);
// TXAtom::FreePermanent, for the library's unload.
void FreePermanentAtoms();

class TXNode;

// The child or attribute list of a node, one word wide: empty, its only
// node (the many nodes of a message with one child, an element and its
// text, or one attribute need no block of their own), or, tagged in its
// lowest bit, a block that keeps size and capacity before the nodes. A
// block tagged in the next bit too lies in its document's arena (a parsed
// list): the list does not free it, and growing it moves the nodes to a
// block of the heap (give the arena block back first where the arena is at
// hand: see LeaveArena).
class TXNodeVector {
 public:
  using value_type = TXNode*;
  using iterator = TXNode**;
  using const_iterator = TXNode* const*;
  using reverse_iterator = std::reverse_iterator<iterator>;
  using const_reverse_iterator = std::reverse_iterator<const_iterator>;

  TXNodeVector() = default;
  TXNodeVector(const TXNodeVector&) = delete;
  TXNodeVector& operator=(const TXNodeVector&) = delete;
  ~TXNodeVector() {
    if (IsBlock() && !InArena()) ::operator delete(Block());
  }

  std::size_t size() const { return IsBlock() ? Block()->Size : (FWord ? 1 : 0); }
  bool empty() const { return FWord == 0 || (IsBlock() && Block()->Size == 0); }
  iterator begin() { return data(); }
  iterator end() { return data() + size(); }
  const_iterator begin() const { return data(); }
  const_iterator end() const { return data() + size(); }
  reverse_iterator rbegin() { return reverse_iterator(end()); }
  reverse_iterator rend() { return reverse_iterator(begin()); }
  const_reverse_iterator rbegin() const { return const_reverse_iterator(end()); }
  const_reverse_iterator rend() const { return const_reverse_iterator(begin()); }
  TXNode*& operator[](std::size_t i) { return data()[i]; }
  TXNode* operator[](std::size_t i) const { return data()[i]; }
  TXNode* front() const { return data()[0]; }
  TXNode* back() const { return data()[size() - 1]; }

  // Appending: no shift, and a block with room takes the node in place.
  void push_back(TXNode* node) {
    if (FWord == 0) {
      FOne = node;
      return;
    }
    if (IsBlock()) {
      THeader* b = Block();
      if (b->Size < b->Capacity) {
        reinterpret_cast<TXNode**>(b + 1)[b->Size++] = node;
        return;
      }
    }
    insert(end(), node);
  }
  iterator insert(const_iterator pos, TXNode* node) {
    const std::size_t at = static_cast<std::size_t>(pos - data());
    const std::size_t n = size();
    if (FWord == 0) {
      FOne = node;
      return &FOne;
    }
    if (!IsBlock())
      Grow(4);
    else if (n == Block()->Capacity)
      Grow(2 * n);
    TXNode** d = data();
    for (std::size_t i = n; i > at; --i) d[i] = d[i - 1];
    d[at] = node;
    ++Block()->Size;
    return d + at;
  }
  // The last node, taken off the list (which must not be empty).
  TXNode* pop_back() {
    if (!IsBlock()) {
      TXNode* node = FOne;
      FWord = 0;
      return node;
    }
    return data()[--Block()->Size];
  }
  iterator erase(const_iterator pos) {
    if (!IsBlock()) {
      FWord = 0;
      return &FOne;
    }
    const std::size_t at = static_cast<std::size_t>(pos - data());
    TXNode** d = data();
    const std::size_t n = size();
    for (std::size_t i = at; i + 1 < n; ++i) d[i] = d[i + 1];
    --Block()->Size;
    return d + at;
  }

  // For the arena's side. The bytes of a block of capacity nodes.
  static constexpr std::size_t BlockBytes(std::size_t capacity) {
    return sizeof(THeader) + capacity * sizeof(TXNode*);
  }
  // Whether one more node needs a new block.
  bool Full() const { return FWord != 0 && (!IsBlock() || Block()->Size == Block()->Capacity); }
  bool InArena() const { return (FWord & kArenaTag) != 0; }
  // The arena block the list holds (null: none) and its bytes.
  void* ArenaBlock(std::size_t& bytes) const {
    if (!InArena()) return nullptr;
    bytes = BlockBytes(Block()->Capacity);
    return Block();
  }
  // Moves the nodes to memory, BlockBytes(capacity) bytes of the arena
  // with capacity above size(), which the list then holds. Returns the
  // arena block it held before, as ArenaBlock does, for the caller to give
  // back.
  void* MoveToArena(void* memory, std::size_t capacity, std::size_t& bytes) {
    void* old = ArenaBlock(bytes);
    Move(static_cast<THeader*>(memory), capacity);
    FWord |= kArenaTag;
    return old;
  }
  // When the list holds an arena block and is full, moves the nodes to a
  // block of the heap with room for more; returns the arena block left, as
  // ArenaBlock does, for the caller to give back. Lists edited after the
  // parse so grow on the heap alone.
  void* LeaveArena(std::size_t& bytes) {
    if (!InArena() || !Full()) return nullptr;
    void* old = ArenaBlock(bytes);
    Grow(2 * size());
    return old;
  }

 private:
  struct THeader {
    std::uint32_t Size;
    std::uint32_t Capacity;
  };
  // Nodes and blocks are at least 8-aligned: the two low bits are free.
  static constexpr std::uintptr_t kBlockTag = 1;
  static constexpr std::uintptr_t kArenaTag = 2;  // with kBlockTag only
  bool IsBlock() const { return (FWord & kBlockTag) != 0; }
  THeader* Block() const { return reinterpret_cast<THeader*>(FWord & ~(kBlockTag | kArenaTag)); }
  TXNode** data() const {
    return IsBlock() ? reinterpret_cast<TXNode**>(Block() + 1) : const_cast<TXNode**>(&FOne);
  }
  // Moves the nodes to a block of the heap; an arena block left is not
  // freed (it goes with the arena).
  void Grow(std::size_t capacity) {
    Move(static_cast<THeader*>(::operator new(BlockBytes(capacity))), capacity);
  }
  // Moves the nodes to block (untagged in the arena bit) and frees a heap
  // block left.
  void Move(THeader* block, std::size_t capacity) {
    const std::size_t n = size();
    block->Size = static_cast<std::uint32_t>(n);
    block->Capacity = static_cast<std::uint32_t>(capacity);
    std::copy(data(), data() + n, reinterpret_cast<TXNode**>(block + 1));
    if (IsBlock() && !InArena()) ::operator delete(Block());
    FWord = reinterpret_cast<std::uintptr_t>(block) | kBlockTag;
  }
  union {
    TXNode* FOne;  // the only node, untagged
    std::uintptr_t FWord = 0;
  };
};

// The value of a node (character data, attribute value, PI data), as wide
// as a UnicodeString: up to kLocal units in place, a parsed text in its
// document's arena, anything else in a buffer of the heap it owns. An
// arena text is never changed in place: TXNode::SetValue and AppendValue
// copy it and give its block back to the arena.
class TXValue {
 public:
  static constexpr std::size_t kLocal = 8;

  TXValue() = default;
  TXValue(const TXValue&) = delete;
  TXValue& operator=(const TXValue&) = delete;
  ~TXValue() {
    if (OnHeap()) delete[] FData;
  }

  UnicodeStringView View() const { return {FData ? FData : FLocal, FSize}; }
  operator UnicodeStringView() const { return View(); }  // NOLINT: reads as the text
  UnicodeString str() const { return UnicodeString(View()); }
  std::size_t size() const { return FSize; }
  bool empty() const { return FSize == 0; }
  bool InArena() const { return FData && FCapacity == 0; }
  bool InPlace() const { return !FData; }

  // Replaces the value by a copy of text, which may lie in the value
  // itself. Returns the arena text the value held (null: none), which
  // is left as it was for the caller to give back.
  const char16_t* Assign(UnicodeStringView text) {
    const char16_t* arena = InArena() ? FData : nullptr;
    const std::size_t n = text.size();
    if (OnHeap() && n <= FCapacity) {
      Copy(FData, text);
    } else if (n <= kLocal) {
      char16_t* heap = OnHeap() ? FData : nullptr;
      Copy(FLocal, text);  // before the heap text goes
      delete[] heap;
      FData = nullptr;
    } else {
      Reallocate(text, {}, n);
    }
    FSize = n;
    return arena;
  }
  // Appends text (not a part of this value), with room to spare on the
  // heap, so that appending again and again stays linear. Returns the
  // arena text left, as Assign does.
  const char16_t* Append(UnicodeStringView text) {
    const char16_t* arena = InArena() ? FData : nullptr;
    const std::size_t n = FSize + text.size();
    if (OnHeap() && n <= FCapacity) {
      Copy(FData + FSize, text);
    } else if (!FData && n <= kLocal) {
      Copy(FLocal + FSize, text);
    } else {
      Reallocate(View(), text, std::max(n, 2 * FSize));
    }
    FSize = n;
    return arena;
  }
  // Trades texts with other, wherever each lies (no text points into the
  // value itself, so the bytes move as they are).
  void Swap(TXValue& other) noexcept {
    std::swap(FData, other.FData);
    std::swap(FSize, other.FSize);
    char16_t local[kLocal];
    std::memcpy(local, FLocal, sizeof local);
    std::memcpy(FLocal, other.FLocal, sizeof local);
    std::memcpy(other.FLocal, local, sizeof local);
  }
  // Makes the value the size units at text, which lie in an arena that
  // outlives the node; the value held must not be on the heap.
  void Refer(const char16_t* text, std::size_t size) {
    FData = const_cast<char16_t*>(text);
    FSize = size;
    FCapacity = 0;
  }

 private:
  bool OnHeap() const { return FData && FCapacity != 0; }
  // Copies text to to; they may overlap.
  static void Copy(char16_t* to, UnicodeStringView text) {
    if (!text.empty()) std::memmove(to, text.data(), text.size() * sizeof(char16_t));
  }
  // Moves to a new heap buffer of capacity units holding head then tail.
  void Reallocate(UnicodeStringView head, UnicodeStringView tail, std::size_t capacity) {
    auto* buffer = new char16_t[capacity];
    Copy(buffer, head);
    Copy(buffer + head.size(), tail);
    if (OnHeap()) delete[] FData;
    FData = buffer;
    FCapacity = capacity;
  }

  char16_t* FData = nullptr;  // null: the text is in FLocal
  std::size_t FSize = 0;
  union {
    char16_t FLocal[kLocal];  // while FData is null
    std::size_t FCapacity;    // while FData is set: 0 in an arena, else the heap buffer's units
  };
};

// The data and tree links every node has, apart from its interfaces.
class TXNode {
 public:
  TXNode(TXNode* doc, std::uint16_t type) : FDoc(doc), FColon(npos), FType(type) {}
  TXNode(const TXNode&) = delete;
  TXNode& operator=(const TXNode&) = delete;
  virtual ~TXNode() = default;  // children are freed by FreeTree, never here

  // This node as IDOMNode; not counted.
  virtual IDOMNode* Intf() = 0;

  std::int32_t AddRef();
  std::int32_t Release();

  // Sets the qualified name; prefix and local name are split at its colon.
  void SetName(TXAtom qualifiedName);
  UnicodeStringView Prefix() const;
  UnicodeStringView LocalName() const;
  bool IsElement() const { return FType == ELEMENT_NODE; }
  bool IsCharacterData() const {
    return FType == TEXT_NODE || FType == CDATA_SECTION_NODE || FType == COMMENT_NODE;
  }
  // Whether the name is "xmlns" or has the prefix "xmlns": tested on the
  // name's part before its colon, without building the prefix.
  bool IsNamespaceDeclaration() const {
    const UnicodeString& name = FName.str();
    const std::size_t head = FColon == npos ? name.size() : FColon;
    return head == 5 && std::memcmp(name.data(), u"xmlns", 5 * sizeof(char16_t)) == 0;
  }
  // Position among the parent's children (the parent must exist).
  std::size_t IndexInParent();
  TXNode* AttributeByName(UnicodeStringView name) const;
  TXNode* AttributeByNS(UnicodeStringView namespaceURI, UnicodeStringView localName) const;
  // Replace or extend the value; an arena text it held goes back to the
  // arena of the node's document.
  void SetValue(UnicodeStringView text);
  void AppendValue(UnicodeStringView text);

  // Laid out widest first: a parsed message holds many of these.
  TXAtom FName;               // qualified name; "#text" and kin for unnamed nodes
  TXAtom FNamespaceURI;       // empty: no namespace
  TXValue FValue;             // character data, attribute value, PI data; changed by SetValue
  TXNode* FParent = nullptr;  // parent; owner element for an attribute
  TXNodeVector FChildren;     // owned
  TXNodeVector FAttributes;   // owned, in the order set or parsed
  TXNode* FDoc;               // the owner document node (itself for a document)
  std::atomic<std::int32_t> FRefs{0};
  std::uint32_t FColon;  // first colon of FName, npos when none
  std::uint32_t FIndexHint = 0;
  std::uint16_t FType;
  // An element whose only child is a text node not made yet: FValue holds
  // the text and FChildren is empty. Most elements of a message hold one
  // text and nothing else; the node is made (UnfoldText) once anything
  // asks for the element's children as nodes or adds another child. No
  // node of the tree is a child of a folded element.
  bool FFoldedText = false;

  static constexpr std::uint32_t npos = static_cast<std::uint32_t>(-1);
};

// Makes the text node of an element whose text is folded into it (its
// only child, at index 0); nothing for any other node.
void UnfoldText(TXNode* element);
// Folds text into element, which must have no children, as its only child.
void FoldText(TXNode* element, UnicodeStringView text);
// Drops the folded text of element (the removal of its only child).
void DropFoldedText(TXNode* element);

// Frees root and its subtree; nodes inside it that are still referenced
// are cut loose instead and live on without parent.
void FreeTree(TXNode* root);
// Takes node out of its parent's child or attribute list (position known)
// and frees it when nobody references it.
void Orphan(TXNode* node);

// Node factory of a document: every node is made through these.
TXNode* NewElement(TXNode* doc, TXAtom qualifiedName, TXAtom namespaceURI);
TXNode* NewAttribute(TXNode* doc, TXAtom qualifiedName, TXAtom namespaceURI,
                     UnicodeStringView value);
TXNode* NewCharacterData(TXNode* doc, std::uint16_t type, UnicodeStringView data);
TXNode* NewProcessingInstruction(TXNode* doc, UnicodeString target, UnicodeStringView data);

// For the parser alone, while it builds doc's tree (memory of the arena is
// taken by the document's user only, and the tree's lists and texts are
// then freed with the document at no cost; edits later move them to the
// heap). Appends node to list, a child or attribute list of a node of doc,
// growing it in doc's arena.
void AppendParsed(TXNode* doc, TXNodeVector& list, TXNode* node);
// Gives node, a node of doc without a value, a copy of text kept in doc's arena.
void SetParsedValue(TXNode* doc, TXNode* node, UnicodeStringView text);
TXNode* NewEntityReference(TXNode* doc, UnicodeString name);
TXNode* NewFragment(TXNode* doc);

// Where and why the last parse failed.
struct TXParseError {
  std::int32_t ErrorCode = 0;
  UnicodeString URL;
  UnicodeString Reason;
  UnicodeString SrcText;
  std::int32_t Line = 0;
  std::int32_t LinePos = 0;
  std::int32_t FilePos = 0;
};

// Parses bytes into the document node doc, which must have no children. forcedEncoding names
// the encoding to read the bytes in regardless of what they declare (null:
// detected from a byte-order mark or the declaration). On failure doc is
// left without children and error says why.
bool ParseDocument(TXNode& doc, std::string_view bytes, const char* forcedEncoding,
                   bool preserveWhiteSpace, TXParseError& error);

// The serialisation of node and its subtree as UTF-16 text.
UnicodeString SerializeToText(TXNode& node);
// The whole document in the encoding its declaration names (UTF-8 when it
// names none); DOMException for an encoding that cannot be written.
std::string SerializeDocument(TXNode& doc);

// A new empty document; the caller owns the reference.
IntfPtr<IDOMDocument> NewDocument();

// Registers the vendor; idempotent.
void RegisterExpatDOMVendor();
void UnregisterExpatDOMVendor();

}  // namespace delvan::platform::posix
