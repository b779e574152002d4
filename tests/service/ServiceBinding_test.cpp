// What the registries hold about the service once the library is loaded.
#include "service/ServiceBinding.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "service/CredentialsHeader.h"
#include "service/RgWsPublic.h"
#include "service/ServiceConstants.h"
#include "soap/InvokeRegistry.h"
#include "soap/TypeRegistry.h"

namespace delvan::service {
namespace {

using namespace soap;

const UnicodeString kNs(ServiceNamespace);
constexpr UnicodeStringView kMethod = u"rgWsPublicAfmMethod";

// Whether the header class was registered once the library was loaded, asked
// before the first test runs: tests run earlier in the same process write requests.
bool gHeaderRegisteredAtLoad = true;
class THeaderAtLoad : public ::testing::EmptyTestEventListener {
  void OnEnvironmentsSetUpEnd(const ::testing::UnitTest&) override {
    if (FAsked) return;
    FAsked = true;
    UnicodeString uri, name;
    gHeaderRegisteredAtLoad = RemClassRegistry().ClassToURI(&AFMCredentialsHeader::StaticClass, uri,
                                                            name, nullptr, false);
  }
  bool FAsked = false;
};
const bool gHeaderAtLoadListened = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new THeaderAtLoad);
  return true;
}();

TEST(ServiceBinding, PortTypeAfterLoad) {
  const TInvokableClassRegistry& inv = InvRegistry();
  const std::optional<InterfaceMapItem> intf = inv.GetInterfaceInfo(&TypeInfo_RgWsPublic);
  ASSERT_TRUE(intf);
  EXPECT_EQ(intf->Namespace, kNs);
  EXPECT_EQ(intf->WSDLEncoding, u"UTF-8");
  EXPECT_EQ(intf->GUID, RgWsPublic::IID);
  EXPECT_EQ(intf->ExtName, u"");
  EXPECT_EQ(intf->Documentation, u"");
  EXPECT_EQ(intf->SOAPAction, kNs + u"/%operationName%");
  EXPECT_EQ(inv.GetIntfInvokeOptions(RgWsPublic::IID),
            (TIntfInvokeOptions{ioLiteral, ioHasDefaultSOAPAction, ioHasNamespace}));
  EXPECT_EQ(inv.GetIntfInvokeOptions(&TypeInfo_RgWsPublic).Bits(), 44u);
  EXPECT_EQ(inv.GetInterfaceTypeInfo(RgWsPublic::IID), &TypeInfo_RgWsPublic);
  EXPECT_EQ(inv.GetNamespaceByGUID(RgWsPublic::IID), kNs);

  // The action sent, and the raw template the transport starts from.
  EXPECT_EQ(inv.GetActionURIOfInfo(&TypeInfo_RgWsPublic, kMethod, 0),
            kNs + u"/rgWsPublicAfmMethod");
  EXPECT_EQ(inv.GetActionURIOfInfo(&TypeInfo_RgWsPublic, u"", -1), kNs + u"/%operationName%");
  EXPECT_EQ(inv.GetActionURIOfIID(RgWsPublic::IID), kNs + u"/%operationName%");
  // The method has no external name: any spelling of it is its own name.
  EXPECT_EQ(inv.GetMethExternalName(&TypeInfo_RgWsPublic, u"RGWSPUBLICAFMMETHOD"),
            u"RGWSPUBLICAFMMETHOD");
  EXPECT_EQ(inv.GetMethExternalName(&TypeInfo_RgWsPublic, kMethod), kMethod);
  EXPECT_EQ(inv.GetReturnParamNames(&TypeInfo_RgWsPublic), u"Result;Return");
  UnicodeString op, key;
  EXPECT_FALSE(inv.GetUDDIInfo(RgWsPublic::IID, op, key));
}

TEST(ServiceBinding, ParametersAfterLoad) {
  struct Case {
    const char16_t* param;
    UnicodeString infoString;  // empty: no registration
    const char16_t* arrayItemName;
  };
  const Case cases[] = {
      {u"RgWsPublicInputRt_in", u"[Namespace=\"" + kNs + u"\"]", nullptr},
      {u"RgWsPublicBasicRt_out", u"[Namespace=\"" + kNs + u"\"]", nullptr},
      {u"arrayOfRgWsPublicFirmActRt_out",
       u"[Namespace=\"" + kNs + u"\", ArrayItemName=\"RgWsPublicFirmActRtUser\"]",
       u"RgWsPublicFirmActRtUser"},
      {u"pCallSeqId_out", u"", nullptr},
      {u"pErrorRec_out", u"[Namespace=\"" + kNs + u"\"]", nullptr},
  };
  const TInvokableClassRegistry& inv = InvRegistry();
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Utf8(c.param));
    const TParamRegInfo info = inv.GetParamInfo(&TypeInfo_RgWsPublic, kMethod, c.param);
    EXPECT_EQ(info.ExtName, c.param);  // every parameter keeps its own name
    EXPECT_EQ(info.InfoString, c.infoString);
    EXPECT_EQ(info.XMLOptions, 0);
    UnicodeString value;
    EXPECT_EQ(GetRegInfo(info.InfoString, iaNamespace, value), !c.infoString.empty());
    if (!c.infoString.empty()) {
      EXPECT_EQ(value, kNs);
    }
    EXPECT_EQ(GetRegInfo(info.InfoString, iaArrayItemName, value), c.arrayItemName != nullptr);
    if (c.arrayItemName) {
      EXPECT_EQ(value, c.arrayItemName);
    }
  }
  // Four registrations, in their order, all on the one method.
  const std::optional<InterfaceMapItem> intf = InvRegistry().GetInterfaceInfo(&TypeInfo_RgWsPublic);
  ASSERT_EQ(intf->Methods.size(), 1u);
  const MethodMapItem& m = intf->Methods[0];
  EXPECT_EQ(m.Name, kMethod);
  EXPECT_EQ(m.ExtName, u"");
  ASSERT_EQ(m.Parameters.size(), 4u);
  EXPECT_EQ(m.Parameters[2].Name, u"arrayOfRgWsPublicFirmActRt_out");
  EXPECT_EQ(m.Parameters[3].Name, u"pErrorRec_out");
}

TEST(ServiceBinding, RecordTypesAfterLoad) {
  // The service's entries in registration order.
  const rtl::TTypeInfo* expected[] = {
      &RgWsPublicFirmActRtBase::StaticClass.Info, &TypeInfo_RgWsPublicFirmActRtUserArray,
      &GenWsErrorRtBase::StaticClass.Info,        &GenWsErrorRtUser::StaticClass.Info,
      &RgWsPublicFirmActRtUser::StaticClass.Info, &RgWsPublicInputRtBase::StaticClass.Info,
      &RgWsPublicInputRtUser::StaticClass.Info,   &RgWsPublicBasicRtBase::StaticClass.Info,
      &RgWsPublicBasicRtUser::StaticClass.Info,
  };
  std::vector<const rtl::TTypeInfo*> found;
  for (const TRemRegEntry& e : RemClassRegistry().Entries())
    if (e.URI == kNs) {
      found.push_back(e.Info);
      EXPECT_EQ(e.Name, e.Info->Name);
      EXPECT_EQ(e.ExtName, u"");
      EXPECT_FALSE(e.IsScalar);
      EXPECT_EQ(e.MultiRefOpt, ocDefault);
      EXPECT_EQ(e.SerializationOpt.Bits(),
                e.Info == &RgWsPublicInputRtUser::StaticClass.Info ? 8u : 0u);
    }
  EXPECT_EQ(found, std::vector<const rtl::TTypeInfo*>(std::begin(expected), std::end(expected)));

  TRemotableTypeRegistry& rem = RemClassRegistry();
  for (const rtl::TTypeInfo* info : expected) {
    SCOPED_TRACE(test::Utf8(info->Name));
    UnicodeString uri, name;
    EXPECT_TRUE(rem.TypeInfoToXSD(info, uri, name));
    EXPECT_EQ(uri, kNs);
    EXPECT_EQ(name, info->Name);
    EXPECT_EQ(rem.XSDToTypeInfo(kNs, info->Name), info);
  }
  EXPECT_EQ(rem.URIToClass(kNs, u"RgWsPublicFirmActRtUserArray"), nullptr);

  // The header class is registered only when first written.
  EXPECT_TRUE(gHeaderAtLoadListened);
  EXPECT_FALSE(gHeaderRegisteredAtLoad);
  EXPECT_NE(crheader, nullptr);
}

}  // namespace
}  // namespace delvan::service
