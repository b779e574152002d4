// GetRgWsPublic: hands out a reference to the port type RgWsPublic bound to
// the service, with the credentials header attached; and the remote-interface
// implementation of RgWsPublic that the call driver hands out.
#pragma once

#include "rtl/Interface.h"
#include "service/RgWsPublic.h"

namespace delvan::soap {
class THTTPRIO;
}

namespace delvan::service {

// UseWSDL binds by service description instead of by endpoint; an empty Addr
// means the default address; HTTPRIO is an existing remote-interface object
// to bind, or null for a new one (without owner, living by the returned
// reference). An HTTPRIO given stays the caller's. Returns a counted
// reference; raises Exception "Interface not supported" when the object
// cannot be bound to RgWsPublic.
IntfPtr<RgWsPublic> GetRgWsPublic(bool UseWSDL = false, UnicodeStringView Addr = {},
                                  soap::THTTPRIO* HTTPRIO = nullptr);

// Registers the implementation of RgWsPublic with the call driver, so that a
// remote-interface object can be bound to it. Part of the service binding's
// load-time registrations; repeated calls change nothing.
void RegisterRgWsPublicProxy();

}  // namespace delvan::service
