#include "lookup/LibraryInit.h"

#include <mutex>

#include "platform/CodePage.h"
#include "service/ServiceBinding.h"
#include "soap/Registries.h"

namespace delvan {

namespace {
constinit std::mutex gInitLock;
constinit int gInitCount = 0;
}  // namespace

void InitializeLibrary() {
  std::lock_guard lock(gInitLock);
  if (gInitCount++ > 0) return;
  platform::InitializeCodePages();
  soap::InitializeRegistries();
  // The DOM vendor registers here, between the registries and the service
  // binding (and is unregistered between them in FinalizeLibrary).
  service::InitializeServiceBinding();
}

void FinalizeLibrary() {
  std::lock_guard lock(gInitLock);
  if (gInitCount == 0 || --gInitCount > 0) return;
  service::FinalizeServiceBinding();
  // The DOM vendor is unregistered here.
  soap::FinalizeRegistries();
}

}  // namespace delvan
