#include "service/ProxyFactory.h"

#include "rtl/Exception.h"

namespace delvan::service {

// No remote-interface implementation of RgWsPublic is linked into this
// build yet, so the binding query fails the way an unsupported cast does.
IntfPtr<RgWsPublic> GetRgWsPublic(bool, UnicodeStringView, soap::THTTPRIO*) {
  throw Exception(u"Interface not supported");
}

}  // namespace delvan::service
