// Load-time set-up of the service binding: creates the process-wide
// credentials header (and registers the service with the SOAP layer).
#pragma once

namespace delvan::service {

// Runs once per process however often it is called; each call is matched by
// one FinalizeServiceBinding, and the last one tears down.
void InitializeServiceBinding();
void FinalizeServiceBinding();

}  // namespace delvan::service
