// Lifetime of the two process-wide registries: both are created together on
// the first call of InvRegistry(), RemClassRegistry() or RemTypeRegistry(),
// with the built-in type registrations, and destroyed together at unload.
#pragma once

namespace delvan::soap {

// Makes the first call, so that both registries exist (with their built-ins)
// before anything registers into them.
void InitializeRegistries();

// Destroys both registries and clears AppNameSpacePrefix. Nothing may use the
// registries concurrently; a later accessor call creates them afresh.
void FinalizeRegistries();

}  // namespace delvan::soap
