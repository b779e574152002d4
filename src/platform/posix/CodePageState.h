// State of the POSIX code-page backend, shared with its test seam only.
#pragma once

#include <atomic>

#include "platform/CodePage.h"

namespace delvan::platform::posix {

// The code page GetACP reports; 0 until InitializeCodePages has run.
extern std::atomic<TCodePage> g_activeCodePage;

// The code page InitializeCodePages detected from the environment; 0 until
// it has run.
extern std::atomic<TCodePage> g_detectedCodePage;

}  // namespace delvan::platform::posix
