#include "soap/Registries.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "soap/InvokeRegistry.h"
#include "soap/TypeRegistry.h"

namespace delvan::soap {

namespace {

constinit std::atomic<TInvokableClassRegistry*> gInvRegistry{nullptr};
constinit std::atomic<TRemotableTypeRegistry*> gRemRegistry{nullptr};
// Guards creation only. Creating while another thread creates would build
// two pairs and lose one thread's registrations, so creation is serialised
// even though it normally happens once, at load. The built-ins are
// registered on the new object before it is published, never through the
// accessors, so creation never re-enters this lock.
std::mutex gCreateLock;

void EnsureCreated() {
  if (gRemRegistry.load(std::memory_order_acquire)) return;
  std::lock_guard lock(gCreateLock);
  if (gRemRegistry.load(std::memory_order_relaxed)) return;
  auto inv = std::make_unique<TInvokableClassRegistry>();
  auto rem = std::make_unique<TRemotableTypeRegistry>();
  RegisterBuiltInTypes(*rem);
  gInvRegistry.store(inv.release(), std::memory_order_release);
  gRemRegistry.store(rem.release(), std::memory_order_release);
}

}  // namespace

TInvokableClassRegistry& InvRegistry() {
  EnsureCreated();
  return *gInvRegistry.load(std::memory_order_acquire);
}

TRemotableTypeRegistry& RemClassRegistry() {
  EnsureCreated();
  return *gRemRegistry.load(std::memory_order_acquire);
}

TRemotableTypeRegistry& RemTypeRegistry() { return RemClassRegistry(); }

void InitializeRegistries() { EnsureCreated(); }

void FinalizeRegistries() {
  std::lock_guard lock(gCreateLock);
  delete gInvRegistry.exchange(nullptr, std::memory_order_acq_rel);
  delete gRemRegistry.exchange(nullptr, std::memory_order_acq_rel);
  SetAppNameSpacePrefix({});
}

}  // namespace delvan::soap
