// TXMLData: the remotable holder of an XML fragment that travels as it is
// (registered as the XML Schema type "schema"). The fragment and its
// writing and reading come with the XML node model.
#pragma once

#include "soap/Remotable.h"

namespace delvan::soap {

class TXMLData : public TRemotable {
  DELVAN_CLASS()
};

}  // namespace delvan::soap
