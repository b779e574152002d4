// The call driver: lifetime, binding by query, the options a query applies,
// and one exchange through a recording converter and web node.
#include "soap/Rio.h"

#include <gtest/gtest.h>

#include "RioFakes.h"
#include "TestSupport.h"
#include "service/RgWsPublic.h"
#include "service/ServiceConstants.h"
#include "soap/RemotableException.h"

namespace delvan::soap {
namespace {

using service::RgWsPublic;
using test::AfmCall;
using test::ObjectSlot;
using test::TFakeConverter;
using test::TFakeWebNode;
using test::TGoneSpy;

IntfPtr<RgWsPublic> Bind(TRIO* rio) { return QueryIntf<RgWsPublic>(rio); }

// A remote-interface object with a recording converter and web node, under
// an owner of the test.
struct Rig {
  TComponent owner;
  THTTPRIO* rio = new THTTPRIO(&owner);
  TFakeConverter* conv = new TFakeConverter(rio);
  TFakeWebNode* web = new TFakeWebNode(rio);
  IntfPtr<RgWsPublic> port;

  Rig() {
    rio->SetConverter(conv);
    rio->SetHTTPWebNode(web);
    port = Bind(rio);
  }
  IntfPtr<ISOAPHeaders> Headers() { return QueryIntf<ISOAPHeaders>(port); }
};

TEST(TRIO, WithoutOwnerLivesByItsReferencesAndTakesItsPartsAlong) {
  TGoneSpy spy;
  auto* rio = new THTTPRIO();
  EXPECT_EQ(rio->RefCount(), 0);
  TComponent* conv = rio->Converter();
  TComponent* web = rio->HTTPWebNode();
  ASSERT_NE(conv, nullptr);
  ASSERT_NE(web, nullptr);
  EXPECT_EQ(conv->Name(), u"Converter1");
  EXPECT_EQ(web->Name(), u"HTTPWebNode1");
  EXPECT_TRUE(conv->IsSubComponent() && web->IsSubComponent());
  EXPECT_EQ(conv->Owner(), rio);
  EXPECT_EQ(web->Owner(), rio);
  spy.Watch(rio);
  spy.Watch(conv);
  spy.Watch(web);

  IntfPtr<RgWsPublic> port = Bind(rio);
  ASSERT_TRUE(port);
  IntfPtr<ISOAPHeaders> headers = QueryIntf<ISOAPHeaders>(port);
  EXPECT_EQ(rio->RefCount(), 2);  // the object and its interfaces share one count
  headers.reset();
  EXPECT_TRUE(spy.gone.empty());
  port.reset();
  EXPECT_TRUE(spy.Saw(rio) && spy.Saw(conv) && spy.Saw(web));
}

TEST(TRIO, FreeingWithLiveReferencesRaisesInvalidPointer) {
  TComponent owner;
  TGoneSpy spy;
  auto* rio = new THTTPRIO(&owner);
  spy.Watch(rio);
  IntfPtr<RgWsPublic> port = Bind(rio);
  try {
    rio->Free();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Invalid Pointer");
  }
  // Nothing of it was torn down.
  EXPECT_TRUE(spy.gone.empty());
  EXPECT_EQ(QueryIntf<IRIOAccess>(port)->GetRIO(), rio);
  EXPECT_NE(rio->HTTPWebNode(), nullptr);
  // An owned object outlives its last reference and then frees cleanly.
  port.reset();
  EXPECT_TRUE(spy.gone.empty());
  rio->Free();
  EXPECT_TRUE(spy.Saw(rio));
}

TEST(TRIO, BindsExactlyOneRegisteredInterface) {
  test::RegisterTestInterfaces();
  TComponent owner;
  auto* rio = new THTTPRIO(&owner);
  void* obj = nullptr;
  constexpr TGUID kUnknown = TGUID::Parse("{01234567-89AB-CDEF-0123-456789ABCDEF}");
  EXPECT_EQ(rio->QueryInterface(kUnknown, &obj), E_NOINTERFACE);
  EXPECT_EQ(obj, nullptr);
  // A registered interface without method descriptions cannot be bound.
  EXPECT_EQ(rio->QueryInterface(test::kBareIID, &obj), E_NOINTERFACE);
  EXPECT_FALSE(rio->Bound());

  IntfPtr<RgWsPublic> port = Bind(rio);
  ASSERT_TRUE(port);
  ASSERT_TRUE(rio->Bound());
  const TIntfMetaData& md = rio->IntfMD();
  ASSERT_EQ(md.MDA.size(), 5u);  // the inherited methods come first
  EXPECT_EQ(md.MDA[0].Name, u"QueryInterface");
  EXPECT_EQ(md.MDA[3].Name, u"rgWsPublicAfmMethod");
  EXPECT_EQ(md.MDA[3].Pos, 3);
  EXPECT_EQ(md.IID, RgWsPublic::IID);

  // A second registered interface is refused, on the object and through the
  // bound reference alike.
  EXPECT_FALSE(QueryIntf<test::ITestPing>(rio));
  EXPECT_FALSE(QueryIntf<test::ITestPing>(port));
  // The bound reference answers for itself and the object's own interfaces.
  EXPECT_EQ(Bind(rio).get(), port.get());
  EXPECT_EQ(QueryIntf<RgWsPublic>(port).get(), port.get());
  EXPECT_EQ(QueryIntf<IRIOAccess>(port)->GetRIO(), rio);
  EXPECT_TRUE(QueryIntf<IInterface>(port));
  EXPECT_TRUE(QueryIntf<ISOAPHeaders>(port));
  EXPECT_EQ(QueryIntf<IRIOAccess>(QueryIntf<ISOAPHeaders>(port))->GetRIO(), rio);
}

TEST(TRIO, EveryQueryOnTheObjectReappliesTheInterfaceOptions) {
  test::RegisterTestInterfaces();
  TComponent owner;
  {
    auto* rio = new THTTPRIO(&owner);
    IntfPtr<RgWsPublic> port = Bind(rio);
    IOPConvert* conv = rio->Converter();
    EXPECT_TRUE(conv->GetOptions().Contains(soLiteralParams));
    EXPECT_FALSE(conv->GetOptions().Contains(soDocument));
    EXPECT_FALSE(conv->GetOptions().Contains(soSOAP12));
    // The raw template: the web node puts the operation in before each call.
    EXPECT_EQ(rio->HTTPWebNode()->SoapAction(),
              UnicodeString(service::ServiceNamespace) + u"/%operationName%");

    // Through the bound reference the options stay.
    EXPECT_TRUE(QueryIntf<ISOAPHeaders>(port));
    EXPECT_TRUE(conv->GetOptions().Contains(soLiteralParams));
    // On the object, a query for an interface without options clears them.
    EXPECT_TRUE(QueryIntf<ISOAPHeaders>(static_cast<TRIO*>(rio)));
    EXPECT_FALSE(conv->GetOptions().Contains(soLiteralParams));
    // The other options are left alone.
    EXPECT_TRUE(conv->GetOptions().Contains(soCacheMimeResponse));
    EXPECT_TRUE(Bind(rio));
    EXPECT_TRUE(conv->GetOptions().Contains(soLiteralParams));
  }
  {
    auto* rio = new THTTPRIO(&owner);
    IntfPtr<test::ITestPing> ping = QueryIntf<test::ITestPing>(rio);
    ASSERT_TRUE(ping);
    transport::THTTPReqResp* web = rio->HTTPWebNode();
    EXPECT_TRUE(rio->Converter()->GetOptions().Contains(soSOAP12));
    EXPECT_TRUE(web->GetWebNodeOptions().Contains(transport::wnoSOAP12));
    EXPECT_EQ(web->SoapAction(), u"urn:ping#%operationName%");
    EXPECT_EQ(web->UDDIOperator(), u"http://uddi.test/op");
    EXPECT_EQ(web->UDDIBindingKey(), u"key-1");
    EXPECT_TRUE(QueryIntf<IInterface>(static_cast<TRIO*>(rio)));
    EXPECT_FALSE(rio->Converter()->GetOptions().Contains(soSOAP12));
    EXPECT_FALSE(web->GetWebNodeOptions().Contains(transport::wnoSOAP12));
  }
}

TEST(TRIO, OneCallSendsTheRequestAndReadsTheAnswerIntoTheCallersVariables) {
  Rig rig;
  auto* header = new TSOAPHeader();
  rig.Headers()->Send(header);
  rig.Headers()->Send(header);  // the same object is held once
  auto* inbound = new TSOAPHeader();
  rig.conv->OnResponse = [&](TInvContext& ctx, THeaderList* headers) {
    TObject*& basic = ObjectSlot(ctx, 1);
    delete basic;
    auto* fresh = new service::RgWsPublicBasicRtUser();
    fresh->Fafm = u"094019245";
    basic = fresh;
    auto& acts = *static_cast<service::RgWsPublicFirmActRtUserArray*>(ctx.GetParamPointer(2));
    acts.push_back(new service::RgWsPublicFirmActRtUser());
    static_cast<service::TXSDecimal*>(ObjectSlot(ctx, 3))->XSToNative(u"7");
    headers->Add(inbound);
  };

  AfmCall call;
  service::RgWsPublicInputRtUser* const input = call.input;
  call.Run(*rig.port);

  ASSERT_EQ(rig.conv->written.size(), 1u);
  const auto& w = rig.conv->written[0];
  EXPECT_EQ(w.methNum, 3);
  EXPECT_EQ(w.headers, std::vector<TSOAPHeader*>{header});
  ASSERT_EQ(w.params.size(), 5u);
  for (void* p : w.params) EXPECT_NE(p, nullptr);
  EXPECT_EQ(w.result, nullptr);  // a procedure
  EXPECT_TRUE(w.options.Contains(soLiteralParams));

  ASSERT_EQ(rig.web->exchanges.size(), 1u);
  const auto& x = rig.web->exchanges[0];
  EXPECT_EQ(x.methodIndex, 0);  // position among the interface's own methods
  EXPECT_EQ(x.methodName, u"rgWsPublicAfmMethod");
  EXPECT_FALSE(x.withHandler);
  EXPECT_EQ(x.sent, "<request/>");
  EXPECT_EQ(rig.conv->responses, std::vector<std::string>{"<response/>"});

  // What the reader stored is what the caller holds.
  EXPECT_EQ(call.input, input);
  ASSERT_NE(call.basic, nullptr);
  EXPECT_EQ(call.basic->Fafm, u"094019245");
  EXPECT_EQ(call.activities.size(), 1u);
  EXPECT_EQ(call.callSeqId->DecimalString(), u"7");

  // The outgoing header went with this call only and was not destroyed; the
  // incoming one is kept until taken.
  EXPECT_EQ(rig.rio->HeadersOutBound().Count(), 0u);
  EXPECT_EQ(rig.rio->HeadersInbound().Count(), 1u);
  rig.conv->OnResponse = nullptr;
  call.Run(*rig.port);
  EXPECT_TRUE(rig.conv->written[1].headers.empty());
  EXPECT_EQ(rig.rio->HeadersInbound().Count(), 1u);
  TSOAPHeader* taken = rig.Headers()->Get(&TSOAPHeader::StaticClass);
  EXPECT_EQ(taken, inbound);
  delete taken;
  delete header;
}

TEST(TRIO, FailuresReachTheCallerUnchangedAndTheOutgoingHeadersGoAllTheSame) {
  enum class Fault { Transport, ServiceFault, Multipart };
  for (Fault f : {Fault::Transport, Fault::ServiceFault, Fault::Multipart}) {
    SCOPED_TRACE(static_cast<int>(f));
    Rig rig;
    TSOAPHeader header;
    rig.Headers()->Send(&header);
    service::RgWsPublicBasicRtUser* stored = nullptr;
    switch (f) {
      case Fault::Transport:
        rig.web->Fail = [] { throw transport::ESOAPHTTPException(u"unreachable", 12029); };
        break;
      case Fault::ServiceFault:
        rig.conv->OnResponse = [&](TInvContext& ctx, THeaderList*) {
          TObject*& basic = ObjectSlot(ctx, 1);
          delete basic;
          basic = stored = new service::RgWsPublicBasicRtUser();
          throw ERemotableException(u"Authentication failed", u"Client");
        };
        break;
      case Fault::Multipart:
        rig.web->boundary = AnsiString("b0undary", platform::CP_UTF8);
        break;
    }
    AfmCall call;
    try {
      call.Run(*rig.port);
      ADD_FAILURE() << "no exception";
    } catch (const transport::ESOAPHTTPException& e) {
      EXPECT_EQ(f, Fault::Transport);
      EXPECT_EQ(e.Message(), u"unreachable");
      EXPECT_EQ(e.StatusCode(), 12029);
      EXPECT_TRUE(rig.conv->responses.empty());
    } catch (const ERemotableException& e) {
      EXPECT_EQ(f, Fault::ServiceFault);
      EXPECT_EQ(e.Message(), u"Authentication failed");
      // By-reference arguments hold what had been stored when it struck.
      EXPECT_EQ(call.basic, stored);
    } catch (const Exception& e) {
      EXPECT_EQ(f, Fault::Multipart);
      EXPECT_EQ(
          e.Message(),
          u"The response is a multipart message (boundary 'b0undary'), which is not supported");
      EXPECT_TRUE(rig.conv->responses.empty());
    }
    EXPECT_EQ(rig.rio->HeadersOutBound().Count(), 0u);
  }
}

TEST(TRIO, EventsSeeBothStreamsAndTheStreamsAreRewoundAfterThem) {
  Rig rig;
  std::vector<std::string> seen;
  rig.rio->OnBeforeExecute = [&](const UnicodeString& name, TStream& request) {
    EXPECT_EQ(name, u"rgWsPublicAfmMethod");
    request.SetPosition(0);
    seen.push_back(request.ReadRest());
  };
  rig.rio->OnAfterExecute = [&](const UnicodeString&, TStream& response) {
    response.SetPosition(0);
    seen.push_back(response.ReadRest());
  };
  AfmCall call;
  call.Run(*rig.port);
  EXPECT_EQ(seen, (std::vector<std::string>{"<request/>", "<response/>"}));
  EXPECT_EQ(rig.web->exchanges[0].positionAtSend, 0);
  EXPECT_EQ(rig.web->exchanges[0].sent, "<request/>");
  EXPECT_EQ(rig.conv->responses[0], "<response/>");
}

TEST(TRIO, ACallWithoutConverterOrWebNodeIsRefused) {
  const struct {
    bool dropConverter;
    const char16_t* message;
  } cases[] = {
      {true, u"No Native to Message converter set"},
      {false, u"No Message processing node set"},
  };
  for (const auto& c : cases) {
    Rig rig;
    // Destroyed elsewhere, a collaborator is forgotten.
    if (c.dropConverter) {
      delete rig.conv;
      EXPECT_EQ(rig.rio->Converter(), nullptr);
    } else {
      delete rig.web;
      EXPECT_EQ(rig.rio->HTTPWebNode(), nullptr);
    }
    AfmCall call;
    try {
      call.Run(*rig.port);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

TEST(TRIO, GenericHandsOverResultAndByReferenceSlots) {
  test::RegisterTestInterfaces();
  TComponent owner;
  auto* rio = new THTTPRIO(&owner);
  auto* conv = new TFakeConverter(rio);
  auto* web = new TFakeWebNode(rio);
  rio->SetConverter(conv);
  rio->SetHTTPWebNode(web);
  IntfPtr<test::ITestPing> ping = QueryIntf<test::ITestPing>(rio);
  ASSERT_TRUE(ping);
  UnicodeString textSeen;
  conv->OnResponse = [&](TInvContext& ctx, THeaderList*) {
    textSeen = *static_cast<UnicodeString*>(ctx.GetParamPointer(1));
    *static_cast<std::int32_t*>(ctx.GetParamPointer(0)) += 1;
    *static_cast<std::int32_t*>(ctx.GetResultPointer()) = 42;
  };
  std::int32_t counter = 5;
  EXPECT_EQ(ping->Ping(counter, u"hello"), 42);
  EXPECT_EQ(counter, 6);
  EXPECT_EQ(textSeen, u"hello");
  EXPECT_EQ(conv->written[0].methNum, 3);
  EXPECT_NE(conv->written[0].result, nullptr);
  EXPECT_EQ(web->exchanges[0].methodIndex, 0);

  // Copied back also when the call fails.
  conv->OnResponse = [&](TInvContext& ctx, THeaderList*) {
    *static_cast<std::int32_t*>(ctx.GetParamPointer(0)) = 99;
    throw Exception(u"broken answer");
  };
  EXPECT_THROW(ping->Ping(counter, u""), Exception);
  EXPECT_EQ(counter, 99);
}

}  // namespace
}  // namespace delvan::soap
