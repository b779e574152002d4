// The platform's DOM vendor: registered once at library load as the only
// vendor, unregistered at unload. One backend per platform implements it.
#pragma once

namespace delvan::platform {

// Registers the platform's DOM vendor; a second call does nothing.
void RegisterPlatformDOMVendor();
// Unregisters and frees it; does nothing when it is not registered.
void UnregisterPlatformDOMVendor();

}  // namespace delvan::platform
