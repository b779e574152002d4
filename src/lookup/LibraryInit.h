// The library's one initialisation routine and its finalisation, run when
// the library is loaded and unloaded (and by the tests around their run).
#pragma once

namespace delvan {

// Sets up, in order: the code-page services, the SOAP registries with their
// built-in types, (the DOM vendor, whose place is marked in the routine),
// then the service binding (registrations and the credentials header). Counted: every call is
// matched by one FinalizeLibrary, and the last one tears down in reverse.
void InitializeLibrary();
void FinalizeLibrary();

}  // namespace delvan
