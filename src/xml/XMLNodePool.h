// Per-thread free lists for the node model's wrapper objects. A message makes
// and drops a wrapper for nearly every node it touches; handing the blocks
// back to the same thread's list saves a malloc and a free for each.
//
// A block freed on another thread than it was taken on joins that thread's
// list: the blocks are plain heap blocks of one size, so any thread may
// reuse them. Each list keeps at most kKeep blocks and gives them back to
// the heap when its thread ends; after that (thread-exit and static
// destructors that still drop wrappers) blocks go straight to the heap.
//
// Under AddressSanitizer every block goes straight to the heap: its
// quarantine reports a wrapper used after its release, and the leak checker
// does not follow links kept in poisoned blocks, so a kept list would read
// as leaked while a process still runs.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define DELVAN_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DELVAN_POOL_ASAN 1
#endif
#endif

namespace delvan::xml {

// Blocks of Size bytes, one list per thread. Tag tells the lists of two
// classes of the same size apart (they could share, but a class's own list
// keeps its figures readable under a profiler).
template <std::size_t Size, class Tag>
class TBlockPool {
 public:
  static void* Take() {
#if !defined(_WIN32) && !defined(DELVAN_POOL_ASAN)
    TList& list = List();
    if (FreeBlock* block = list.head) {
      list.head = block->next;
      --list.count;
      return block;
    }
#endif
    return ::operator new(Size);
  }

  static void Give(void* p) noexcept {
#if !defined(_WIN32) && !defined(DELVAN_POOL_ASAN)
    // A DLL's thread-exit destructors are not safe across unloading, so
    // Windows builds go to the heap each time.
    TList& list = List();
    if (!list.closed && list.count < kKeep) {
      // Register the thread-exit drain on the first block kept.
      if (!list.drainRegistered) {
        list.drainRegistered = true;
        static thread_local TDrain drain;
        (void)drain;
      }
      auto* block = static_cast<FreeBlock*>(p);
      block->next = list.head;
      list.head = block;
      ++list.count;
      return;
    }
#endif
    ::operator delete(p);
  }

 private:
  static_assert(Size >= sizeof(void*));
  static constexpr std::size_t kKeep = 256;

  struct FreeBlock {
    FreeBlock* next;
  };
  // Trivially destructible, so it stays usable after the drain has run.
  struct TList {
    FreeBlock* head = nullptr;
    std::size_t count = 0;
    bool closed = false;
    bool drainRegistered = false;
  };
  struct TDrain {
    ~TDrain() {
      TList& list = List();
      list.closed = true;
      while (FreeBlock* block = list.head) {
        list.head = block->next;
        ::operator delete(block);
      }
      list.count = 0;
    }
  };

  static TList& List() {
    static constinit thread_local TList list;
    return list;
  }
};

// An allocator over TBlockPool: requests of up to N objects take one pooled
// block of N; larger ones go to the heap. With N = 1 it serves the cells of
// std::allocate_shared, with more the first buffer of a short vector.
template <class T, std::size_t N = 1>
class TPoolAllocator {
 public:
  using value_type = T;
  template <class U>
  struct rebind {
    using other = TPoolAllocator<U, N>;
  };
  TPoolAllocator() = default;
  template <class U>
  TPoolAllocator(const TPoolAllocator<U, N>&) noexcept {}  // NOLINT: rebinding

  T* allocate(std::size_t n) {
    if (n <= N) return static_cast<T*>(TPool::Take());
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n <= N)
      TPool::Give(p);
    else
      std::allocator<T>().deallocate(p, n);
  }
  template <class U>
  bool operator==(const TPoolAllocator<U, N>&) const noexcept {
    return true;
  }

 private:
  using TPool = TBlockPool<N * sizeof(T), TPoolAllocator<T, N>>;
};

}  // namespace delvan::xml
