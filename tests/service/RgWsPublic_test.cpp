#include "service/RgWsPublic.h"

#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "service/ServiceConstants.h"

namespace delvan::service {
namespace {

// Value holders that count their own destruction.
int gFreed = 0;
struct CountedDate : TXSDateTime {
  ~CountedDate() override { ++gFreed; }
};
struct CountedDecimal : TXSDecimal {
  ~CountedDecimal() override { ++gFreed; }
};

TEST(Records, ConstructorsSetOptionsAndNothingElse) {
  RgWsPublicInputRtUser input;
  EXPECT_EQ(input.SerializationOptions(), soap::TSerializationOptions{soap::xoLiteralParam});
  EXPECT_EQ(input.SerializationOptions().Bits(), 8u);
  RgWsPublicBasicRtUser basic;
  EXPECT_TRUE(basic.SerializationOptions().IsEmpty());
  EXPECT_EQ(basic.FstopDate, nullptr);
  EXPECT_EQ(basic.FregistDate, nullptr);
  EXPECT_EQ(basic.DataContext(), nullptr);

  // The virtual constructor gives the same instances as the class's own.
  std::unique_ptr<TObject> made(RgWsPublicInputRtUser::StaticClass.NewInstance());
  auto* madeInput = rtl::ObjectAs<RgWsPublicInputRtUser>(made.get());
  ASSERT_NE(madeInput, nullptr);
  EXPECT_EQ(madeInput->SerializationOptions().Bits(), 8u);
  EXPECT_EQ(RgWsPublicInputRtBase::StaticClass.Parent, &soap::TRemotable::StaticClass);
}

TEST(Records, DestructorsFreeWhatTheRecordsOwn) {
  gFreed = 0;
  {
    RgWsPublicBasicRtUser basic;
    basic.FstopDate = new CountedDate();
    basic.FregistDate = new CountedDate();
  }
  EXPECT_EQ(gFreed, 2);
  { RgWsPublicBasicRtUser empty; }
  EXPECT_EQ(gFreed, 2);
  {
    RgWsPublicFirmActRtUser act;
    act.FfirmActCode = new CountedDecimal();
  }
  EXPECT_EQ(gFreed, 3);
  // The array does not own its entries; FreeActivities frees them.
  RgWsPublicFirmActRtUserArray list{new RgWsPublicFirmActRtUser(), nullptr,
                                    new RgWsPublicFirmActRtUser()};
  list[2]->FfirmActCode = new CountedDecimal();
  FreeActivities(list);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(gFreed, 4);
}

std::vector<std::u16string_view> Names(const TClass& cls) {
  std::vector<std::u16string_view> names;
  for (const rtl::TPropInfo* p : rtl::GetPropList(&cls)) {
    EXPECT_EQ(p->Flags(), rtl::IS_NLBL) << test::Utf8(p->Name);
    EXPECT_TRUE(p->Stored(nullptr));
    names.push_back(p->Name);
  }
  return names;
}

// The published properties are the wire names and the result text's items,
// in declaration order.
TEST(Records, PublishedPropertiesInDeclarationOrder) {
  using V = std::vector<std::u16string_view>;
  EXPECT_EQ(Names(RgWsPublicInputRtUser::StaticClass), (V{u"afmCalledBy", u"afmCalledFor"}));
  EXPECT_EQ(Names(RgWsPublicBasicRtUser::StaticClass),
            (V{u"afm", u"stopDate", u"postalAddressNo", u"doyDescr", u"doy", u"onomasia",
               u"legalStatusDescr", u"registDate", u"deactivationFlag", u"deactivationFlagDescr",
               u"postalAddress", u"firmFlagDescr", u"commerTitle", u"postalAreaDescription",
               u"INiFlagDescr", u"postalZipCode"}));
  EXPECT_EQ(Names(RgWsPublicFirmActRtUser::StaticClass),
            (V{u"firmActDescr", u"firmActKind", u"firmActKindDescr", u"firmActCode"}));
  EXPECT_EQ(Names(GenWsErrorRtUser::StaticClass), (V{u"errorDescr", u"errorCode"}));

  const rtl::TPropInfo* code =
      rtl::GetPropInfo(&RgWsPublicFirmActRtUser::StaticClass, u"firmActCode");
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(code->PropType->Class(), &TXSDecimal::StaticClass);
  RgWsPublicFirmActRtUser act;
  auto* dec = new TXSDecimal();
  code->SetObj(&act, dec);
  EXPECT_EQ(act.FfirmActCode, dec);
  EXPECT_EQ(code->GetObj(&act), dec);
}

TEST(PortType, DescribesItsOperations) {
  const rtl::TInterfaceTypeData* intf = TypeInfo_RgWsPublic.Interface();
  ASSERT_NE(intf, nullptr);
  EXPECT_EQ(intf->Guid.ToString(), u"{4F1FFC00-5636-214A-AB20-EACD347B9375}");
  EXPECT_EQ(intf->Parent, &rtl::TypeInfo_IInvokable);
  ASSERT_EQ(intf->Methods.size(), 2u);
  const rtl::TMethodInfo& afm = intf->Methods[0];
  EXPECT_EQ(afm.Name, u"rgWsPublicAfmMethod");
  EXPECT_EQ(afm.ResultInfo, nullptr);
  const struct {
    std::uint8_t flags;
    std::u16string_view name;
    const rtl::TTypeInfo* type;
  } params[] = {
      {rtl::pfConst, u"RgWsPublicInputRt_in", &RgWsPublicInputRtUser::StaticClass.Info},
      {rtl::pfVar, u"RgWsPublicBasicRt_out", &RgWsPublicBasicRtUser::StaticClass.Info},
      {rtl::pfVar, u"arrayOfRgWsPublicFirmActRt_out", &TypeInfo_RgWsPublicFirmActRtUserArray},
      {rtl::pfVar, u"pCallSeqId_out", &TXSDecimal::StaticClass.Info},
      {rtl::pfVar, u"pErrorRec_out", &GenWsErrorRtUser::StaticClass.Info},
  };
  ASSERT_EQ(afm.Params.size(), std::size(params));
  for (std::size_t i = 0; i < afm.Params.size(); ++i) {
    EXPECT_EQ(afm.Params[i].Flags, params[i].flags);
    EXPECT_EQ(afm.Params[i].Name, params[i].name);
    EXPECT_EQ(afm.Params[i].Info, params[i].type);
  }
  EXPECT_EQ(intf->Methods[1].Name, u"rgWsPublicVersionInfo");
  EXPECT_EQ(intf->Methods[1].ResultInfo, &rtl::TypeInfo_UnicodeString);

  // The array type walks and sizes a list through its descriptor.
  const rtl::TDynArrayTypeData* arr = TypeInfo_RgWsPublicFirmActRtUserArray.DynArray();
  RgWsPublicFirmActRtUserArray list;
  arr->SetLength(&list, 3);
  EXPECT_EQ(arr->Length(&list), 3u);
  EXPECT_EQ(arr->Element(&list, 2), &list[2]);
  EXPECT_EQ(arr->ElType, &RgWsPublicFirmActRtUser::StaticClass.Info);
}

TEST(ServiceConstants, EndpointAndDescriptionUseTheBuildsHost) {
  const UnicodeString host(ServiceHost);
  EXPECT_EQ(defURL, u"https://" + host + u":443/webtax2/wsgsis/RgWsPublic/RgWsPublicPort");
  EXPECT_EQ(defWSDL, u"https://" + host + u"/webtax2/wsgsis/RgWsPublic/RgWsPublicPort?WSDL");
  EXPECT_FALSE(ServiceNamespace.empty());
}

}  // namespace
}  // namespace delvan::service

namespace delvan::service {
namespace {

// The expected answer names its elements after the contract: one child per
// in/out parameter, and the records' children after their properties.
TEST(ServiceContract, ExpectedAnswerFollowsTheContract) {
  std::string xml = test::ReadFixture("service/typical_response.xml");
  auto has = [&](std::u16string_view name) {
    std::string n = test::Utf8(name);
    return xml.find("<" + n + ">") != std::string::npos ||
           xml.find(":" + n + ">") != std::string::npos;
  };
  for (const rtl::TParamInfo& p : TypeInfo_RgWsPublic.Interface()->Methods[0].Params) {
    if (p.Flags & rtl::pfVar) {
      EXPECT_TRUE(has(p.Name)) << test::Utf8(p.Name);
    }
  }
  for (const TClass* cls :
       {&RgWsPublicBasicRtUser::StaticClass, &RgWsPublicFirmActRtUser::StaticClass,
        &GenWsErrorRtUser::StaticClass}) {
    for (const rtl::TPropInfo* p : rtl::GetPropList(cls)) {
      EXPECT_TRUE(has(p->Name) || p->Name == u"stopDate") << test::Utf8(p->Name);
    }
  }
  EXPECT_NE(xml.find("xmlns:srvc=\"@SERVICE_NAMESPACE@\""), std::string::npos);
}

}  // namespace
}  // namespace delvan::service
