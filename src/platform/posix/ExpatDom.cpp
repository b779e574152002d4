// Nodes of our own DOM: the tree links and counting of TXNode, the
// interface classes by node type, live lists and maps, the document with
// its persistence, and the vendor that hands them out.
#include "platform/posix/ExpatDom.h"

#include <algorithm>
#include <bit>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/asan_interface.h>
#endif
#include <sys/mman.h>

#include <span>
#include <sstream>

#include "platform/CodePage.h"
#include "rtl/Stream.h"
#include "xml/DOMNamespaceScan.h"
#include "xml/DOMNodeQuery.h"
#include "xml/DOMTreeEdit.h"
#include "xml/XMLNames.h"

namespace delvan::platform::posix {

namespace {

[[noreturn]] void HierarchyError() {
  throw DOMException(u"The node cannot be inserted at this point of the tree");
}
[[noreturn]] void NotAChild() { throw DOMException(u"The node is not a child of this node"); }
[[noreturn]] void IndexSizeError() { throw DOMException(u"Index or size is out of range"); }
[[noreturn]] void Unsupported(UnicodeStringView operation) {
  DOMVendorNotSupported(operation, kExpatDOMVendorName);
}

bool IsDeclarationName(UnicodeStringView name) {
  return name == u"xmlns" || name.starts_with(u"xmlns:");
}

// Calls f on root and every node below it (children and attributes), in
// no particular order, without recursion.
template <class F>
void ForEachInTree(TXNode* root, F f) {
  std::vector<TXNode*> stack{root};
  while (!stack.empty()) {
    TXNode* n = stack.back();
    stack.pop_back();
    f(n);
    stack.insert(stack.end(), n->FAttributes.begin(), n->FAttributes.end());
    stack.insert(stack.end(), n->FChildren.begin(), n->FChildren.end());
  }
}

// Calls f on every node below root (not root itself) in document order.
template <class F>
void ForEachDescendant(TXNode* root, F f) {
  std::vector<TXNode*> stack(root->FChildren.rbegin(), root->FChildren.rend());
  while (!stack.empty()) {
    TXNode* n = stack.back();
    stack.pop_back();
    f(n);
    stack.insert(stack.end(), n->FChildren.rbegin(), n->FChildren.rend());
  }
}

}  // namespace

// ---- Atoms ---------------------------------------------------------------------

namespace {

// kSets sets of kWays atoms; a miss replaces the oldest of its set. Atoms are
// counted atomically, so one taken here may be dropped on any thread. Each
// slot keeps the hash of its text beside it, so that only a likely hit
// compares texts.
class TAtomCache {
 public:
  TXAtom Get(UnicodeStringView text) {
    if (text.empty()) return {};
    if (text.size() > kMaxLength) return TXAtom(UnicodeString(text));
    const std::uint64_t h = Hash(text);
    const std::size_t first = kWays * static_cast<std::size_t>(h >> (64 - kSetBits));
    const auto tag = static_cast<std::uint32_t>(h);
    TXAtom* set = FSlots + first;
    std::uint32_t* tags = FTags + first;
    std::uint8_t* hits = FHits + first;
    for (std::size_t w = 0; w < kWays; ++w)
      if (tags[w] == tag && set[w] == text) {
        // A text asked for again and again is one every message uses.
        if (UsedOftenEnough(hits[w])) set[w].MakePermanent();
        return set[w];
      }
    std::move_backward(set, set + kWays - 1, set + kWays);
    std::move_backward(tags, tags + kWays - 1, tags + kWays);
    std::move_backward(hits, hits + kWays - 1, hits + kWays);
    set[0] = TXAtom::ForCache(UnicodeString(text));
    tags[0] = tag;
    hits[0] = 0;
    return set[0];
  }

 private:
  // The length, the last four units and four from the middle, where names
  // of one namespace and the URIs of one site differ; a few multiplies in
  // place of one per unit. The set is taken from the top bits, which every
  // bit of the words reaches.
  static std::uint64_t Hash(UnicodeStringView text) {
    const std::size_t n = text.size();
    std::uint64_t h = (n + 1) * 0x9E3779B97F4A7C15u;
    if (n >= 4) {
      h = (h ^ Word(text.data() + n - 4)) * 0xFF51AFD7ED558CCDu;
      h = (h ^ Word(text.data() + (n - 4) / 2)) * 0xC4CEB9FE1A85EC53u;
    } else {
      for (char16_t c : text) h = (h ^ c) * 0xFF51AFD7ED558CCDu;
    }
    h ^= h >> 29;
    return h * 0x9E3779B97F4A7C15u;
  }
  static std::uint64_t Word(const char16_t* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
  }

  static constexpr std::size_t kSetBits = 7;
  static constexpr std::size_t kSets = std::size_t{1} << kSetBits;
  static constexpr std::size_t kWays = 4;
  static constexpr std::size_t kMaxLength = 256;
  TXAtom FSlots[kWays * kSets];
  std::uint32_t FTags[kWays * kSets] = {};
  std::uint8_t FHits[kWays * kSets] = {};
};

// The cells of the permanent atoms, reachable for the leak checkers.
struct TPermanentCells {
  std::vector<const void*> Cells;
  std::size_t Bytes = 0;
};
constinit std::mutex gPermanentLock;
constinit TPermanentCells* gPermanent = nullptr;  // guarded by gPermanentLock

}  // namespace

void TXAtom::MakePermanent() const {
#ifndef __SANITIZE_ADDRESS__
  if (!FCell || !FCell->Cached || FCell->Permanent.load(std::memory_order_relaxed)) return;
  const std::size_t size = sizeof(TCell) + (FCell->Text.capacity() + 1) * sizeof(char16_t);
  std::lock_guard<std::mutex> guard(gPermanentLock);
  if (!gPermanent) gPermanent = new TPermanentCells;
  if (FCell->Permanent.load(std::memory_order_relaxed) ||
      gPermanent->Bytes + size > kPermanentAtomBytes)
    return;
  gPermanent->Cells.push_back(FCell);
  gPermanent->Bytes += size;
  FCell->Permanent.store(true, std::memory_order_relaxed);
#endif
}

void TXAtom::FreePermanent() {
  std::lock_guard<std::mutex> guard(gPermanentLock);
  if (!gPermanent) return;
  for (const void* cell : gPermanent->Cells) delete static_cast<const TCell*>(cell);
  delete gPermanent;
  gPermanent = nullptr;
}

void FreePermanentAtoms() { TXAtom::FreePermanent(); }

TXAtom SharedAtom(UnicodeStringView text) {
  thread_local TAtomCache cache;
  return cache.Get(text);
}

namespace {

// The name every node of an unnamed kind shares: the thread's own atoms,
// permanent from the start (they go with the thread, their texts with the
// library).
const TXAtom& KindName(std::uint16_t type) {
  auto kept = [](const char16_t* name) {
    TXAtom atom = TXAtom::ForCache(name);
    atom.MakePermanent();
    return atom;
  };
  thread_local const TXAtom text = kept(u"#text"), cdata = kept(u"#cdata-section"),
                            comment = kept(u"#comment"), fragment = kept(u"#document-fragment"),
                            document = kept(u"#document");
  switch (type) {
    case TEXT_NODE:
      return text;
    case CDATA_SECTION_NODE:
      return cdata;
    case COMMENT_NODE:
      return comment;
    case DOCUMENT_FRAGMENT_NODE:
      return fragment;
    default:
      return document;
  }
}

}  // namespace

// ---- Node memory ---------------------------------------------------------------

namespace {

// Blocks of arenas that went, kept by the thread that let them go for the
// arenas of its next documents: up to kKeepScratchBytes in all, so that a
// document loaded again and again costs no block of the heap. The sanitizer
// build keeps none, so that a node used after its document is reported.
class TSpareBlocks {
 public:
  TSpareBlocks() = default;
  TSpareBlocks(const TSpareBlocks&) = delete;
  TSpareBlocks& operator=(const TSpareBlocks&) = delete;
  ~TSpareBlocks() {
    while (FList) {
      TSpare* next = FList->Next;
      ::operator delete(FList);
      FList = next;
    }
  }

  // This thread's blocks; null once the thread's are gone, as it ends.
  static TSpareBlocks* Mine() {
#ifdef __SANITIZE_ADDRESS__
    return nullptr;
#else
    thread_local bool gone = false;  // trivial: still readable as the thread ends
    struct TOwner {
      TSpareBlocks Blocks;
      ~TOwner() { gone = true; }
    };
    thread_local TOwner owner;
    return gone ? nullptr : &owner.Blocks;
#endif
  }

  // A kept block of exactly bytes; null when there is none.
  void* Take(std::size_t bytes) {
    for (TSpare** at = &FList; *at; at = &(*at)->Next)
      if ((*at)->Bytes == bytes) {
        TSpare* found = *at;
        *at = found->Next;
        FKept -= bytes;
        return found;
      }
    return nullptr;
  }
  // Keeps a block of bytes; false when it does not fit (the caller frees it).
  bool Keep(void* block, std::size_t bytes) {
    if (FKept + bytes > kKeepScratchBytes) return false;
    FList = new (block) TSpare{FList, bytes};
    FKept += bytes;
    return true;
  }

 private:
  struct TSpare {
    TSpare* Next;
    std::size_t Bytes;
  };
  TSpare* FList = nullptr;
  std::size_t FKept = 0;
};

// Once a document's blocks hold kSmallBlocksBytes, its further blocks are
// kLargeBlock pieces of memory mapped for it alone and offered to the kernel
// for huge pages: a large tree then costs a page fault per 2 MiB instead of
// one per 4 KiB, which on a virtual machine is much of what building it
// costs. Small documents never reach them.
constexpr std::size_t kLargeBlock = std::size_t{2} << 20;
constexpr std::size_t kSmallBlocksBytes = std::size_t{4} << 20;

// A kLargeBlock mapping aligned to its size (so that it can be one huge
// page); null when the system has none to give.
void* MapLargeBlock() {
  void* p =
      mmap(nullptr, 2 * kLargeBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t aligned = (at + kLargeBlock - 1) & ~(std::uintptr_t{kLargeBlock} - 1);
  if (aligned != at) munmap(p, aligned - at);
  if (const std::uintptr_t tail = at + 2 * kLargeBlock - (aligned + kLargeBlock))
    munmap(reinterpret_cast<void*>(aligned + kLargeBlock), tail);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), kLargeBlock, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(aligned);
}

void UnmapLargeBlock(void* block) { munmap(block, kLargeBlock); }

// The memory of a document's nodes, carved from blocks that go with the
// document, so that building and taking down a tree cost no allocation per
// node. A destroyed node's memory goes back on the list of its node type
// (from any thread: counted references may be dropped anywhere) and is
// taken again by the next node of that type, so a document that is loaded
// again and again stays the size of its largest tree. The parser takes
// the child lists and texts of the tree it builds here too, in classes by
// size, and they go back as their nodes go or are edited. Counted by the
// documents whose nodes live in it.
class TXArena {
 public:
  TXArena() = default;
  TXArena(const TXArena&) = delete;
  TXArena& operator=(const TXArena&) = delete;

  void AddRef() { FRefs.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (FRefs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // Called by the document's user alone, as every change of a tree is.
  // kind: a node type, or a class of data blocks (DataKind).
  void* Allocate(std::size_t kind, std::size_t size) {
    TFree*& taken = FTaken[kind];
    if (!taken && FFreed[kind].load(std::memory_order_relaxed))
      taken = FFreed[kind].exchange(nullptr, std::memory_order_acquire);
    size = Rounded(size);
    if (taken) {
      void* p = taken;
      taken = taken->Next;
      Unpoison(p, size);
      return p;
    }
    if (size >= kOwnBlockBytes) return OwnBlock(size);
    if (static_cast<std::size_t>(FEnd - FAt) < size) NewBlock(size);
    void* p = FAt;
    FAt += size;
    return p;
  }
  // Memory of a destroyed node that is not taken again: the arena goes
  // soon with all of its blocks. size as given to Allocate.
  void Forget(void* p, std::size_t size) { Poison(p, Rounded(size)); }
  // size as given to Allocate.
  void Free(std::size_t kind, void* p, std::size_t size) {
    auto* f = static_cast<TFree*>(p);
    Poison(f + 1, Rounded(size) - sizeof(TFree));
    f->Next = FFreed[kind].load(std::memory_order_relaxed);
    while (!FFreed[kind].compare_exchange_weak(f->Next, f, std::memory_order_release,
                                               std::memory_order_relaxed)) {
    }
  }

  // A data block of at least bytes (8 or more), 8-aligned; the same rule
  // as Allocate.
  void* AllocateData(std::size_t bytes) {
    const std::size_t size = DataBytes(bytes);
    return Allocate(DataKind(size), size);
  }
  // Gives back a data block, from any thread; bytes as given to AllocateData.
  void FreeData(void* p, std::size_t bytes) {
    const std::size_t size = DataBytes(bytes);
    Free(DataKind(size), p, size);
  }
  // FreeData by the document's user, as Allocate: without an interlocked
  // operation.
  void FreeDataHere(void* p, std::size_t bytes) {
    const std::size_t size = DataBytes(bytes);
    auto* f = static_cast<TFree*>(p);
    TFree*& taken = FTaken[DataKind(size)];
    f->Next = taken;
    taken = f;
    Poison(f + 1, size - sizeof(TFree));
  }

 private:
  struct TFree {
    TFree* Next;
  };
  struct alignas(std::max_align_t) TBlock {
    TBlock* Next;
    std::size_t Bytes;
    bool Mapped;  // a large block of its own mapping
  };
  static constexpr std::size_t kAlign = alignof(TXNode);  // nodes hold nothing wider than a pointer
  static constexpr std::size_t kTypes = NOTATION_NODE + 1;
  static std::size_t Rounded(std::size_t size) { return (size + kAlign - 1) & ~(kAlign - 1); }
  // Data blocks come in classes of every multiple of kAlign up to
  // kFineBytes (the lists and texts of a message, reused exactly when a
  // document is loaded again), then of every power of two, so that a block
  // given back serves any later one of its class.
  static constexpr std::size_t kFineBytes = 256;
  static constexpr std::size_t kFineClasses = kFineBytes / kAlign;
  static constexpr std::size_t kKinds = kTypes + kFineClasses + 64;
  static std::size_t DataBytes(std::size_t bytes) {
    return bytes <= kFineBytes ? Rounded(bytes) : std::bit_ceil(bytes);
  }
  static std::size_t DataKind(std::size_t size) {
    if (size <= kFineBytes) return kTypes + size / kAlign - 1;
    return kTypes + kFineClasses + static_cast<std::size_t>(std::countr_zero(size));
  }
  // A block this large gets memory of its own, which leaves the block
  // being carved, and the part of it still free, as they are.
  static constexpr std::size_t kOwnBlockBytes = 16 * 1024;

  // The sanitizer build reports a use of a destroyed node as it would
  // without the arena.
#ifdef __SANITIZE_ADDRESS__
  static void Poison(void* p, std::size_t n) { ASAN_POISON_MEMORY_REGION(p, n); }
  static void Unpoison(void* p, std::size_t n) { ASAN_UNPOISON_MEMORY_REGION(p, n); }
#else
  static void Poison(void*, std::size_t) {}
  static void Unpoison(void*, std::size_t) {}
#endif

  ~TXArena() {
    TSpareBlocks* spare = FBlocks ? TSpareBlocks::Mine() : nullptr;
    while (FBlocks) {
      TBlock* next = FBlocks->Next;
      const std::size_t bytes = FBlocks->Bytes;
      const bool mapped = FBlocks->Mapped;
      Unpoison(FBlocks, bytes);
      if (mapped)
        UnmapLargeBlock(FBlocks);
      else if (!spare || !spare->Keep(FBlocks, bytes))
        ::operator delete(FBlocks);
      FBlocks = next;
    }
  }
  [[gnu::noinline]] void* OwnBlock(std::size_t size) {
    const std::size_t bytes = sizeof(TBlock) + size;
    auto* block = static_cast<TBlock*>(::operator new(bytes));
    block->Next = FBlocks;
    block->Bytes = bytes;
    block->Mapped = false;
    FBlocks = block;
    FBlockBytes += bytes;
    return block + 1;
  }
  [[gnu::noinline]] void NewBlock(std::size_t size) {
    std::size_t bytes = sizeof(TBlock) + size;
    void* memory = nullptr;
    bool mapped = false;
    if (FBlockBytes >= kSmallBlocksBytes && bytes <= kLargeBlock) {
      memory = MapLargeBlock();
      mapped = memory != nullptr;
      if (mapped) bytes = kLargeBlock;
    }
    if (!mapped) {
      bytes = std::max(FNextBlock, bytes);
      FNextBlock = std::min<std::size_t>(2 * FNextBlock, 64 * 1024);
      if (TSpareBlocks* spare = TSpareBlocks::Mine()) memory = spare->Take(bytes);
    }
    auto* block = static_cast<TBlock*>(memory ? memory : ::operator new(bytes));
    block->Next = FBlocks;
    block->Bytes = bytes;
    block->Mapped = mapped;
    FBlocks = block;
    FBlockBytes += bytes;
    FAt = reinterpret_cast<char*>(block + 1);
    FEnd = reinterpret_cast<char*>(block) + bytes;
  }

  std::atomic<std::int32_t> FRefs{1};
  TBlock* FBlocks = nullptr;
  std::size_t FBlockBytes = 0;  // in all blocks
  char* FAt = nullptr;
  char* FEnd = nullptr;
  std::size_t FNextBlock = 4096;
  TFree* FTaken[kKinds] = {};               // taken over from FFreed by the allocating side
  std::atomic<TFree*> FFreed[kKinds] = {};  // given back by any thread
};

// Destroys a node other than a document and gives its memory back, unless
// keep is false: its document goes too, and the arena's lists with it.
void DestroyNode(TXNode* node, bool keep);
// Lets doc keep the arenas the nodes of from may live in.
void KeepArenas(TXNode* doc, TXNode* from);
// Makes room in list, a list of owner, for one more node: a full list in
// the arena moves to the heap and its block goes back to the arena. Every
// edit that adds to a list calls it first, so that edits never grow the
// arena.
void RoomForOne(TXNode* owner, TXNodeVector& list);

}  // namespace

// ---- TXNode ------------------------------------------------------------------

// The document counts a node once while any reference to it is held, not
// every reference: a reference taken to a node already held costs one
// interlocked operation instead of two.
std::int32_t TXNode::AddRef() {
  const std::int32_t n = FRefs.fetch_add(1, std::memory_order_relaxed) + 1;
  if (n == 1 && FType != DOCUMENT_NODE) FDoc->FRefs.fetch_add(1, std::memory_order_relaxed);
  return n;
}

std::int32_t TXNode::Release() {
  if (FType == DOCUMENT_NODE) {
    std::int32_t n = FRefs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) FreeTree(this);
    return n;
  }
  TXNode* doc = FDoc;
  std::int32_t n = FRefs.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n != 0) return n;
  if (!FParent) FreeTree(this);
  doc->Release();
  return n;
}

void TXNode::SetName(TXAtom qualifiedName) {
  FName = std::move(qualifiedName);
  FColon = FName.Colon();
}

UnicodeStringView TXNode::Prefix() const {
  if (FColon == npos) return {};
  return UnicodeStringView(FName.str()).substr(0, FColon);
}

UnicodeStringView TXNode::LocalName() const {
  if (FColon == npos) return FName.str();
  return UnicodeStringView(FName.str()).substr(FColon + 1);
}

std::size_t TXNode::IndexInParent() {
  TXNodeVector& list = FType == ATTRIBUTE_NODE ? FParent->FAttributes : FParent->FChildren;
  if (FIndexHint < list.size() && list[FIndexHint] == this) return FIndexHint;
  auto it = std::find(list.begin(), list.end(), this);
  FIndexHint = static_cast<std::uint32_t>(it - list.begin());
  return FIndexHint;
}

TXNode* TXNode::AttributeByName(UnicodeStringView name) const {
  for (TXNode* a : FAttributes)
    if (a->FName == name) return a;
  return nullptr;
}

TXNode* TXNode::AttributeByNS(UnicodeStringView namespaceURI, UnicodeStringView localName) const {
  for (TXNode* a : FAttributes)
    if (a->FNamespaceURI == namespaceURI && a->LocalName() == localName) return a;
  return nullptr;
}

void FreeTree(TXNode* root) {
  // Depth first over the parent links, each list emptied from its end, so
  // that no stack is needed: a node goes once its lists are empty.
  // When the document itself goes no node's memory is taken again: only
  // its own document allocates from an arena.
  const bool keep = root->FType != DOCUMENT_NODE;
  TXNode* n = root;
  while (n) {
    TXNodeVector& list = n->FAttributes.empty() ? n->FChildren : n->FAttributes;
    if (!list.empty()) {
      TXNode* c = list.pop_back();
      if (c->FRefs.load(std::memory_order_acquire) > 0)
        c->FParent = nullptr;  // still referenced: lives on detached
      else
        n = c;
      continue;
    }
    TXNode* up = n == root ? nullptr : n->FParent;
    if (n->FType == DOCUMENT_NODE)
      delete n;  // after its tree: the arenas go with it
    else
      DestroyNode(n, keep);
    n = up;
  }
}

void UnfoldText(TXNode* element) {
  if (!element->FFoldedText) return;
  TXNode* text = NewCharacterData(element->FDoc, TEXT_NODE, {});
  // The text stays where it lies (a view of it handed out stays good): a
  // text elsewhere goes over with its pointer; a short one in place is
  // copied, and the element keeps its copy until given another text.
  if (element->FValue.InPlace())
    text->FValue.Assign(element->FValue);
  else
    text->FValue.Swap(element->FValue);
  element->FFoldedText = false;
  text->FParent = element;
  text->FIndexHint = 0;
  element->FChildren.push_back(text);
}

void FoldText(TXNode* element, UnicodeStringView text) {
  element->SetValue(text);
  element->FFoldedText = true;
}

void DropFoldedText(TXNode* element) {
  if (!element->FFoldedText) return;
  element->FFoldedText = false;
  element->SetValue({});
}

void Orphan(TXNode* node) {
  TXNode* parent = node->FParent;
  TXNodeVector& list = node->FType == ATTRIBUTE_NODE ? parent->FAttributes : parent->FChildren;
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(node->IndexInParent()));
  node->FParent = nullptr;
  if (node->FRefs.load(std::memory_order_acquire) == 0) FreeTree(node);
}

namespace {

// Detaches node from its parent without freeing it (the caller attaches it
// again at once or holds a reference).
void Detach(TXNode* node) {
  if (!node->FParent) return;
  TXNodeVector& list =
      node->FType == ATTRIBUTE_NODE ? node->FParent->FAttributes : node->FParent->FChildren;
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(node->IndexInParent()));
  node->FParent = nullptr;
}

// Moves a detached subtree, with the counts its referenced nodes hold on
// their document, to doc.
void Adopt(TXNode* node, TXNode* doc) {
  TXNode* old = node->FDoc;
  if (old == doc) return;
  KeepArenas(doc, old);
  std::int32_t refs = 0;
  ForEachInTree(node, [&](TXNode* n) {
    if (n->FRefs.load(std::memory_order_relaxed) > 0) ++refs;
    n->FDoc = doc;
  });
  doc->FRefs.fetch_add(refs, std::memory_order_relaxed);
  if (old->FRefs.fetch_sub(refs, std::memory_order_acq_rel) - refs == 0) FreeTree(old);
}

}  // namespace

// ---- Interface classes ----------------------------------------------------------

namespace {

TXNode* Core(IDOMNode* node);
UnicodeString TextContent(TXNode* node);
void SetTextContent(TXNode* node, const UnicodeString& text);
TXNode* CloneTree(TXNode* node, bool deep, TXNode* doc);
void Normalize(TXNode* node);
void InsertChild(TXNode* parent, TXNode* child, std::size_t index);
// The index that InsertChild reads as "after the last child".
constexpr std::size_t kAtTheEnd = static_cast<std::size_t>(-1);

template <class T>
IntfPtr<T> Counted(TXNode* node);

class TXChildList final : public TInterfacedImpl<IDOMNodeList> {
 public:
  explicit TXChildList(TXNode* owner) : FOwnerRef(owner->Intf()), FOwner(owner) {}
  // Live: a text folded into the owner since the list was made is made
  // at the next question.
  IntfPtr<IDOMNode> get_item(std::int32_t index) override {
    UnfoldText(FOwner);
    if (index < 0 || static_cast<std::size_t>(index) >= FOwner->FChildren.size()) return {};
    return IntfPtr<IDOMNode>(FOwner->FChildren[static_cast<std::size_t>(index)]->Intf());
  }
  std::int32_t get_length() override {
    UnfoldText(FOwner);
    return static_cast<std::int32_t>(FOwner->FChildren.size());
  }

 private:
  IntfPtr<IDOMNode> FOwnerRef;  // keeps the owner alive
  TXNode* FOwner;
};

class TXStaticList final : public TInterfacedImpl<IDOMNodeList> {
 public:
  std::vector<IntfPtr<IDOMNode>> FItems;
  IntfPtr<IDOMNode> get_item(std::int32_t index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= FItems.size()) return {};
    return FItems[static_cast<std::size_t>(index)];
  }
  std::int32_t get_length() override { return static_cast<std::int32_t>(FItems.size()); }
};

// Attaches attr to element, replacing the attribute that matches it (by
// name, or by namespace and local name); returns the replaced one.
IntfPtr<IDOMNode> PutAttribute(TXNode* element, IDOMNode* node, bool byNamespace) {
  if (!node) DOMNodeRequired();
  TXNode* attr = Core(node);
  if (attr->FType != ATTRIBUTE_NODE) HierarchyError();
  if (attr->FParent == element) return {};
  if (attr->FParent) throw DOMException(u"The attribute is in use by another element");
  TXNode* old = byNamespace ? element->AttributeByNS(attr->FNamespaceURI, attr->LocalName())
                            : element->AttributeByName(attr->FName);
  if (attr->FDoc != element->FDoc) Adopt(attr, element->FDoc);
  IntfPtr<IDOMNode> result;
  if (old) {
    result = IntfPtr<IDOMNode>(old->Intf());
    std::size_t i = old->IndexInParent();
    old->FParent = nullptr;
    element->FAttributes[i] = attr;
    attr->FIndexHint = i;
  } else {
    attr->FIndexHint = element->FAttributes.size();
    RoomForOne(element, element->FAttributes);
    element->FAttributes.push_back(attr);
  }
  attr->FParent = element;
  return result;
}

IntfPtr<IDOMNode> TakeAttribute(TXNode* attr) {
  if (!attr) return {};
  IntfPtr<IDOMNode> result(attr->Intf());
  Detach(attr);
  return result;
}

class TXAttrMap final : public TInterfacedImpl<IDOMNamedNodeMap> {
 public:
  explicit TXAttrMap(TXNode* owner) : FOwnerRef(owner->Intf()), FOwner(owner) {}
  IntfPtr<IDOMNode> get_item(std::int32_t index) override {
    if (index < 0 || static_cast<std::size_t>(index) >= FOwner->FAttributes.size()) return {};
    return IntfPtr<IDOMNode>(FOwner->FAttributes[static_cast<std::size_t>(index)]->Intf());
  }
  std::int32_t get_length() override {
    return static_cast<std::int32_t>(FOwner->FAttributes.size());
  }
  IntfPtr<IDOMNode> getNamedItem(const UnicodeString& name) override {
    TXNode* a = FOwner->AttributeByName(name);
    return a ? IntfPtr<IDOMNode>(a->Intf()) : nullptr;
  }
  IntfPtr<IDOMNode> setNamedItem(IDOMNode* node) override {
    return PutAttribute(FOwner, node, false);
  }
  IntfPtr<IDOMNode> removeNamedItem(const UnicodeString& name) override {
    return TakeAttribute(FOwner->AttributeByName(name));
  }
  IntfPtr<IDOMNode> getNamedItemNS(const UnicodeString& namespaceURI,
                                   const UnicodeString& localName) override {
    TXNode* a = FOwner->AttributeByNS(namespaceURI, localName);
    return a ? IntfPtr<IDOMNode>(a->Intf()) : nullptr;
  }
  IntfPtr<IDOMNode> setNamedItemNS(IDOMNode* node) override {
    return PutAttribute(FOwner, node, true);
  }
  IntfPtr<IDOMNode> removeNamedItemNS(const UnicodeString& namespaceURI,
                                      const UnicodeString& localName) override {
    return TakeAttribute(FOwner->AttributeByNS(namespaceURI, localName));
  }

 private:
  IntfPtr<IDOMNode> FOwnerRef;
  TXNode* FOwner;
};

IntfPtr<IDOMNodeList> ElementsByTagName(TXNode* root, UnicodeStringView name) {
  IntfPtr<TXStaticList> list(new TXStaticList);
  ForEachDescendant(root, [&](TXNode* n) {
    if (n->IsElement() && (name == u"*" || n->FName == name)) list->FItems.emplace_back(n->Intf());
  });
  return IntfPtr<IDOMNodeList>(list.get());
}

IntfPtr<IDOMNodeList> ElementsByTagNameNS(TXNode* root, UnicodeStringView ns,
                                          UnicodeStringView local) {
  IntfPtr<TXStaticList> list(new TXStaticList);
  ForEachDescendant(root, [&](TXNode* n) {
    if (n->IsElement() && (ns == u"*" || n->FNamespaceURI == ns) &&
        (local == u"*" || n->LocalName() == local))
      list->FItems.emplace_back(n->Intf());
  });
  return IntfPtr<IDOMNodeList>(list.get());
}

// Asked of a node by Core alone: answers the node's TXNode, uncounted. A
// cast across the interface bases costs far more, on every tree change.
constexpr TGUID kCoreIID = TGUID::Parse("{F114530B-6C5B-465B-9262-37D05247F820}");

bool SupportsFeature(UnicodeStringView feature, UnicodeStringView version) {
  return rtl::SameTextAscii(feature, u"XML") &&
         (version.empty() || version == u"1.0" || version == u"2.0");
}

// Everything a node answers through IDOMNode and IDOMNodeEx. Path
// selection (IDOMNodeSelect) is not offered: nothing above uses it. Intfs are the
// interfaces of the node's type; the first of them stands for IDOMNode.
template <class... Intfs>
class TXNodeImpl : public TXNode, public Intfs... {
 protected:
  using First = std::tuple_element_t<0, std::tuple<Intfs...>>;

 public:
  using TXNode::TXNode;

  IDOMNode* Intf() override { return static_cast<First*>(this); }

  HRESULT QueryInterface(const TGUID& iid, void** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (iid == kCoreIID) {
      *obj = static_cast<TXNode*>(this);
      return S_OK;  // not counted: see kCoreIID
    }
    if (iid == IInterface::IID || iid == IDOMNode::IID) {
      *obj = Intf();
    } else {
      (void)((iid == Intfs::IID ? (*obj = static_cast<Intfs*>(this), true) : false) || ...);
      if (!*obj) *obj = QueryOther(iid);
    }
    if (!*obj) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  std::int32_t _AddRef() override { return AddRef(); }
  std::int32_t _Release() override { return Release(); }

  // IDOMNode
  UnicodeString get_nodeName() override { return FName.str(); }
  UnicodeString get_nodeValue() override { return HasValue() ? FValue.str() : UnicodeString(); }
  void set_nodeValue(const UnicodeString& value) override {
    // Nodes without a value ignore it, as the DOM has it.
    if (HasValue()) SetValue(value);
  }
  std::uint16_t get_nodeType() override { return FType; }
  IntfPtr<IDOMNode> get_parentNode() override {
    if (FType == ATTRIBUTE_NODE || !FParent) return {};
    return IntfPtr<IDOMNode>(FParent->Intf());
  }
  IntfPtr<IDOMNodeList> get_childNodes() override {
    return IntfPtr<IDOMNodeList>(new TXChildList(this));
  }
  IntfPtr<IDOMNode> get_firstChild() override {
    UnfoldText(this);
    return FChildren.empty() ? nullptr : IntfPtr<IDOMNode>(FChildren.front()->Intf());
  }
  IntfPtr<IDOMNode> get_lastChild() override {
    UnfoldText(this);
    return FChildren.empty() ? nullptr : IntfPtr<IDOMNode>(FChildren.back()->Intf());
  }
  IntfPtr<IDOMNode> get_previousSibling() override { return Sibling(-1); }
  IntfPtr<IDOMNode> get_nextSibling() override { return Sibling(1); }
  IntfPtr<IDOMNamedNodeMap> get_attributes() override {
    if (!IsElement()) return {};
    return IntfPtr<IDOMNamedNodeMap>(new TXAttrMap(this));
  }
  IntfPtr<IDOMDocument> get_ownerDocument() override {
    if (FType == DOCUMENT_NODE) return {};
    return Counted<IDOMDocument>(FDoc);
  }
  UnicodeString get_namespaceURI() override { return FNamespaceURI.str(); }
  UnicodeString get_prefix() override { return UnicodeString(Named() ? Prefix() : u""); }
  UnicodeString get_localName() override { return UnicodeString(Named() ? LocalName() : u""); }
  // Both nodes are required, as the platform vendors require them.
  IntfPtr<IDOMNode> insertBefore(IDOMNode* newChild, IDOMNode* refChild) override {
    if (!newChild || !refChild) DOMNodeRequired();
    TXNode* ref = Core(refChild);
    if (ref->FParent != this || ref->FType == ATTRIBUTE_NODE) NotAChild();
    InsertChild(this, Core(newChild), ref->IndexInParent());
    return IntfPtr<IDOMNode>(newChild);
  }
  IntfPtr<IDOMNode> replaceChild(IDOMNode* newChild, IDOMNode* oldChild) override {
    if (!newChild || !oldChild) DOMNodeRequired();
    TXNode* old = Core(oldChild);
    if (old->FParent != this || old->FType == ATTRIBUTE_NODE) NotAChild();
    IntfPtr<IDOMNode> result(oldChild);
    if (Core(newChild) == old) return result;
    InsertChild(this, Core(newChild), old->IndexInParent());
    Detach(old);
    return result;
  }
  IntfPtr<IDOMNode> removeChild(IDOMNode* child) override {
    if (!child) DOMNodeRequired();
    TXNode* c = Core(child);
    if (c->FParent != this || c->FType == ATTRIBUTE_NODE) NotAChild();
    IntfPtr<IDOMNode> result(child);
    Detach(c);
    return result;
  }
  IntfPtr<IDOMNode> appendChild(IDOMNode* newChild) override {
    if (!newChild) DOMNodeRequired();
    InsertChild(this, Core(newChild), kAtTheEnd);
    return IntfPtr<IDOMNode>(newChild);
  }
  bool hasChildNodes() override { return !FChildren.empty() || FFoldedText; }
  IntfPtr<IDOMNode> cloneNode(bool deep) override {
    TXNode* copy = CloneTree(this, deep, FDoc);
    return IntfPtr<IDOMNode>(copy->Intf());
  }
  void normalize() override { Normalize(this); }
  bool supports(const UnicodeString& feature, const UnicodeString& version) override {
    return SupportsFeature(feature, version);
  }

  // IDOMNodeEx
  UnicodeString get_text() override { return TextContent(this); }
  UnicodeString get_xml() override { return SerializeToText(*this); }
  void set_text(const UnicodeString& text) override { SetTextContent(this, text); }
  void transformNode(IDOMNode*, UnicodeString&) override { Unsupported(u"transformNode"); }
  void transformNode(IDOMNode*, IDOMDocument*) override { Unsupported(u"transformNode"); }

 protected:
  // The pointer for an interface the node type answers beyond Intfs.
  virtual void* QueryOther(const TGUID&) { return nullptr; }

 private:
  bool HasValue() const {
    return FType == ATTRIBUTE_NODE || IsCharacterData() || FType == PROCESSING_INSTRUCTION_NODE;
  }
  bool Named() const { return FType == ELEMENT_NODE || FType == ATTRIBUTE_NODE; }
  IntfPtr<IDOMNode> Sibling(int delta) {
    if (FType == ATTRIBUTE_NODE || !FParent) return {};
    std::size_t i = IndexInParent();
    if (delta < 0 && i == 0) return {};
    std::size_t j = delta < 0 ? i - 1 : i + 1;
    if (j >= FParent->FChildren.size()) return {};
    return IntfPtr<IDOMNode>(FParent->FChildren[j]->Intf());
  }
};

class TXElement final : public TXNodeImpl<IDOMElement, IDOMNodeEx> {
 public:
  explicit TXElement(TXNode* doc) : TXNodeImpl(doc, ELEMENT_NODE) {}

  UnicodeString get_tagName() override { return FName.str(); }
  UnicodeString getAttribute(const UnicodeString& name) override {
    TXNode* a = AttributeByName(name);
    return a ? a->FValue.str() : UnicodeString();
  }
  void setAttribute(const UnicodeString& name, const UnicodeString& value) override {
    if (TXNode* a = AttributeByName(name)) {
      a->SetValue(value);
      return;
    }
    AppendAttribute(NewAttribute(FDoc, SharedAtom(name), {}, value));
  }
  void removeAttribute(const UnicodeString& name) override {
    if (TXNode* a = AttributeByName(name)) Orphan(a);
  }
  IntfPtr<IDOMAttr> getAttributeNode(const UnicodeString& name) override {
    return Counted<IDOMAttr>(AttributeByName(name));
  }
  IntfPtr<IDOMAttr> setAttributeNode(IDOMAttr* attr) override {
    return QueryIntf<IDOMAttr>(PutAttribute(this, attr, false));
  }
  IntfPtr<IDOMAttr> removeAttributeNode(IDOMAttr* attr) override {
    if (!attr) DOMNodeRequired();
    TXNode* a = Core(attr);
    if (a->FParent != this || a->FType != ATTRIBUTE_NODE)
      throw DOMException(u"The attribute does not belong to this element");
    return QueryIntf<IDOMAttr>(TakeAttribute(a));
  }
  IntfPtr<IDOMNodeList> getElementsByTagName(const UnicodeString& name) override {
    return ElementsByTagName(this, name);
  }
  UnicodeString getAttributeNS(const UnicodeString& namespaceURI,
                               const UnicodeString& localName) override {
    TXNode* a = AttributeByNS(namespaceURI, localName);
    return a ? a->FValue.str() : UnicodeString();
  }
  void setAttributeNS(const UnicodeString& namespaceURI, const UnicodeString& qualifiedName,
                      const UnicodeString& value) override {
    std::size_t c = qualifiedName.find(u':');
    UnicodeStringView local = c == UnicodeString::npos
                                  ? UnicodeStringView(qualifiedName)
                                  : UnicodeStringView(qualifiedName).substr(c + 1);
    if (TXNode* a = AttributeByNS(namespaceURI, local)) {
      a->SetName(SharedAtom(qualifiedName));
      a->SetValue(value);
      return;
    }
    AppendAttribute(NewAttribute(FDoc, SharedAtom(qualifiedName), SharedAtom(namespaceURI), value));
  }
  void removeAttributeNS(const UnicodeString& namespaceURI,
                         const UnicodeString& localName) override {
    if (TXNode* a = AttributeByNS(namespaceURI, localName)) Orphan(a);
  }
  IntfPtr<IDOMAttr> getAttributeNodeNS(const UnicodeString& namespaceURI,
                                       const UnicodeString& localName) override {
    return Counted<IDOMAttr>(AttributeByNS(namespaceURI, localName));
  }
  IntfPtr<IDOMAttr> setAttributeNodeNS(IDOMAttr* attr) override {
    return QueryIntf<IDOMAttr>(PutAttribute(this, attr, true));
  }
  IntfPtr<IDOMNodeList> getElementsByTagNameNS(const UnicodeString& namespaceURI,
                                               const UnicodeString& localName) override {
    return ElementsByTagNameNS(this, namespaceURI, localName);
  }
  bool hasAttribute(const UnicodeString& name) override { return AttributeByName(name); }
  bool hasAttributeNS(const UnicodeString& namespaceURI, const UnicodeString& localName) override {
    return AttributeByNS(namespaceURI, localName);
  }

 private:
  void AppendAttribute(TXNode* attr) {
    attr->FParent = this;
    attr->FIndexHint = FAttributes.size();
    RoomForOne(this, FAttributes);
    FAttributes.push_back(attr);
  }
};

// An attribute keeps its value as text, without child text nodes.
class TXAttr final : public TXNodeImpl<IDOMAttr, IDOMNodeEx> {
 public:
  explicit TXAttr(TXNode* doc) : TXNodeImpl(doc, ATTRIBUTE_NODE) {}
  UnicodeString get_name() override { return FName.str(); }
  bool get_specified() override { return true; }
  UnicodeString get_value() override { return FValue.str(); }
  void set_value(const UnicodeString& value) override { SetValue(value); }
  IntfPtr<IDOMElement> get_ownerElement() override { return Counted<IDOMElement>(FParent); }
};

// Character data of text, CDATA sections and comments.
template <class I>
class TXCharData : public TXNodeImpl<I, IDOMNodeEx> {
 public:
  using TXNodeImpl<I, IDOMNodeEx>::TXNodeImpl;
  UnicodeString get_data() override { return this->FValue.str(); }
  void set_data(const UnicodeString& data) override { this->SetValue(data); }
  std::int32_t get_length() override { return static_cast<std::int32_t>(this->FValue.size()); }
  UnicodeString substringData(std::int32_t offset, std::int32_t count) override {
    return UnicodeString(this->FValue.View().substr(Offset(offset), Count(count)));
  }
  void appendData(const UnicodeString& data) override { this->AppendValue(data); }
  // The other changes are made on a copy, as rare as they are.
  void insertData(std::int32_t offset, const UnicodeString& data) override {
    UnicodeString text = this->FValue.str();
    text.insert(Offset(offset), data);
    this->SetValue(text);
  }
  void deleteData(std::int32_t offset, std::int32_t count) override {
    UnicodeString text = this->FValue.str();
    text.erase(Offset(offset), Count(count));
    this->SetValue(text);
  }
  void replaceData(std::int32_t offset, std::int32_t count, const UnicodeString& data) override {
    UnicodeString text = this->FValue.str();
    text.replace(Offset(offset), Count(count), data);
    this->SetValue(text);
  }

 protected:
  void* QueryOther(const TGUID& iid) override {
    if (iid == IDOMCharacterData::IID) return static_cast<IDOMCharacterData*>(this);
    return nullptr;
  }
  std::size_t Offset(std::int32_t offset) const {
    if (offset < 0 || static_cast<std::size_t>(offset) > this->FValue.size()) IndexSizeError();
    return static_cast<std::size_t>(offset);
  }
  static std::size_t Count(std::int32_t count) {
    if (count < 0) IndexSizeError();
    return static_cast<std::size_t>(count);
  }
};

template <class I>
class TXTextImpl final : public TXCharData<I> {
 public:
  using TXCharData<I>::TXCharData;
  IntfPtr<IDOMText> splitText(std::int32_t offset) override {
    std::size_t at = this->Offset(offset);
    TXNode* rest = NewCharacterData(this->FDoc, this->FType, this->FValue.View().substr(at));
    IntfPtr<IDOMText> result = Counted<IDOMText>(rest);
    this->SetValue(this->FValue.View().substr(0, at));
    if (this->FParent) InsertChild(this->FParent, rest, this->IndexInParent() + 1);
    return result;
  }

 protected:
  void* QueryOther(const TGUID& iid) override {
    if (iid == IDOMText::IID) return static_cast<IDOMText*>(this);
    return TXCharData<I>::QueryOther(iid);
  }
};

using TXText = TXTextImpl<IDOMText>;
using TXCDATASection = TXTextImpl<IDOMCDATASection>;
using TXComment = TXCharData<IDOMComment>;

class TXProcessingInstruction final : public TXNodeImpl<IDOMProcessingInstruction, IDOMNodeEx> {
 public:
  explicit TXProcessingInstruction(TXNode* doc) : TXNodeImpl(doc, PROCESSING_INSTRUCTION_NODE) {}
  UnicodeString get_target() override { return FName.str(); }
  UnicodeString get_data() override { return FValue.str(); }
  void set_data(const UnicodeString& data) override { SetValue(data); }
};

// Made only on request (never by the parser); written as "&name;".
class TXEntityReference final : public TXNodeImpl<IDOMEntityReference, IDOMNodeEx> {
 public:
  explicit TXEntityReference(TXNode* doc) : TXNodeImpl(doc, ENTITY_REFERENCE_NODE) {}
};

class TXFragment final : public TXNodeImpl<IDOMDocumentFragment, IDOMNodeEx> {
 public:
  explicit TXFragment(TXNode* doc) : TXNodeImpl(doc, DOCUMENT_FRAGMENT_NODE) {
    FName = KindName(DOCUMENT_FRAGMENT_NODE);
  }
};

class TXImplementation final : public TInterfacedImpl<IDOMImplementation> {
 public:
  bool hasFeature(const UnicodeString& feature, const UnicodeString& version) override {
    return SupportsFeature(feature, version);
  }
  IntfPtr<IDOMDocumentType> createDocumentType(const UnicodeString&, const UnicodeString&,
                                               const UnicodeString&) override {
    Unsupported(u"createDocumentType");
  }
  // As the platform vendors do, the arguments are not used: the document
  // starts empty and the node model adds what it needs.
  IntfPtr<IDOMDocument> createDocument(const UnicodeString&, const UnicodeString&,
                                       IDOMDocumentType*) override {
    return NewDocument();
  }
};

// Answers the namespace-declaration search and the node questions on the
// document, not on each element: another interface base on every element
// would widen every node.
class TXDocument final
    : public TXNodeImpl<IDOMDocument, IDOMNodeEx, IDOMPersist, IDOMParseOptions, IDOMParseError,
                        IDOMNamespaceDeclScan, IDOMNodeQuery, IDOMTreeEdit> {
 public:
  // IDOMTreeEdit
  bool appendChildTo(IDOMNode* parent, IDOMNode* child) override {
    auto* p = const_cast<TXNode*>(OwnNode(parent));
    if (!p) return false;
    if (!child) DOMNodeRequired();
    InsertChild(p, Core(child), kAtTheEnd);
    return true;
  }
  bool appendText(IDOMNode* parent, const UnicodeString& data) override {
    auto* p = const_cast<TXNode*>(OwnNode(parent));
    if (!p) return false;
    // The only child of an element: folded into it, made when asked for.
    if (p->IsElement() && p->FChildren.empty() && !p->FFoldedText) {
      FoldText(p, data);
      return true;
    }
    TXNode* text = NewCharacterData(this, TEXT_NODE, data);
    try {
      InsertChild(p, text, kAtTheEnd);
    } catch (...) {
      FreeTree(text);  // never referenced, never placed
      throw;
    }
    return true;
  }

  IDOMElement* appendElement(IDOMNode* parent, const UnicodeString& namespaceURI,
                             const UnicodeString& qualifiedName,
                             const UnicodeString* data) override {
    auto* p = const_cast<TXNode*>(OwnNode(parent));
    if (!p) return nullptr;
    auto* e = static_cast<TXElement*>(
        NewElement(this, SharedAtom(qualifiedName), SharedAtom(namespaceURI)));
    try {
      InsertChild(p, e, kAtTheEnd);
    } catch (...) {
      FreeTree(e);  // never referenced, never placed
      throw;
    }
    if (data) FoldText(e, *data);
    return e;
  }

  // IDOMNamespaceDeclScan
  std::int32_t namespaceDeclIndex(IDOMNode* element, UnicodeStringView namespaceURI) override {
    const TXNode* e = OwnNode(element);
    if (!e) return -2;
    for (std::size_t i = 0; i < e->FAttributes.size(); ++i) {
      const TXNode* a = e->FAttributes[i];
      if (a->IsNamespaceDeclaration() && SameNamespace(a->FValue, namespaceURI))
        return static_cast<std::int32_t>(i);
    }
    return -1;
  }

  // IDOMNodeQuery
  std::int32_t attributeCount(IDOMNode* node) override {
    const TXNode* n = OwnNode(node);
    return n ? static_cast<std::int32_t>(n->FAttributes.size()) : -2;
  }
  bool nodeNames(IDOMNode* node, UnicodeStringView& localName,
                 UnicodeStringView& namespaceURI) override {
    const TXNode* n = OwnNode(node);
    if (!n) return false;
    // Only elements and attributes are named; the others answer as
    // get_localName does.
    localName = n->IsElement() || n->FType == ATTRIBUTE_NODE ? n->LocalName() : UnicodeStringView();
    namespaceURI = n->FNamespaceURI;
    return true;
  }
  std::int32_t onlyTextChild(IDOMNode* node, UnicodeStringView& text) override {
    const TXNode* n = OwnNode(node);
    if (!n) return -2;
    if (n->FFoldedText) {
      text = n->FValue;
      return 1;
    }
    if (!n->IsElement() || n->FChildren.size() != 1) return 0;
    const TXNode* only = n->FChildren.front();
    if (only->FType != TEXT_NODE) return 0;
    text = only->FValue;
    return 1;
  }
  std::int32_t childNodes(IDOMNode* node, std::int32_t first, IDOMNode** out,
                          std::int32_t capacity) override {
    const TXNode* n = OwnNode(node);
    if (!n) return -2;
    UnfoldText(const_cast<TXNode*>(n));
    const std::size_t count = n->FChildren.size();
    const std::size_t from = static_cast<std::size_t>(std::max(first, 0));
    const std::size_t end =
        from < count
            ? from + std::min(count - from, static_cast<std::size_t>(std::max(capacity, 0)))
            : from;
    for (std::size_t i = from; i < end; ++i) *out++ = n->FChildren[i]->Intf();
    return static_cast<std::int32_t>(count);
  }

  TXDocument() : TXNodeImpl(nullptr, DOCUMENT_NODE) {
    FArenas.push_back(new TXArena);
    FDoc = this;
    FName = KindName(DOCUMENT_NODE);
  }

  // IDOMDocument
  IntfPtr<IDOMDocumentType> get_doctype() override { return {}; }
  IntfPtr<IDOMImplementation> get_domImplementation() override {
    return IntfPtr<IDOMImplementation>(new TXImplementation);
  }
  IntfPtr<IDOMElement> get_documentElement() override { return Counted<IDOMElement>(Root()); }
  void set_documentElement(IDOMElement* element) override {
    if (!element) DOMNodeRequired();
    if (TXNode* root = Root()) {
      if (root == Core(element)) return;
      std::size_t i = root->IndexInParent();
      IntfPtr<IDOMNode> keep(root->Intf());
      Detach(root);
      InsertChild(this, Core(element), i);
    } else {
      InsertChild(this, Core(element), FChildren.size());
    }
  }
  IntfPtr<IDOMElement> createElement(const UnicodeString& tagName) override {
    return Counted<IDOMElement>(NewElement(this, SharedAtom(tagName), {}));
  }
  IntfPtr<IDOMDocumentFragment> createDocumentFragment() override {
    return Counted<IDOMDocumentFragment>(NewFragment(this));
  }
  IntfPtr<IDOMText> createTextNode(const UnicodeString& data) override {
    return Counted<IDOMText>(NewCharacterData(this, TEXT_NODE, data));
  }
  IntfPtr<IDOMComment> createComment(const UnicodeString& data) override {
    return Counted<IDOMComment>(NewCharacterData(this, COMMENT_NODE, data));
  }
  IntfPtr<IDOMCDATASection> createCDATASection(const UnicodeString& data) override {
    return Counted<IDOMCDATASection>(NewCharacterData(this, CDATA_SECTION_NODE, data));
  }
  IntfPtr<IDOMProcessingInstruction> createProcessingInstruction(
      const UnicodeString& target, const UnicodeString& data) override {
    return Counted<IDOMProcessingInstruction>(NewProcessingInstruction(this, target, data));
  }
  IntfPtr<IDOMAttr> createAttribute(const UnicodeString& name) override {
    return Counted<IDOMAttr>(NewAttribute(this, SharedAtom(name), {}, {}));
  }
  IntfPtr<IDOMEntityReference> createEntityReference(const UnicodeString& name) override {
    return Counted<IDOMEntityReference>(NewEntityReference(this, name));
  }
  IntfPtr<IDOMNodeList> getElementsByTagName(const UnicodeString& tagName) override {
    return ElementsByTagName(this, tagName);
  }
  IntfPtr<IDOMNode> importNode(IDOMNode* node, bool deep) override {
    if (!node) DOMNodeRequired();
    TXNode* source = Core(node);
    if (source->FType == DOCUMENT_NODE) HierarchyError();
    return IntfPtr<IDOMNode>(CloneTree(source, deep, this)->Intf());
  }
  IntfPtr<IDOMElement> createElementNS(const UnicodeString& namespaceURI,
                                       const UnicodeString& qualifiedName) override {
    return Counted<IDOMElement>(
        NewElement(this, SharedAtom(qualifiedName), SharedAtom(namespaceURI)));
  }
  IntfPtr<IDOMAttr> createAttributeNS(const UnicodeString& namespaceURI,
                                      const UnicodeString& qualifiedName) override {
    return Counted<IDOMAttr>(
        NewAttribute(this, SharedAtom(qualifiedName), SharedAtom(namespaceURI), {}));
  }
  IntfPtr<IDOMNodeList> getElementsByTagNameNS(const UnicodeString& namespaceURI,
                                               const UnicodeString& localName) override {
    return ElementsByTagNameNS(this, namespaceURI, localName);
  }
  IntfPtr<IDOMElement> getElementById(const UnicodeString&) override {
    Unsupported(u"getElementById");
  }

  // IDOMPersist
  std::int32_t asyncLoadState() override { return 4; }  // loads always complete in the call
  bool load(const Variant& source) override {
    if (!source.IsText()) throw DOMException(u"A file name is required");
    const UnicodeString& name = source.Text();
    std::ifstream in(platform::WideCharToMultiByte(CP_UTF8, 0, name), std::ios::binary);
    if (!in) {
      ClearChildren();
      FError = TXParseError{};
      FError.ErrorCode = 2;
      FError.URL = name;
      FError.Reason = u"The file cannot be opened";
      return false;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return Parse(bytes.str(), nullptr, name);
  }
  bool loadFromStream(TStream& stream) override {
    // A memory stream is parsed where it lies, without a copy of its bytes.
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
      const std::string_view all = memory->View();
      const std::size_t at = static_cast<std::size_t>(
          std::clamp<std::int64_t>(memory->Position(), 0, static_cast<std::int64_t>(all.size())));
      memory->SetPosition(static_cast<std::int64_t>(all.size()));
      return Parse(all.substr(at), nullptr, {});
    }
    return Parse(stream.ReadRest(), nullptr, {});
  }
  bool loadxml(const UnicodeString& value) override {
    // Text is already decoded: whatever its declaration says, read it as
    // the UTF-8 we make of it.
    return Parse(platform::WideCharToMultiByte(CP_UTF8, 0, value), "UTF-8", {});
  }
  void save(const Variant& destination) override {
    if (!destination.IsText()) throw DOMException(u"A file name is required");
    std::string bytes = SerializeDocument(*this);
    std::ofstream out(platform::WideCharToMultiByte(CP_UTF8, 0, destination.Text()),
                      std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
      throw DOMException(u"The file \"%s\" cannot be written", {destination.Text()});
  }
  void saveToStream(TStream& stream) override { stream.WriteBytes(SerializeDocument(*this)); }
  void set_OnAsyncLoad(TAsyncEventHandler handler) override {
    // Never called: loading is synchronous whatever async says.
    FOnAsyncLoad = std::move(handler);
  }

  // IDOMParseOptions. validate and resolveExternals are kept but change
  // nothing: documents with a document type are refused, so there is
  // nothing to validate against and nothing external to resolve.
  bool get_async() override { return FAsync; }
  bool get_preserveWhiteSpace() override { return FPreserveWhiteSpace; }
  bool get_resolveExternals() override { return FResolveExternals; }
  bool get_validate() override { return FValidate; }
  void set_async(bool value) override { FAsync = value; }
  void set_preserveWhiteSpace(bool value) override { FPreserveWhiteSpace = value; }
  void set_resolveExternals(bool value) override { FResolveExternals = value; }
  void set_validate(bool value) override { FValidate = value; }

  // IDOMParseError
  std::int32_t get_errorCode() override { return FError.ErrorCode; }
  UnicodeString get_url() override { return FError.URL; }
  UnicodeString get_reason() override { return FError.Reason; }
  UnicodeString get_srcText() override { return FError.SrcText; }
  std::int32_t get_line() override { return FError.Line; }
  std::int32_t get_linepos() override { return FError.LinePos; }
  std::int32_t get_filepos() override { return FError.FilePos; }

  TXNode* Root() const {
    for (TXNode* c : FChildren)
      if (c->IsElement()) return c;
    return nullptr;
  }

  bool FAsync = false;
  bool FPreserveWhiteSpace = false;
  bool FResolveExternals = false;
  bool FValidate = false;

 private:
  // The node behind node when it is one of this document's; null otherwise.
  const TXNode* OwnNode(IDOMNode* node) const {
    void* core = nullptr;
    if (!node || node->QueryInterface(kCoreIID, &core) != S_OK || !core) return nullptr;
    const TXNode* n = static_cast<const TXNode*>(core);
    return n->FDoc == this ? n : nullptr;
  }
  void ClearChildren() {
    while (!FChildren.empty()) Orphan(FChildren.back());
  }
  bool Parse(std::string_view bytes, const char* encoding, const UnicodeString& url) {
    ClearChildren();
    FError = TXParseError{};
    bool ok = ParseDocument(*this, bytes, encoding, FPreserveWhiteSpace, FError);
    FError.URL = url;
    return ok;
  }

  TXParseError FError;
  TAsyncEventHandler FOnAsyncLoad;

 public:
  ~TXDocument() override {
    for (TXArena* a : FArenas) a->Release();
  }
  TXArena& Arena() { return *FArenas.front(); }
  // Keeps the arenas of from, whose nodes move here; an arena holds no
  // other, so documents that trade nodes both ways make no cycle.
  void KeepArenasOf(const TXDocument& from) {
    for (TXArena* a : from.FArenas)
      if (std::find(FArenas.begin(), FArenas.end(), a) == FArenas.end()) {
        a->AddRef();
        FArenas.push_back(a);
      }
  }

 private:
  std::vector<TXArena*> FArenas;  // counted; its own first, then those of adopted nodes
};

void DestroyNode(TXNode* node, bool keep) {
  TXArena& arena = static_cast<TXDocument*>(node->FDoc)->Arena();
  const std::uint16_t type = node->FType;
  std::size_t size = 0;
  switch (type) {
    case ELEMENT_NODE:
      size = sizeof(TXElement);
      break;
    case ATTRIBUTE_NODE:
      size = sizeof(TXAttr);
      break;
    case TEXT_NODE:
      size = sizeof(TXText);
      break;
    case CDATA_SECTION_NODE:
      size = sizeof(TXCDATASection);
      break;
    case COMMENT_NODE:
      size = sizeof(TXComment);
      break;
    case PROCESSING_INSTRUCTION_NODE:
      size = sizeof(TXProcessingInstruction);
      break;
    case ENTITY_REFERENCE_NODE:
      size = sizeof(TXEntityReference);
      break;
    default:
      size = sizeof(TXFragment);
      break;
  }
  if (keep) {
    // The parsed lists and text of a node that goes alone, for the next
    // parse; when the document goes, they go with its arenas.
    std::size_t bytes = 0;
    if (void* block = node->FChildren.ArenaBlock(bytes)) arena.FreeData(block, bytes);
    if (void* block = node->FAttributes.ArenaBlock(bytes)) arena.FreeData(block, bytes);
    if (node->FValue.InArena())
      arena.FreeData(const_cast<char16_t*>(node->FValue.View().data()),
                     node->FValue.size() * sizeof(char16_t));
  }
  void* memory = dynamic_cast<void*>(node);
  node->~TXNode();
  if (keep)
    arena.Free(type, memory, size);
  else
    arena.Forget(memory, size);
}

TXArena& ArenaOf(TXNode* node) { return static_cast<TXDocument*>(node->FDoc)->Arena(); }

void GiveBackText(TXNode* node, const char16_t* text, std::size_t units) {
  if (text) ArenaOf(node).FreeDataHere(const_cast<char16_t*>(text), units * sizeof(char16_t));
}

void RoomForOne(TXNode* owner, TXNodeVector& list) {
  std::size_t bytes = 0;
  if (void* block = list.LeaveArena(bytes)) ArenaOf(owner).FreeDataHere(block, bytes);
}

}  // namespace

void TXNode::SetValue(UnicodeStringView text) {
  const std::size_t units = FValue.size();
  GiveBackText(this, FValue.Assign(text), units);
}

void TXNode::AppendValue(UnicodeStringView text) {
  const std::size_t units = FValue.size();
  GiveBackText(this, FValue.Append(text), units);
}

void AppendParsed(TXNode* doc, TXNodeVector& list, TXNode* node) {
  if (!list.Full()) return list.push_back(node);
  // Doubled, from two: the blocks left go back for the next lists.
  const std::size_t capacity = 2 * list.size();
  TXArena& arena = static_cast<TXDocument*>(doc)->Arena();
  void* memory = arena.AllocateData(TXNodeVector::BlockBytes(capacity));
  std::size_t bytes = 0;
  if (void* old = list.MoveToArena(memory, capacity, bytes)) arena.FreeDataHere(old, bytes);
  list.push_back(node);
}

void SetParsedValue(TXNode* doc, TXNode* node, UnicodeStringView text) {
  if (text.size() <= TXValue::kLocal) {
    node->FValue.Assign(text);
    return;
  }
  const std::size_t bytes = text.size() * sizeof(char16_t);
  void* memory = static_cast<TXDocument*>(doc)->Arena().AllocateData(bytes);
  std::memcpy(memory, text.data(), bytes);
  node->FValue.Refer(static_cast<const char16_t*>(memory), text.size());
}

namespace {

void KeepArenas(TXNode* doc, TXNode* from) {
  static_cast<TXDocument*>(doc)->KeepArenasOf(*static_cast<TXDocument*>(from));
}

TXNode* Core(IDOMNode* node) {
  void* core = nullptr;
  if (!node || node->QueryInterface(kCoreIID, &core) != S_OK || !core)
    throw DOMException(u"The node belongs to another DOM implementation");
  return static_cast<TXNode*>(core);
}

template <class T>
IntfPtr<T> Counted(TXNode* node) {
  if (!node) return {};
  return QueryIntf<T>(node->Intf());
}

// Checks that child may go below parent, then moves it there at index
// (taking it from where it was, and from its document when another).
void InsertChild(TXNode* parent, TXNode* child, std::size_t index) {
  const std::uint16_t pt = parent->FType;
  if (pt != ELEMENT_NODE && pt != DOCUMENT_NODE && pt != DOCUMENT_FRAGMENT_NODE) HierarchyError();
  // A folded text becomes the first child; callers that append say
  // kAtTheEnd, as the parent's size before this is 0.
  UnfoldText(parent);
  // One node moves without a list of its own; a fragment's children are
  // copied, as their list changes while they move.
  std::vector<TXNode*> children;
  if (child->FType == DOCUMENT_FRAGMENT_NODE)
    children.assign(child->FChildren.begin(), child->FChildren.end());
  const std::span<TXNode*> moving = child->FType == DOCUMENT_FRAGMENT_NODE
                                        ? std::span<TXNode*>(children)
                                        : std::span<TXNode*>(&child, 1);
  std::size_t elements = 0;
  for (TXNode* m : moving) {
    const std::uint16_t t = m->FType;
    if (t == DOCUMENT_NODE || t == ATTRIBUTE_NODE || t == DOCUMENT_FRAGMENT_NODE) HierarchyError();
    // A document holds one element, processing instructions and comments.
    if (pt == DOCUMENT_NODE && t != ELEMENT_NODE && t != PROCESSING_INSTRUCTION_NODE &&
        t != COMMENT_NODE)
      HierarchyError();
    if (t == ELEMENT_NODE) ++elements;
    // A node cannot go below itself; only a node with children can be an
    // ancestor of parent besides: checking just those keeps building a
    // deep tree linear.
    if (m == parent) HierarchyError();
    if (!m->FChildren.empty())
      for (TXNode* a = parent; a; a = a->FParent)
        if (a == m) HierarchyError();  // would make the tree a cycle
  }
  if (pt == DOCUMENT_NODE && elements > 0) {
    TXNode* root = static_cast<TXDocument*>(parent)->Root();
    if (elements > 1 || (root && std::find(moving.begin(), moving.end(), root) == moving.end()))
      throw DOMException(u"Only one top level element is allowed in an XML document");
  }
  for (TXNode* m : moving) {
    if (m->FParent == parent && m->IndexInParent() < index) --index;
    Detach(m);
    if (m->FDoc != parent->FDoc) Adopt(m, parent->FDoc);
    index = std::min(index, parent->FChildren.size());
    RoomForOne(parent, parent->FChildren);
    parent->FChildren.insert(parent->FChildren.begin() + static_cast<std::ptrdiff_t>(index), m);
    m->FParent = parent;
    m->FIndexHint = index;
    ++index;
  }
}

UnicodeString TextContent(TXNode* node) {
  if (node->FType != ELEMENT_NODE && node->FType != DOCUMENT_NODE &&
      node->FType != DOCUMENT_FRAGMENT_NODE)
    return node->FValue.str();
  if (node->FFoldedText) return node->FValue.str();
  UnicodeString text;
  ForEachDescendant(node, [&](TXNode* n) {
    if (n->FType == TEXT_NODE || n->FType == CDATA_SECTION_NODE || n->FFoldedText)
      text += n->FValue;
  });
  return text;
}

void SetTextContent(TXNode* node, const UnicodeString& text) {
  if (node->FType == DOCUMENT_NODE) HierarchyError();
  if (node->FType != ELEMENT_NODE && node->FType != DOCUMENT_FRAGMENT_NODE) {
    if (node->FType != ENTITY_REFERENCE_NODE) node->SetValue(text);
    return;
  }
  DropFoldedText(node);
  while (!node->FChildren.empty()) Orphan(node->FChildren.back());
  if (!text.empty()) InsertChild(node, NewCharacterData(node->FDoc, TEXT_NODE, text), 0);
}

TXNode* CloneOne(TXNode* n, TXNode* doc) {
  switch (n->FType) {
    case ELEMENT_NODE: {
      TXNode* e = NewElement(doc, n->FName, n->FNamespaceURI);
      for (TXNode* a : n->FAttributes) {
        TXNode* copy = NewAttribute(doc, a->FName, a->FNamespaceURI, a->FValue);
        copy->FParent = e;
        copy->FIndexHint = e->FAttributes.size();
        e->FAttributes.push_back(copy);
      }
      return e;
    }
    case ATTRIBUTE_NODE:
      return NewAttribute(doc, n->FName, n->FNamespaceURI, n->FValue);
    case TEXT_NODE:
    case CDATA_SECTION_NODE:
    case COMMENT_NODE:
      return NewCharacterData(doc, n->FType, n->FValue);
    case PROCESSING_INSTRUCTION_NODE:
      return NewProcessingInstruction(doc, n->FName.str(), n->FValue);
    case ENTITY_REFERENCE_NODE:
      return NewEntityReference(doc, n->FName.str());
    case DOCUMENT_FRAGMENT_NODE:
      return NewFragment(doc);
    default:
      HierarchyError();
  }
}

// A detached copy of node in doc (a new document when node is one). The
// copy is handed out unreferenced: the caller counts it at once.
TXNode* CloneTree(TXNode* node, bool deep, TXNode* doc) {
  TXNode* top;
  if (node->FType == DOCUMENT_NODE) {
    auto* copy = new TXDocument;
    auto* from = static_cast<TXDocument*>(node);
    copy->FAsync = from->FAsync;
    copy->FPreserveWhiteSpace = from->FPreserveWhiteSpace;
    copy->FResolveExternals = from->FResolveExternals;
    copy->FValidate = from->FValidate;
    top = copy;
    doc = copy;
  } else {
    top = CloneOne(node, doc);
  }
  if (!deep) return top;
  // Hold the copy while it grows, so that a failure frees it.
  IntfPtr<IDOMNode> guard(top->Intf());
  if (node->FFoldedText) FoldText(top, node->FValue);
  std::vector<std::pair<TXNode*, TXNode*>> stack{{node, top}};
  while (!stack.empty()) {
    auto [from, to] = stack.back();
    stack.pop_back();
    for (TXNode* c : from->FChildren) {
      TXNode* copy = CloneOne(c, doc);
      copy->FParent = to;
      copy->FIndexHint = to->FChildren.size();
      to->FChildren.push_back(copy);
      if (c->FFoldedText) FoldText(copy, c->FValue);
      if (!c->FChildren.empty()) stack.emplace_back(c, copy);
    }
  }
  guard.Detach();
  // Handed out with the guard's count taken back by the caller's IntfPtr.
  top->FRefs.fetch_sub(1, std::memory_order_relaxed);
  if (top != doc) doc->FRefs.fetch_sub(1, std::memory_order_relaxed);
  return top;
}

void Normalize(TXNode* node) {
  // A folded text that is empty is an empty text node, which goes.
  if (node->FFoldedText && node->FValue.empty()) DropFoldedText(node);
  std::vector<TXNode*> stack{node};
  while (!stack.empty()) {
    TXNode* n = stack.back();
    stack.pop_back();
    TXNodeVector& kids = n->FChildren;
    for (std::size_t i = 0; i < kids.size();) {
      TXNode* c = kids[i];
      if (c->FType == TEXT_NODE) {
        while (i + 1 < kids.size() && kids[i + 1]->FType == TEXT_NODE) {
          c->AppendValue(kids[i + 1]->FValue);
          Orphan(kids[i + 1]);
        }
        if (c->FValue.empty()) {
          Orphan(c);
          continue;
        }
      } else if (!c->FChildren.empty()) {
        stack.push_back(c);
      } else if (c->FFoldedText && c->FValue.empty()) {
        DropFoldedText(c);
      }
      ++i;
    }
  }
}

}  // namespace

// ---- Node factory ---------------------------------------------------------------

namespace {
// The names every node of a kind shares.
const TXAtom& XMLNSAtom() {
  static const TXAtom atom{UnicodeString(kXMLNSNamespaceURI)};
  return atom;
}
}  // namespace

namespace {
// A node of type T in doc's arena.
template <class T, class... Args>
T* Make(TXNode* doc, std::uint16_t type, Args... args) {
  static_assert(alignof(T) <= alignof(TXNode), "the arena aligns to a node");
  void* memory = static_cast<TXDocument*>(doc)->Arena().Allocate(type, sizeof(T));
  return new (memory) T(doc, args...);
}
}  // namespace

TXNode* NewElement(TXNode* doc, TXAtom qualifiedName, TXAtom namespaceURI) {
  auto* n = Make<TXElement>(doc, ELEMENT_NODE);
  n->SetName(std::move(qualifiedName));
  n->FNamespaceURI = std::move(namespaceURI);
  return n;
}

TXNode* NewAttribute(TXNode* doc, TXAtom qualifiedName, TXAtom namespaceURI,
                     UnicodeStringView value) {
  auto* n = Make<TXAttr>(doc, ATTRIBUTE_NODE);
  // A declaration made without namespace is still one, as a parsed one is.
  if (namespaceURI.empty() && IsDeclarationName(qualifiedName)) namespaceURI = XMLNSAtom();
  n->SetName(std::move(qualifiedName));
  n->FNamespaceURI = std::move(namespaceURI);
  n->FValue.Assign(value);
  return n;
}

TXNode* NewCharacterData(TXNode* doc, std::uint16_t type, UnicodeStringView data) {
  TXNode* n;
  switch (type) {
    case TEXT_NODE:
      n = Make<TXText>(doc, TEXT_NODE, TEXT_NODE);
      n->FName = KindName(TEXT_NODE);
      break;
    case CDATA_SECTION_NODE:
      n = Make<TXCDATASection>(doc, CDATA_SECTION_NODE, CDATA_SECTION_NODE);
      n->FName = KindName(CDATA_SECTION_NODE);
      break;
    default:
      n = Make<TXComment>(doc, COMMENT_NODE, COMMENT_NODE);
      n->FName = KindName(COMMENT_NODE);
      break;
  }
  n->FValue.Assign(data);
  return n;
}

TXNode* NewProcessingInstruction(TXNode* doc, UnicodeString target, UnicodeStringView data) {
  auto* n = Make<TXProcessingInstruction>(doc, PROCESSING_INSTRUCTION_NODE);
  n->FName = SharedAtom(target);
  n->FValue.Assign(data);
  return n;
}

TXNode* NewEntityReference(TXNode* doc, UnicodeString name) {
  auto* n = Make<TXEntityReference>(doc, ENTITY_REFERENCE_NODE);
  n->FName = TXAtom(std::move(name));
  return n;
}

TXNode* NewFragment(TXNode* doc) { return Make<TXFragment>(doc, DOCUMENT_FRAGMENT_NODE); }

IntfPtr<IDOMDocument> NewDocument() { return IntfPtr<IDOMDocument>(new TXDocument); }

// ---- Vendor -----------------------------------------------------------------------

namespace {

class TExpatDOMVendor final : public TDOMVendor {
 public:
  UnicodeString Description() const override { return UnicodeString(kExpatDOMVendorName); }
  IntfPtr<IDOMImplementation> DOMImplementation() override {
    return IntfPtr<IDOMImplementation>(new TXImplementation);
  }
};

std::unique_ptr<TExpatDOMVendor> g_vendor;

}  // namespace

void RegisterExpatDOMVendor() {
  if (g_vendor) return;
  auto vendor = std::make_unique<TExpatDOMVendor>();
  RegisterDOMVendor(vendor.get());
  g_vendor = std::move(vendor);
}

void UnregisterExpatDOMVendor() {
  if (!g_vendor) return;
  UnRegisterDOMVendor(g_vendor.get());
  g_vendor.reset();
}

}  // namespace delvan::platform::posix
