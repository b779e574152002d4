// The HTTP remote-interface object: its URL and service-description
// settings, and the rules for replacing, owning and forgetting its web node
// and converter.
#include "soap/SOAPHTTPClient.h"

#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "RegistryMock.h"
#include "RioFakes.h"
#include "TestSupport.h"
#include "platform/HttpClientTestSeam.h"
#include "service/ProxyFactory.h"
#include "service/RgWsPublic.h"
#include "service/ServiceConstants.h"

namespace delvan::soap {
namespace {

using service::RgWsPublic;
using test::AfmCall;
using test::TFakeConverter;
using test::TGoneSpy;
using transport::ESOAPHTTPException;
using transport::THTTPReqResp;

UnicodeString CallFailure(THTTPRIO* rio) {
  IntfPtr<RgWsPublic> port = QueryIntf<RgWsPublic>(rio);
  AfmCall call;
  try {
    call.Run(*port);
  } catch (const Exception& e) {
    return e.Message();
  }
  return u"(no failure)";
}

TEST(THTTPRIO, URLAndServiceDescriptionReplaceEachOther) {
  TComponent owner;
  auto* rio = new THTTPRIO(&owner);
  rio->SetConverter(new TFakeConverter(rio));
  THTTPReqResp* web = rio->HTTPWebNode();

  EXPECT_EQ(CallFailure(rio),
            u"No WSDL or URL property was set in the THTTPRIO component. You must set the WSDL or "
            u"URL property before invoking the Web Service");

  rio->SetURL(u"https://svc.test:8443/port");
  EXPECT_EQ(rio->URL(), u"https://svc.test:8443/port");
  EXPECT_EQ(web->URL(), rio->URL());
  EXPECT_TRUE(web->UserSetURL());

  // Binding by description empties the URL; the call then asks the
  // description, which yields no endpoint.
  rio->SetWSDLLocation(u"https://svc.test/port?WSDL");
  rio->SetService(u"Svc");
  rio->SetPort(u"SvcPort");
  EXPECT_EQ(rio->URL(), u"");
  ASSERT_NE(web->WSDLView(), nullptr);
  EXPECT_EQ(web->WSDLView()->WSDLFileName, u"https://svc.test/port?WSDL");
  EXPECT_EQ(CallFailure(rio),
            u"Unable to retrieve the URL endpoint for Service/Port 'Svc'/'SvcPort' from WSDL "
            u"'https://svc.test/port?WSDL'");

  // An invalid URL is refused and leaves the description binding in place.
  EXPECT_THROW(rio->SetURL(u"ftp://svc.test/"), ESOAPHTTPException);
  EXPECT_EQ(rio->WSDLLocation(), u"https://svc.test/port?WSDL");
  EXPECT_NE(web->WSDLView(), nullptr);

  // A URL detaches the description.
  rio->SetURL(u"http://svc.test/port");
  EXPECT_EQ(rio->WSDLLocation(), u"");
  EXPECT_EQ(web->WSDLView(), nullptr);
  EXPECT_EQ(rio->Service(), u"Svc");  // kept, but no longer consulted
}

TEST(THTTPRIO, ReplacingTheWebNodeKeepsOwnershipApart) {
  TComponent owner;
  TGoneSpy spy;
  auto* rio = new THTTPRIO(&owner);
  THTTPReqResp* def = rio->DefaultWebNode();
  def->SetUDDIOperator(u"http://uddi.test/");
  rio->SetURL(u"https://svc.test/port");
  spy.Watch(def);

  // The caller's node takes over the URL and directory settings it lacks.
  auto* mine = new THTTPReqResp(&owner);
  spy.Watch(mine);
  rio->SetHTTPWebNode(mine);
  EXPECT_EQ(rio->HTTPWebNode(), mine);
  EXPECT_EQ(mine->URL(), u"https://svc.test/port");
  EXPECT_EQ(mine->UDDIOperator(), u"http://uddi.test/");
  EXPECT_FALSE(spy.Saw(def));  // the default stays, owned

  // A node with a URL of its own keeps it.
  auto* other = new THTTPReqResp(&owner);
  other->SetURL(u"https://other.test/");
  rio->SetHTTPWebNode(other);
  EXPECT_EQ(rio->URL(), u"https://other.test/");
  EXPECT_FALSE(spy.Saw(mine));  // the caller's node is not destroyed

  // No node falls back to the default one.
  rio->SetHTTPWebNode(nullptr);
  EXPECT_EQ(rio->HTTPWebNode(), def);

  // A replaced node that the object owns, other than its default, is destroyed.
  auto* owned = new THTTPReqResp(rio);
  spy.Watch(owned);
  rio->SetHTTPWebNode(owned);
  rio->SetHTTPWebNode(nullptr);
  EXPECT_TRUE(spy.Saw(owned));
  EXPECT_FALSE(spy.Saw(def));

  // The caller's node destroyed elsewhere is forgotten.
  rio->SetHTTPWebNode(mine);
  delete mine;
  EXPECT_EQ(rio->HTTPWebNode(), nullptr);
  EXPECT_EQ(rio->WebNode(), nullptr);
  rio->SetConverter(new TFakeConverter(rio));
  EXPECT_EQ(CallFailure(rio), u"No Message processing node set");
}

TEST(THTTPRIO, ANodeWithoutOwnerLivesAsLongAsTheObjectUsesIt) {
  TGoneSpy spy;
  auto* rio = new THTTPRIO();
  auto* loose = new THTTPReqResp();
  spy.Watch(loose);
  rio->SetHTTPWebNode(loose);
  IntfPtr<RgWsPublic> port = QueryIntf<RgWsPublic>(rio);
  EXPECT_FALSE(spy.Saw(loose));
  port.reset();  // the object goes, and with it the last reference to the node
  EXPECT_TRUE(spy.Saw(loose));
}

TEST(THTTPRIO, ReplacingTheConverterKeepsOwnershipApart) {
  TComponent owner;
  TGoneSpy spy;
  auto* rio = new THTTPRIO(&owner);
  TOPToSoapDomConvert* def = rio->DefaultConverter();
  spy.Watch(def);
  auto* mine = new TFakeConverter(&owner);
  spy.Watch(mine);
  rio->SetConverter(mine);
  EXPECT_EQ(rio->Converter(), mine);
  EXPECT_EQ(static_cast<TRIO*>(rio)->Converter(), static_cast<IOPConvert*>(mine));

  // Options of a bind go to the converter in use.
  IntfPtr<RgWsPublic> port = QueryIntf<RgWsPublic>(rio);
  EXPECT_TRUE(mine->GetOptions().Contains(soLiteralParams));

  rio->SetConverter(nullptr);
  EXPECT_EQ(rio->Converter(), def);
  EXPECT_FALSE(spy.Saw(mine));

  auto* owned = new TFakeConverter(rio);
  spy.Watch(owned);
  rio->SetConverter(owned);
  rio->SetConverter(mine);
  EXPECT_TRUE(spy.Saw(owned));

  delete mine;
  EXPECT_EQ(rio->Converter(), nullptr);
  EXPECT_EQ(CallFailure(rio), u"No Native to Message converter set");
  EXPECT_FALSE(spy.Saw(def));
}

// The driver over the real web node, at the fixed endpoint routed to the
// mock: the request the converter wrote goes out whole with the operation's
// action, the answer reaches the reader, and a status error reaches the
// caller with the outgoing headers emptied.
TEST(THTTPRIO, DrivesTheRealWebNodeToTheService) {
  platform::testing::ScopedHttpClientTestSeam seam;
  registrymock::RegistryMock mock;
  platform::testing::TrustAuthorityFile(mock.AuthorityFile());
  platform::testing::RouteToLoopback(registrymock::RegistryMock::ServiceHost(), 443, mock.Port());

  TComponent owner;
  auto* rio = new THTTPRIO(&owner);
  auto* conv = new TFakeConverter(rio);
  conv->request = test::Envelope("094019245");
  rio->SetConverter(conv);
  IntfPtr<RgWsPublic> port = service::GetRgWsPublic(false, u"", rio);
  AfmCall call;
  call.Run(*port);
  ASSERT_EQ(conv->responses.size(), 1u);
  EXPECT_NE(conv->responses[0].find("<srvc:afm>094019245</srvc:afm>"), std::string::npos);
  const auto sent = mock.Requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].target, "/webtax2/wsgsis/RgWsPublic/RgWsPublicPort");
  EXPECT_EQ(sent[0].Header("SOAPAction"),
            "\"" + test::Utf8(service::ServiceNamespace) + "/rgWsPublicAfmMethod\"");
  EXPECT_EQ(sent[0].body, conv->request);

  mock.SetBehaviour(registrymock::Behaviour::NotFound);
  port = service::GetRgWsPublic(false, u"", rio);
  EXPECT_EQ(rio->HeadersOutBound().Count(), 1u);
  try {
    call.Run(*port);
    ADD_FAILURE() << "no exception";
  } catch (const ESOAPHTTPException& e) {
    UnicodeString expected = u"Not Found (404) - '";
    expected += service::defURL;
    expected += u"'";
    EXPECT_EQ(e.Message(), expected);
    EXPECT_EQ(e.StatusCode(), 404);
  }
  EXPECT_EQ(rio->HeadersOutBound().Count(), 0u);
  EXPECT_EQ(conv->responses.size(), 1u);
}

}  // namespace
}  // namespace delvan::soap
