// The registry service as the system sees it: the port type RgWsPublic and
// the records that travel in its messages.
//
// Ownership: a record owns the objects in its object-typed fields and frees
// them in its destructor. Setting a field writes it directly: whoever sets
// one frees the object it held before. An RgWsPublicFirmActRtUserArray holds
// its entries without owning them; the holder of the array frees them.
#pragma once

#include <vector>

#include "rtl/Interface.h"
#include "rtl/TypInfo.h"
#include "soap/Remotable.h"
#include "soap/XSBuiltIns.h"

namespace delvan::service {

using soap::TXSDateTime;
using soap::TXSDecimal;

class RgWsPublicInputRtBase : public soap::TRemotable {
  DELVAN_CLASS()
};

// The request record. Its constructor marks it as a literal parameter.
class RgWsPublicInputRtUser : public RgWsPublicInputRtBase {
  DELVAN_CLASS()

 public:
  RgWsPublicInputRtUser();

  UnicodeString FafmCalledBy;
  UnicodeString FafmCalledFor;
};

class RgWsPublicBasicRtBase : public soap::TRemotable {
  DELVAN_CLASS()
};

// The response record.
class RgWsPublicBasicRtUser : public RgWsPublicBasicRtBase {
  DELVAN_CLASS()

 public:
  RgWsPublicBasicRtUser() = default;
  // Frees stopDate, then registDate.
  ~RgWsPublicBasicRtUser() override;

  UnicodeString Fafm;
  TXSDateTime* FstopDate = nullptr;
  UnicodeString FpostalAddressNo;
  UnicodeString FdoyDescr;
  UnicodeString Fdoy;
  UnicodeString Fonomasia;
  UnicodeString FlegalStatusDescr;
  TXSDateTime* FregistDate = nullptr;
  UnicodeString FdeactivationFlag;
  UnicodeString FdeactivationFlagDescr;
  UnicodeString FpostalAddress;
  UnicodeString FfirmFlagDescr;
  UnicodeString FcommerTitle;
  UnicodeString FpostalAreaDescription;
  UnicodeString FINiFlagDescr;
  UnicodeString FpostalZipCode;
};

class RgWsPublicFirmActRtBase : public soap::TRemotable {
  DELVAN_CLASS()
};

// One activity of the business.
class RgWsPublicFirmActRtUser : public RgWsPublicFirmActRtBase {
  DELVAN_CLASS()

 public:
  RgWsPublicFirmActRtUser() = default;
  // Frees firmActCode.
  ~RgWsPublicFirmActRtUser() override;

  UnicodeString FfirmActDescr;
  UnicodeString FfirmActKind;
  UnicodeString FfirmActKindDescr;
  TXSDecimal* FfirmActCode = nullptr;
};

class GenWsErrorRtBase : public soap::TRemotable {
  DELVAN_CLASS()
};

// The error record the service returns inside a normal answer.
class GenWsErrorRtUser : public GenWsErrorRtBase {
  DELVAN_CLASS()

 public:
  UnicodeString FerrorDescr;
  UnicodeString FerrorCode;
};

using RgWsPublicFirmActRtUserArray = std::vector<RgWsPublicFirmActRtUser*>;
extern const rtl::TTypeInfo TypeInfo_RgWsPublicFirmActRtUserArray;

// Frees every entry of the array and empties it.
void FreeActivities(RgWsPublicFirmActRtUserArray& activities);

// The port type. The in/out parameters may be filled or replaced by the
// call; what they hold afterwards belongs to the caller.
class RgWsPublic : public IInvokable {
 public:
  static constexpr TGUID IID = TGUID::Parse("{4F1FFC00-5636-214A-AB20-EACD347B9375}");

  virtual void rgWsPublicAfmMethod(RgWsPublicInputRtUser* const& RgWsPublicInputRt_in,
                                   RgWsPublicBasicRtUser*& RgWsPublicBasicRt_out,
                                   RgWsPublicFirmActRtUserArray& arrayOfRgWsPublicFirmActRt_out,
                                   TXSDecimal*& pCallSeqId_out,
                                   GenWsErrorRtUser*& pErrorRec_out) = 0;
  virtual UnicodeString rgWsPublicVersionInfo() = 0;

 protected:
  ~RgWsPublic() = default;
};
extern const rtl::TTypeInfo TypeInfo_RgWsPublic;

}  // namespace delvan::service
