// Windows backend of the platform DOM vendor: MSXML over COM.
#include "platform/XmlDomVendor.h"
#include "platform/win32/MsXmlDom.h"

namespace delvan::platform {

void RegisterPlatformDOMVendor() { win32::RegisterMSXMLVendor(); }

void UnregisterPlatformDOMVendor() { win32::UnregisterMSXMLVendor(); }

}  // namespace delvan::platform
