#include "soap/IntfInfo.h"

#include <gtest/gtest.h>

#include "service/RgWsPublic.h"

namespace delvan::soap {
namespace {

TEST(IntfInfo, PortTypeWithItsAncestorsMethodsFirst) {
  TIntfMetaData md = GetIntfMetaData(&service::TypeInfo_RgWsPublic);
  EXPECT_EQ(md.Name, u"RgWsPublic");
  EXPECT_EQ(md.UnitName, u"UTaxAfmWSHelperOrv");
  EXPECT_EQ(md.IID, service::RgWsPublic::IID);
  EXPECT_EQ(md.AncInfo, &rtl::TypeInfo_IInvokable);
  EXPECT_EQ(md.NumAnc, 3);
  const char16_t* names[] = {u"QueryInterface", u"_AddRef", u"_Release", u"rgWsPublicAfmMethod",
                             u"rgWsPublicVersionInfo"};
  ASSERT_EQ(md.MDA.size(), std::size(names));
  for (std::size_t i = 0; i < md.MDA.size(); ++i) {
    EXPECT_EQ(md.MDA[i].Name, names[i]);
    EXPECT_EQ(md.MDA[i].Pos, static_cast<int>(i));
  }
  const TIntfMethEntry& afm = md.MDA[3];
  EXPECT_EQ(afm.ParamCount, 5);
  EXPECT_EQ(afm.ResultInfo, nullptr);
  EXPECT_EQ(afm.SelfInfo, &service::TypeInfo_RgWsPublic);
  EXPECT_EQ(afm.Params[3].Name, u"pCallSeqId_out");
  EXPECT_EQ(afm.Params[3].Flags, rtl::pfVar);
  EXPECT_EQ(GetIntfMetaData(&service::TypeInfo_RgWsPublic, false).MDA.size(), 2u);
}

constexpr rtl::TParamInfo kUntyped[] = {{rtl::pfConst, u"x", nullptr}};
constexpr rtl::TMethodInfo kUntypedMethods[] = {{u"M", rtl::ccStdCall, kUntyped, nullptr}};
constinit const rtl::TInterfaceTypeData kNoMethods{&rtl::TypeInfo_IInvokable, {}, false, {}};
constinit const rtl::TTypeInfo kNoRTTI{rtl::tkInterface, u"INoRTTI", u"Test", &kNoMethods};
constinit const rtl::TInterfaceTypeData kUntypedData{
    &rtl::TypeInfo_IInvokable, {}, true, kUntypedMethods};
constinit const rtl::TTypeInfo kUntypedIntf{rtl::tkInterface, u"IUntyped", u"Test", &kUntypedData};

TEST(IntfInfo, InterfacesWithoutDescriptions) {
  const struct {
    const rtl::TTypeInfo* info;
    const char16_t* message;
  } cases[] = {
      {&kNoRTTI, u"Interface Test.INoRTTI has no RTTI"},
      {&kUntypedIntf, u"Parameter x on Method M of Interface Test.IUntyped has no RTTI"},
      {&rtl::TypeInfo_Integer, u"Interface System.Integer has no RTTI"},
  };
  for (const auto& c : cases) {
    try {
      GetIntfMetaData(c.info);
      ADD_FAILURE() << "no exception";
    } catch (const EInterfaceRTTIException& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

}  // namespace
}  // namespace delvan::soap
