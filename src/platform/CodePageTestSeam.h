// Test seam of the code-page backend: lets tests choose the code page that
// GetACP reports. Linked into the tests only.
#pragma once

#include "platform/CodePage.h"

namespace delvan::platform::testing {

// Makes GetACP (and so CP_ACP) report codePage. CP_ACP resets.
void SetACPForTesting(TCodePage codePage);

// Makes GetACP report the detected system code page again.
void ResetACPForTesting();

// Sets the code page GetACP reports for the lifetime of the object.
class ScopedACP {
 public:
  explicit ScopedACP(TCodePage codePage) { SetACPForTesting(codePage); }
  ~ScopedACP() { ResetACPForTesting(); }
  ScopedACP(const ScopedACP&) = delete;
  ScopedACP& operator=(const ScopedACP&) = delete;
};

}  // namespace delvan::platform::testing
