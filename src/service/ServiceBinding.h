// Load-time set-up of the service binding: registers the port type, its
// parameters and its record classes with the SOAP layer's registries, then
// creates the process-wide credentials header.
#pragma once

namespace delvan::service {

// Runs once per process however often it is called; each call is matched by
// one FinalizeServiceBinding, and the last one tears down. The registries
// must exist already (the library's initialisation creates them first).
void InitializeServiceBinding();
void FinalizeServiceBinding();

}  // namespace delvan::service
