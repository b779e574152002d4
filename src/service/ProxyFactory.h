// GetRgWsPublic: hands out a reference to the port type RgWsPublic bound to
// the service, with the credentials header attached.
#pragma once

#include "rtl/Interface.h"
#include "service/RgWsPublic.h"

namespace delvan::soap {
class THTTPRIO;
}

namespace delvan::service {

// UseWSDL binds by service description instead of by endpoint; an empty Addr
// means the default address; HTTPRIO is an existing remote-interface object
// to bind, or null for a new one. Returns a counted reference.
IntfPtr<RgWsPublic> GetRgWsPublic(bool UseWSDL = false, UnicodeStringView Addr = {},
                                  soap::THTTPRIO* HTTPRIO = nullptr);

}  // namespace delvan::service
