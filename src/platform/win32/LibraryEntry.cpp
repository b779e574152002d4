// Entry point of Delvan.dll: process attach runs the library's one
// initialisation routine, detach (by FreeLibrary) its finalisation.
//
// Both run under the loader lock, so they start no thread, wait for none,
// load no module and make no COM call: the routine only fills the
// registries, registers the DOM vendor object (which makes no document
// yet) and creates the credentials header.
#include "lookup/LibraryInit.h"

// clang-format off
#include <windows.h>
// clang-format on

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      try {
        delvan::InitializeLibrary();
      } catch (...) {
        // Nothing may escape to the loader; the lookup then reports that
        // the library is not initialised.
      }
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved not null) the other threads are gone
      // already and the system reclaims everything: nothing is torn down.
      if (reserved == nullptr) {
        try {
          delvan::FinalizeLibrary();
        } catch (...) {
        }
      }
      break;
    default:
      break;
  }
  return TRUE;
}
