// TSOAPAttachment: the base of the classes whose instances travel as MIME
// attachments beside the envelope. Calls with an argument of such a class
// are sent as multipart messages; the registry service uses none.
#pragma once

#include "soap/Remotable.h"

namespace delvan::soap {

class TSOAPAttachment : public TRemotable {
  DELVAN_CLASS()
};

}  // namespace delvan::soap
