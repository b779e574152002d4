// Interface metadata: ancestors first, slot positions, parameters, and the
// messages for interfaces and parameters without type information.
#include "soap/IntfInfo.h"

#include <gtest/gtest.h>

#include "service/RgWsPublic.h"

namespace delvan::soap {
namespace {

using namespace rtl;

constexpr TParamInfo kBadParams[] = {{pfConst, u"ok", &TypeInfo_Integer},
                                     {pfVar, u"blind", nullptr}};
constexpr TMethodInfo kBadMethods[] = {{u"Call", ccStdCall, kBadParams, nullptr}};
constinit const TInterfaceTypeData kBadParamData{
    &TypeInfo_IInvokable, TGUID::Parse("{0E0E0E0E-1111-2222-3333-444455556666}"), true,
    kBadMethods};
constinit const TTypeInfo TypeInfo_IBadParam{tkInterface, u"IBadParam", u"Tests.Intf",
                                             &kBadParamData};

constinit const TInterfaceTypeData kBlindData{
    &TypeInfo_IInvokable, TGUID::Parse("{0E0E0E0E-1111-2222-3333-444455556667}"), false, {}};
constinit const TTypeInfo TypeInfo_IBlind{tkInterface, u"IBlind", u"Tests.Intf", &kBlindData};

constexpr TMethodInfo kChildMethods[] = {{u"Extra", ccStdCall, {}, &TypeInfo_Integer}};
constinit const TInterfaceTypeData kChildOfBlindData{
    &TypeInfo_IBlind, TGUID::Parse("{0E0E0E0E-1111-2222-3333-444455556668}"), true, kChildMethods};
constinit const TTypeInfo TypeInfo_IChildOfBlind{tkInterface, u"IChildOfBlind", u"Tests.Intf",
                                                 &kChildOfBlindData};

TEST(IntfInfo, PortTypeWithAncestors) {
  TIntfMetaData md;
  GetIntfMetaData(&service::TypeInfo_RgWsPublic, md);
  EXPECT_EQ(md.Name, u"RgWsPublic");
  EXPECT_EQ(md.UnitName, u"UTaxAfmWSHelperOrv");
  EXPECT_EQ(md.IID, service::RgWsPublic::IID);
  EXPECT_EQ(md.Info, &service::TypeInfo_RgWsPublic);
  EXPECT_EQ(md.AncInfo, &TypeInfo_IInvokable);
  EXPECT_EQ(md.NumAnc, 3);
  const char16_t* names[] = {u"QueryInterface", u"_AddRef", u"_Release", u"rgWsPublicAfmMethod",
                             u"rgWsPublicVersionInfo"};
  ASSERT_EQ(md.MDA.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(md.MDA[i].Name, names[i]);
    EXPECT_EQ(md.MDA[i].Pos, i);
    EXPECT_TRUE(md.MDA[i].HasRTTI);
  }
  const TIntfMethEntry& afm = md.MDA[3];
  EXPECT_EQ(afm.SelfInfo, &service::TypeInfo_RgWsPublic);
  EXPECT_EQ(md.MDA[0].SelfInfo, &TypeInfo_IInterface);
  EXPECT_EQ(afm.ResultInfo, nullptr);
  ASSERT_EQ(afm.ParamCount, 5);
  EXPECT_EQ(afm.Params[0].Name, u"RgWsPublicInputRt_in");
  EXPECT_EQ(afm.Params[0].Flags, pfConst);
  EXPECT_EQ(afm.Params[2].Info, &service::TypeInfo_RgWsPublicFirmActRtUserArray);
  EXPECT_EQ(afm.Params[4].Flags, pfVar);
  EXPECT_EQ(md.MDA[4].ResultInfo, &TypeInfo_UnicodeString);

  TIntfMetaData own;
  GetIntfMetaData(&service::TypeInfo_RgWsPublic, own, false);
  ASSERT_EQ(own.MDA.size(), 2u);
  EXPECT_EQ(own.MDA[0].Name, u"rgWsPublicAfmMethod");
  EXPECT_EQ(own.MDA[0].Pos, 3);
  EXPECT_EQ(own.NumAnc, 3);
}

TEST(IntfInfo, MissingTypeInformation) {
  struct Case {
    const TTypeInfo* info;
    const char16_t* message;
  } cases[] = {
      {&TypeInfo_IBlind, u"Interface Tests.Intf.IBlind has no RTTI"},
      {&TypeInfo_IChildOfBlind, u"Interface Tests.Intf.IBlind has no RTTI"},
      {&TypeInfo_Integer, u"Interface System.Integer has no RTTI"},
      {nullptr, u"Interface ? has no RTTI"},
      {&TypeInfo_IBadParam, u"Parameter blind on Method Call of Interface IBadParam has no RTTI"},
  };
  for (const Case& c : cases) {
    TIntfMetaData md;
    md.Name = u"untouched";
    try {
      GetIntfMetaData(c.info, md);
      ADD_FAILURE() << "no exception";
    } catch (const EInterfaceRTTIException& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(md.Name, u"untouched");  // nothing half-filled
  }
}

}  // namespace
}  // namespace delvan::soap
