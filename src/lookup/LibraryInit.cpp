#include "lookup/LibraryInit.h"

#include "platform/CodePage.h"
#include "service/ServiceBinding.h"

namespace delvan {

void InitializeLibrary() {
  platform::InitializeCodePages();
  service::InitializeServiceBinding();
}

void FinalizeLibrary() { service::FinalizeServiceBinding(); }

}  // namespace delvan
