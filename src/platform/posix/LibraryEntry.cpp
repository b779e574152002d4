// Entry points of the shared library: load runs the library's one
// initialisation routine, unload its finalisation.
#include <cstdlib>

#include "lookup/LibraryInit.h"
#include "platform/posix/ExpatDom.h"

namespace {

// At process exit the C++ runtime destroys the library's static objects
// before the loader runs DelvanUnload, so finalising then would touch
// destroyed objects; the process is ending and the OS reclaims everything.
// On dlclose the loader runs DelvanUnload first, with every object alive.
constinit bool gProcessExiting = false;

void MarkProcessExiting() { gProcessExiting = true; }

__attribute__((constructor)) void DelvanLoad() {
  try {
    delvan::InitializeLibrary();
  } catch (...) {
    // Nothing may escape the loader; the lookup then reports that the
    // library is not initialised.
  }
  std::atexit(MarkProcessExiting);
}

__attribute__((destructor)) void DelvanUnload() {
  if (gProcessExiting) return;
  delvan::FinalizeLibrary();
  // The loader unloads the library only once no living thread keeps its
  // thread caches, so no name of ours is in use any more.
  delvan::platform::posix::FreePermanentAtoms();
}

}  // namespace
