#include "lookup/LibraryInit.h"

#include <mutex>

#include "platform/CodePage.h"
#include "service/ServiceBinding.h"
#include "soap/Registries.h"
#include "xml/xmldom.h"

namespace delvan {

namespace {
std::mutex gInitLock;
constinit int gInitCount = 0;
}  // namespace

void InitializeLibrary() {
  std::lock_guard lock(gInitLock);
  if (gInitCount++ > 0) return;
  platform::InitializeCodePages();
  soap::InitializeRegistries();
  xml::InitializeDOMVendors();
  service::InitializeServiceBinding();
}

void FinalizeLibrary() {
  std::lock_guard lock(gInitLock);
  if (gInitCount == 0 || --gInitCount > 0) return;
  service::FinalizeServiceBinding();
  xml::FinalizeDOMVendors();
  soap::FinalizeRegistries();
}

}  // namespace delvan
