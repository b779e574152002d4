// POSIX backend of the platform DOM vendor: our own DOM over expat.
#include "platform/XmlDomVendor.h"
#include "platform/posix/ExpatDom.h"

namespace delvan::platform {

void RegisterPlatformDOMVendor() { posix::RegisterExpatDOMVendor(); }

void UnregisterPlatformDOMVendor() { posix::UnregisterExpatDOMVendor(); }

}  // namespace delvan::platform
