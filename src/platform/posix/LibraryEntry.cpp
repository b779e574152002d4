// Entry points of the shared library: load runs the library's one
// initialisation routine, unload its finalisation.
#include "lookup/LibraryInit.h"

namespace {

__attribute__((constructor)) void DelvanLoad() {
  try {
    delvan::InitializeLibrary();
  } catch (...) {
    // Nothing may escape the loader; the lookup then reports that the
    // library is not initialised.
  }
}

__attribute__((destructor)) void DelvanUnload() { delvan::FinalizeLibrary(); }

}  // namespace
