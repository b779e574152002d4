#include "platform/CodePageTestSeam.h"

#include "platform/posix/CodePageState.h"

namespace delvan::platform::testing {

void SetACPForTesting(TCodePage codePage) {
  if (codePage == CP_ACP) {
    ResetACPForTesting();
    return;
  }
  // Detect first, so a later lazy initialisation cannot overwrite the choice.
  InitializeCodePages();
  posix::g_activeCodePage.store(codePage, std::memory_order_release);
}

void ResetACPForTesting() {
  InitializeCodePages();
  posix::g_activeCodePage.store(posix::g_detectedCodePage.load(std::memory_order_acquire),
                                std::memory_order_release);
}

}  // namespace delvan::platform::testing
