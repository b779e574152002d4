// The proxy factory: what a bound object looks like, the credentials header
// attached once and sent once, and binding by description.
#include "service/ProxyFactory.h"

#include <gtest/gtest.h>

#include "../soap/RioFakes.h"
#include "service/CredentialsHeader.h"
#include "service/ServiceConstants.h"
#include "soap/SOAPHTTPClient.h"

namespace delvan::service {
namespace {

using soap::THTTPRIO;
using test::AfmCall;
using test::TFakeConverter;
using test::TFakeWebNode;
using test::TGoneSpy;

THTTPRIO* RioOf(const IntfPtr<RgWsPublic>& port) {
  return ObjectAs<THTTPRIO>(QueryIntf<soap::IRIOAccess>(port)->GetRIO());
}

std::vector<soap::TSOAPHeader*> Outgoing(THTTPRIO* rio) {
  std::vector<soap::TSOAPHeader*> out;
  for (std::size_t i = 0; i < rio->HeadersOutBound().Count(); ++i)
    out.push_back(rio->HeadersOutBound().GetHeader(i));
  return out;
}

TEST(GetRgWsPublic, BindsANewObjectToTheDefaultEndpointWithTheCredentialsHeader) {
  ASSERT_NE(crheader, nullptr);
  TGoneSpy spy;
  IntfPtr<RgWsPublic> port = GetRgWsPublic(false, u"", nullptr);
  ASSERT_TRUE(port);
  THTTPRIO* rio = RioOf(port);
  ASSERT_NE(rio, nullptr);
  EXPECT_EQ(rio->Owner(), nullptr);
  EXPECT_EQ(rio->URL(), defURL);
  EXPECT_EQ(rio->WSDLLocation(), u"");
  EXPECT_EQ(rio->HTTPWebNode()->WSDLView(), nullptr);  // no description is consulted
  EXPECT_EQ(Outgoing(rio), std::vector<soap::TSOAPHeader*>{crheader});
  // The header was attached through the bound reference: rpc/literal stays.
  EXPECT_TRUE(rio->Converter()->GetOptions().Contains(soap::soLiteralParams));

  // Releasing the reference destroys the object, not the header.
  spy.Watch(rio);
  port.reset();
  EXPECT_TRUE(spy.Saw(rio));
  ASSERT_NE(crheader, nullptr);
  crheader->FUsername = AnsiString("still here", platform::CP_UTF8);
  EXPECT_EQ(crheader->usr().Bytes(), "still here");
}

TEST(GetRgWsPublic, ConfiguresAGivenObjectWithoutTakingIt) {
  TComponent owner;
  auto* rio = new THTTPRIO(&owner);
  {
    IntfPtr<RgWsPublic> first = GetRgWsPublic(false, u"https://other.test:8443/svc", rio);
    IntfPtr<RgWsPublic> second = GetRgWsPublic(false, u"https://other.test:8443/svc", rio);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(rio->URL(), u"https://other.test:8443/svc");                // no default applied
    EXPECT_EQ(Outgoing(rio), std::vector<soap::TSOAPHeader*>{crheader});  // held once
  }
  EXPECT_EQ(rio->Owner(), &owner);  // still the caller's

  // By description: the three settings, and no URL.
  IntfPtr<RgWsPublic> port = GetRgWsPublic(true, u"", rio);
  EXPECT_EQ(rio->WSDLLocation(), defWSDL);
  EXPECT_EQ(rio->Service(), u"RgWsPublic");
  EXPECT_EQ(rio->Port(), u"RgWsPublicPort");
  EXPECT_EQ(rio->URL(), u"");
  GetRgWsPublic(true, u"file:///tmp/RgWsPublic.wsdl", rio);
  EXPECT_EQ(rio->WSDLLocation(), u"file:///tmp/RgWsPublic.wsdl");
}

TEST(GetRgWsPublic, TheHeaderTravelsWithTheFirstCallOnly) {
  TComponent owner;
  auto* rio = new THTTPRIO(&owner);
  auto* conv = new TFakeConverter(rio);
  rio->SetConverter(conv);
  rio->SetHTTPWebNode(new TFakeWebNode(rio));
  IntfPtr<RgWsPublic> port = GetRgWsPublic(false, u"", rio);
  AfmCall call;
  call.Run(*port);
  call.Run(*port);
  ASSERT_EQ(conv->written.size(), 2u);
  EXPECT_EQ(conv->written[0].headers, std::vector<soap::TSOAPHeader*>{crheader});
  EXPECT_TRUE(conv->written[1].headers.empty());
  EXPECT_TRUE(conv->written[0].options.Contains(soap::soLiteralParams));
}

TEST(GetRgWsPublic, BindingFailuresAndDescriptionCallsAreReported) {
  test::RegisterTestInterfaces();
  TComponent owner;
  {
    // An object bound to another interface cannot serve RgWsPublic.
    auto* rio = new THTTPRIO(&owner);
    ASSERT_TRUE(QueryIntf<test::ITestPing>(rio));
    try {
      GetRgWsPublic(false, u"", rio);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), u"Interface not supported");
    }
    EXPECT_EQ(rio->Owner(), &owner);  // not freed: it is the caller's
  }
  {
    // Bound by description, the call fails as the transport says for a
    // missing URL: the description yields no endpoint.
    auto* rio = new THTTPRIO(&owner);
    rio->SetConverter(new TFakeConverter(rio));
    IntfPtr<RgWsPublic> port = GetRgWsPublic(true, u"", rio);
    AfmCall call;
    try {
      call.Run(*port);
      ADD_FAILURE() << "no exception";
    } catch (const transport::ESOAPHTTPException& e) {
      UnicodeString expected =
          u"Unable to retrieve the URL endpoint for Service/Port 'RgWsPublic'/'RgWsPublicPort' "
          u"from WSDL '";
      expected += defWSDL;
      expected += u"'";
      EXPECT_EQ(e.Message(), expected);
    }
    EXPECT_EQ(rio->HeadersOutBound().Count(), 0u);
  }
}

}  // namespace
}  // namespace delvan::service
