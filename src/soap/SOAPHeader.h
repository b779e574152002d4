// TSOAPHeader: the base of the objects that travel in a SOAP header.
#pragma once

#include "soap/Remotable.h"

namespace delvan::soap {

class TSOAPHeader : public TRemotable {
  DELVAN_CLASS()

 public:
  bool MustUnderstand() const { return FMustUnderstand; }
  void SetMustUnderstand(bool value) { FMustUnderstand = value; }
  const UnicodeString& Actor() const { return FActor; }
  void SetActor(UnicodeString value) { FActor = std::move(value); }

 protected:
  bool FMustUnderstand = false;
  UnicodeString FActor;
};

}  // namespace delvan::soap
