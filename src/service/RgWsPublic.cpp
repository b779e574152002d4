#include "service/RgWsPublic.h"

#include <utility>

#include "service/ServiceConstants.h"

namespace delvan::service {

using rtl::DefineClass;
using rtl::IS_NLBL;
using rtl::MakeProp;
using rtl::TPropInfo;
using soap::TRemotable;

// ---- Records ------------------------------------------------------------------

RgWsPublicInputRtUser::RgWsPublicInputRtUser() { FSerializationOptions = {soap::xoLiteralParam}; }

RgWsPublicBasicRtUser::~RgWsPublicBasicRtUser() {
  delete std::exchange(FstopDate, nullptr);
  delete std::exchange(FregistDate, nullptr);
}

RgWsPublicFirmActRtUser::~RgWsPublicFirmActRtUser() { delete std::exchange(FfirmActCode, nullptr); }

void FreeActivities(RgWsPublicFirmActRtUserArray& activities) {
  for (RgWsPublicFirmActRtUser*& entry : activities) delete std::exchange(entry, nullptr);
  activities.clear();
}

namespace {

constexpr TPropInfo kInputProps[] = {
    MakeProp<&RgWsPublicInputRtUser::FafmCalledBy>(u"afmCalledBy", IS_NLBL),
    MakeProp<&RgWsPublicInputRtUser::FafmCalledFor>(u"afmCalledFor", IS_NLBL),
};

using Basic = RgWsPublicBasicRtUser;
constexpr TPropInfo kBasicProps[] = {
    MakeProp<&Basic::Fafm>(u"afm", IS_NLBL),
    MakeProp<&Basic::FstopDate>(u"stopDate", IS_NLBL),
    MakeProp<&Basic::FpostalAddressNo>(u"postalAddressNo", IS_NLBL),
    MakeProp<&Basic::FdoyDescr>(u"doyDescr", IS_NLBL),
    MakeProp<&Basic::Fdoy>(u"doy", IS_NLBL),
    MakeProp<&Basic::Fonomasia>(u"onomasia", IS_NLBL),
    MakeProp<&Basic::FlegalStatusDescr>(u"legalStatusDescr", IS_NLBL),
    MakeProp<&Basic::FregistDate>(u"registDate", IS_NLBL),
    MakeProp<&Basic::FdeactivationFlag>(u"deactivationFlag", IS_NLBL),
    MakeProp<&Basic::FdeactivationFlagDescr>(u"deactivationFlagDescr", IS_NLBL),
    MakeProp<&Basic::FpostalAddress>(u"postalAddress", IS_NLBL),
    MakeProp<&Basic::FfirmFlagDescr>(u"firmFlagDescr", IS_NLBL),
    MakeProp<&Basic::FcommerTitle>(u"commerTitle", IS_NLBL),
    MakeProp<&Basic::FpostalAreaDescription>(u"postalAreaDescription", IS_NLBL),
    MakeProp<&Basic::FINiFlagDescr>(u"INiFlagDescr", IS_NLBL),
    MakeProp<&Basic::FpostalZipCode>(u"postalZipCode", IS_NLBL),
};

using FirmAct = RgWsPublicFirmActRtUser;
constexpr TPropInfo kFirmActProps[] = {
    MakeProp<&FirmAct::FfirmActDescr>(u"firmActDescr", IS_NLBL),
    MakeProp<&FirmAct::FfirmActKind>(u"firmActKind", IS_NLBL),
    MakeProp<&FirmAct::FfirmActKindDescr>(u"firmActKindDescr", IS_NLBL),
    MakeProp<&FirmAct::FfirmActCode>(u"firmActCode", IS_NLBL),
};

constexpr TPropInfo kErrorProps[] = {
    MakeProp<&GenWsErrorRtUser::FerrorDescr>(u"errorDescr", IS_NLBL),
    MakeProp<&GenWsErrorRtUser::FerrorCode>(u"errorCode", IS_NLBL),
};

}  // namespace

#define DELVAN_U16_(s) u##s
#define DELVAN_U16(x) DELVAN_U16_(#x)
#define DELVAN_SERVICE_CLASS(Cls, Parent, ...)                        \
  constinit const TClass Cls::StaticClass = DefineClass<Cls, Parent>( \
      Cls::StaticClass, DELVAN_U16(Cls), ServiceUnitName __VA_OPT__(, ) __VA_ARGS__)

DELVAN_SERVICE_CLASS(RgWsPublicInputRtBase, TRemotable);
DELVAN_SERVICE_CLASS(RgWsPublicInputRtUser, RgWsPublicInputRtBase, kInputProps);
DELVAN_SERVICE_CLASS(RgWsPublicBasicRtBase, TRemotable);
DELVAN_SERVICE_CLASS(RgWsPublicBasicRtUser, RgWsPublicBasicRtBase, kBasicProps);
DELVAN_SERVICE_CLASS(RgWsPublicFirmActRtBase, TRemotable);
DELVAN_SERVICE_CLASS(RgWsPublicFirmActRtUser, RgWsPublicFirmActRtBase, kFirmActProps);
DELVAN_SERVICE_CLASS(GenWsErrorRtBase, TRemotable);
DELVAN_SERVICE_CLASS(GenWsErrorRtUser, GenWsErrorRtBase, kErrorProps);

#undef DELVAN_SERVICE_CLASS
#undef DELVAN_U16
#undef DELVAN_U16_

// ---- The activity array ----------------------------------------------------------

namespace {
constinit const rtl::TDynArrayTypeData kFirmActArrayData =
    rtl::MakeDynArrayData<RgWsPublicFirmActRtUserArray>(&RgWsPublicFirmActRtUser::StaticClass.Info);
}  // namespace

constinit const rtl::TTypeInfo TypeInfo_RgWsPublicFirmActRtUserArray{
    rtl::tkDynArray, u"RgWsPublicFirmActRtUserArray", ServiceUnitName, &kFirmActArrayData};

// ---- The port type ---------------------------------------------------------------

namespace {
constexpr rtl::TParamInfo kAfmMethodParams[] = {
    {rtl::pfConst, u"RgWsPublicInputRt_in", &RgWsPublicInputRtUser::StaticClass.Info},
    {rtl::pfVar, u"RgWsPublicBasicRt_out", &RgWsPublicBasicRtUser::StaticClass.Info},
    {rtl::pfVar, u"arrayOfRgWsPublicFirmActRt_out", &TypeInfo_RgWsPublicFirmActRtUserArray},
    {rtl::pfVar, u"pCallSeqId_out", &TXSDecimal::StaticClass.Info},
    {rtl::pfVar, u"pErrorRec_out", &GenWsErrorRtUser::StaticClass.Info},
};
constexpr rtl::TMethodInfo kRgWsPublicMethods[] = {
    {u"rgWsPublicAfmMethod", rtl::ccStdCall, kAfmMethodParams, nullptr},
    {u"rgWsPublicVersionInfo", rtl::ccStdCall, {}, &rtl::TypeInfo_UnicodeString},
};
constinit const rtl::TInterfaceTypeData kRgWsPublicData{&rtl::TypeInfo_IInvokable, RgWsPublic::IID,
                                                        true, kRgWsPublicMethods};
}  // namespace

constinit const rtl::TTypeInfo TypeInfo_RgWsPublic{rtl::tkInterface, u"RgWsPublic", ServiceUnitName,
                                                   &kRgWsPublicData};

}  // namespace delvan::service
