#include "service/CredentialsHeader.h"

#include "service/ServiceConstants.h"

namespace delvan::service {

constinit const TClass AFMCredentialsHeader::StaticClass =
    rtl::DefineClass<AFMCredentialsHeader, soap::TSOAPHeader>(
        AFMCredentialsHeader::StaticClass, u"AFMCredentialsHeader", ServiceUnitName);

constinit AFMCredentialsHeader* crheader = nullptr;

}  // namespace delvan::service
