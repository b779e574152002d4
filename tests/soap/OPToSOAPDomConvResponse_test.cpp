// The response envelope reader: the lookup's answer into the caller's
// variables as the driver passes them, envelope and header rules, faults of
// both SOAP versions, parameter matching, and hostile answers.
#include <gtest/gtest.h>

#include <memory>

#include "rtl/Stream.h"
#include "service/RgWsPublic.h"
#include "service/ServiceConstants.h"
#include "soap/IntfInfo.h"
#include "soap/OPToSOAPDomConv.h"
#include "soap/RemotableException.h"
#include "soap/TypeRegistry.h"
#include "xml/XmlTestSupport.h"

namespace delvan::soap {

// A typed fault registered under urn:f / BadAfm.
class EBadAfm : public ERemotableException {
  DELVAN_CLASS()

 public:
  [[noreturn]] void RaiseCopy() const override { throw *this; }
  UnicodeString FAfm;
};
namespace {
constexpr rtl::TPropInfo kBadAfmProps[] = {rtl::MakeProp<&EBadAfm::FAfm>(u"afm")};
}
constinit const TClass EBadAfm::StaticClass = rtl::DefineClass<EBadAfm, ERemotableException>(
    EBadAfm::StaticClass, u"EBadAfm", u"Tests.Response", kBadAfmProps);

namespace {

using namespace service;

std::string Ns() { return test::Utf8(ServiceNamespace); }

std::string Envelope(const std::string& body, const std::string& header = "",
                     const std::string& envNs = "http://schemas.xmlsoap.org/soap/envelope/") {
  return "<?xml version=\"1.0\"?><S:Envelope xmlns:S=\"" + envNs + "\">" + header + "<S:Body>" +
         body + "</S:Body></S:Envelope>";
}

// The caller's variables and the context the driver builds over them.
struct Call {
  Call() {
    md = GetIntfMetaData(&TypeInfo_RgWsPublic);
    for (const TIntfMethEntry& m : md.MDA)
      if (m.Name == u"rgWsPublicAfmMethod") meth = m;
    ctx.SetMethodInfo(meth.Params.size());
    ctx.SetParamPointer(0, &input);
    ctx.SetParamPointer(1, &basic);
    ctx.SetParamPointer(2, &acts);
    ctx.SetParamPointer(3, &seq);
    ctx.SetParamPointer(4, &err);
    conv = new TOPToSoapDomConvert();
    keep = IntfPtr<IOPConvert>(conv);
    conv->SetOptions(conv->Options() | TSOAPConvertOptions{soLiteralParams});
  }
  ~Call() {
    delete input;
    delete basic;
    FreeActivities(acts);
    delete seq;
    delete err;
  }
  void Read(const std::string& xml, THeaderList* headers = nullptr) {
    TMemoryStream s(xml);
    s.Seek(0, TSeekOrigin::soEnd);  // the reader rewinds
    conv->ProcessResponse(s, md, meth, &ctx, headers);
  }

  RgWsPublicInputRtUser* input = new RgWsPublicInputRtUser();
  RgWsPublicBasicRtUser* basic = new RgWsPublicBasicRtUser();
  RgWsPublicFirmActRtUserArray acts;
  TXSDecimal* seq = new TXSDecimal();
  GenWsErrorRtUser* err = new GenWsErrorRtUser();
  TIntfMetaData md;
  TIntfMethEntry meth;
  TInvContext ctx;
  TOPToSoapDomConvert* conv;
  IntfPtr<IOPConvert> keep;
};

class ResponseTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureDOMVendor(); }
  Call call;
};

TEST_F(ResponseTest, TypicalLookupAnswerFillsTheCallersVariables) {
  std::string xml = test::ReadFixture("service/typical_response.xml");
  xml.replace(xml.find("@SERVICE_NAMESPACE@"), 19, Ns());
  RgWsPublicBasicRtUser* basic = call.basic;
  call.Read(xml);
  EXPECT_EQ(call.basic, basic);  // filled in place
  EXPECT_EQ(call.basic->Fafm, u"094019245");
  EXPECT_EQ(call.basic->FstopDate, nullptr);  // nil leaves it
  ASSERT_NE(call.basic->FregistDate, nullptr);
  EXPECT_EQ(call.basic->FregistDate->NativeToXS(), u"1999-07-01T00:00:00+03:00");
  EXPECT_EQ(call.basic->Fonomasia, test::U("ΕΛΛΗΝΙΚΗ ΕΤΑΙΡΕΙΑ \"ΔΕΛΤΑ\" Α.Ε."));
  EXPECT_EQ(call.basic->FpostalZipCode, u"10564");
  ASSERT_EQ(call.acts.size(), 2u);
  EXPECT_EQ(call.acts[0]->FfirmActDescr, test::U("ΧΟΝΔΡΕΜΠΟΡΙΟ"));
  ASSERT_NE(call.acts[0]->FfirmActCode, nullptr);
  EXPECT_EQ(call.acts[0]->FfirmActCode->NativeToXS(), u"46190000");
  EXPECT_EQ(call.acts[1]->FfirmActCode, nullptr);
  EXPECT_EQ(call.seq->NativeToXS(), u"123456789");
  EXPECT_EQ(call.err->FerrorCode, u"RG_WS_PUBLIC_TAXPAYER_NOT_FOUND");
}

TEST_F(ResponseTest, IndentedTypedAnswerWithDefaultNamespaces) {
  std::string xml = test::ReadFixture("soap/response_typed_indented.xml");
  for (std::size_t at; (at = xml.find("@SERVICE_NAMESPACE@")) != std::string::npos;)
    xml.replace(at, 19, Ns());
  call.basic->FcommerTitle = u"old";
  call.err->FerrorDescr = u"old";
  call.Read(xml);
  EXPECT_EQ(call.basic->Fafm, u"094019245");
  ASSERT_NE(call.basic->FstopDate, nullptr);
  EXPECT_EQ(call.basic->FstopDate->NativeToXS(), u"2020-01-31T00:00:00Z");
  EXPECT_EQ(call.basic->FregistDate, nullptr);
  EXPECT_EQ(call.basic->Fonomasia, u"<![CDATA[A & B]]>");
  EXPECT_EQ(call.basic->FcommerTitle, u"");
  ASSERT_EQ(call.acts.size(), 3u);  // a nil item is an empty entry
  EXPECT_EQ(call.acts[0]->FfirmActDescr, u"ONE");
  EXPECT_EQ(call.acts[0]->FfirmActCode->NativeToXS(), u"46190000");
  EXPECT_EQ(call.acts[1]->FfirmActCode, nullptr);
  EXPECT_EQ(call.acts[2], nullptr);
  EXPECT_EQ(call.seq->NativeToXS(), u"0042");  // decimal text is taken unchanged
  EXPECT_EQ(call.err->FerrorDescr, u"");
}

TEST_F(ResponseTest, ToolkitStylesReadTheSame) {
  const std::string x = "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";
  struct Styled {
    std::string body;
    const char16_t* onomasia;
  } styles[] = {
      // unprefixed with default namespaces, comments, whitespace, CDATA
      {"<m:R xmlns:m=\"urn:x\">\n  <!-- c -->\n  <RgWsPublicBasicRt_out xmlns=\"" + Ns() +
           "\">\n    <afm>1</afm>\n    <onomasia><![CDATA[A&B]]></onomasia>\n"
           "  </RgWsPublicBasicRt_out>\n  <pCallSeqId_out>7</pCallSeqId_out>\n</m:R>",
       u"<![CDATA[A&B]]>"},  // a CDATA section reads as its markup
      // elements in other namespaces and extra elements
      {"<R><RgWsPublicBasicRt_out><q:afm xmlns:q=\"urn:other\">1</q:afm><extra>e</extra>"
       "<onomasia>A&amp;B</onomasia></RgWsPublicBasicRt_out><unknown/>"
       "<pCallSeqId_out>7</pCallSeqId_out></R>",
       u"A&B"},
  };
  for (const Styled& style : styles) {
    Call c;
    c.Read(Envelope(style.body));
    EXPECT_EQ(c.basic->Fafm, u"1");
    EXPECT_EQ(c.basic->Fonomasia, style.onomasia);
    EXPECT_EQ(c.seq->NativeToXS(), u"7");
  }
}

TEST_F(ResponseTest, EncodingOfTheBodyIsDetected) {
  const UnicodeString text = test::U(
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?><S:Envelope "
      "xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\"><S:Body><R><RgWsPublicBasicRt_out>"
      "<onomasia>ΔΕΛΤΑ</onomasia></RgWsPublicBasicRt_out></R></S:Body></S:Envelope>");
  std::string bytes = "\xFF\xFE";  // UTF-16LE with its byte-order mark
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  call.Read(bytes);
  EXPECT_EQ(call.basic->Fonomasia, test::U("ΔΕΛΤΑ"));
}

TEST_F(ResponseTest, ParameterMatching) {
  call.err->FerrorCode = u"caller";
  call.acts = {new RgWsPublicFirmActRtUser(), new RgWsPublicFirmActRtUser()};
  RgWsPublicFirmActRtUser* first = call.acts[0];
  call.Read(
      Envelope("<R xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
               "<RgWsPublicBasicRt_out><afm>first</afm></RgWsPublicBasicRt_out>"
               "<RgWsPublicBasicRt_out><afm>second</afm></RgWsPublicBasicRt_out>"
               "<rgWsPublicBasicRt_out><afm>case</afm></rgWsPublicBasicRt_out>"
               "<arrayOfRgWsPublicFirmActRt_out><a><firmActKind>k</firmActKind></a>"
               "</arrayOfRgWsPublicFirmActRt_out>"
               "<pCallSeqId_out xsi:nil=\"true\"/>"
               "<RgWsPublicInputRt_in xsi:nil=\"true\"/></R>"));
  EXPECT_EQ(call.basic->Fafm, u"first");
  ASSERT_EQ(call.acts.size(), 1u);  // the second entry is dropped and freed
  EXPECT_EQ(call.acts[0], first);
  EXPECT_EQ(call.acts[0]->FfirmActKind, u"k");
  EXPECT_EQ(call.seq, nullptr);    // nil turns the variable nil; its decimal is freed
  EXPECT_NE(call.input, nullptr);  // a const argument keeps the caller's object
  EXPECT_EQ(call.err->FerrorCode, u"caller");
}

TEST_F(ResponseTest, EmptyBodiesLeaveEverything) {
  for (const std::string& body : {std::string(), std::string("<!-- only -->"), std::string("  ")}) {
    Call c;
    c.basic->Fafm = u"kept";
    c.Read(Envelope(body));
    EXPECT_EQ(c.basic->Fafm, u"kept");
  }
  Call c;  // no Body at all
  c.Read(
      "<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\"><S:Header/>"
      "</S:Envelope>");
}

TEST_F(ResponseTest, EnvelopeErrors) {
  const std::string env11 = "http://schemas.xmlsoap.org/soap/envelope/";
  struct Case {
    std::string xml;
    const char16_t* message;  // null: any exception
  } cases[] = {
      {"<Envelope xmlns=\"urn:wrong\"><Body/></Envelope>",
       u"DocumentElement http://schemas.xmlsoap.org/soap/envelope/:Envelope expected, "
       u"urn:wrong:Envelope found"},
      {"<S:envelope xmlns:S=\"" + env11 + "\"/>",
       u"DocumentElement http://schemas.xmlsoap.org/soap/envelope/:Envelope expected, "
       u"http://schemas.xmlsoap.org/soap/envelope/:envelope found"},
      {"<S:Envelope xmlns:S=\"" + env11 + "\"/>", u"Invalid SOAP response"},
      {"<S:Envelope xmlns:S=\"" + env11 +
           "\"><S:Body/><S:Body><R><RgWsPublicBasicRt_out>"
           "<afm>x</afm></RgWsPublicBasicRt_out></R></S:Body></S:Envelope>",
       u"Invalid SOAP response"},
      {"<S:Envelope xmlns:S=\"" + env11 + "\"><S:Header/><S:Header/><S:Body/></S:Envelope>",
       u"Invalid SOAP response"},
      {"", nullptr},
      {"not xml", nullptr},
      {Envelope("<R><RgWsPublicBasicRt_out><afm>x</afm>").substr(0, 120), nullptr},
  };
  for (const Case& c : cases) {
    Call call2;
    try {
      call2.Read(c.xml);
      ADD_FAILURE() << "no exception: " << c.xml;
    } catch (const ESOAPDomConvertError& e) {
      if (c.message) {
        EXPECT_EQ(e.Message(), c.message) << c.xml;
      }
    } catch (const Exception& e) {
      EXPECT_EQ(c.message, nullptr) << c.xml << ": " << e.what();
    }
    EXPECT_EQ(call2.basic->Fafm, u"");
  }
  // The SOAP 1.2 envelope is accepted by a SOAP 1.1 converter.
  call.Read(Envelope("<R><pCallSeqId_out>5</pCallSeqId_out></R>", "",
                     "http://www.w3.org/2003/05/soap-envelope"));
  EXPECT_EQ(call.seq->NativeToXS(), u"5");
}

TEST_F(ResponseTest, HeadersAndMustUnderstand) {
  const std::string body = "<R><pCallSeqId_out>5</pCallSeqId_out></R>";
  try {
    call.Read(
        Envelope(body, "<S:Header><h:T xmlns:h=\"urn:h\" mustUnderstand=\"TRUE\"/></S:Header>"));
    ADD_FAILURE() << "no exception";
  } catch (const ERemotableException& e) {
    EXPECT_EQ(e.Message(),
              u"Soap header T with attribute 'mustUnderstand' set to true was not handled");
    EXPECT_EQ(e.FaultCode(), u"MustUnderstand");
  }
  EXPECT_EQ(call.seq->NativeToXS(), u"");  // failed before the Body
  std::vector<UnicodeString> unhandled;
  call.conv->OnUnhandledNode = [&](const UnicodeString& n, const UnicodeString&) {
    unhandled.push_back(n);
  };
  call.Read(Envelope(body,
                     "<S:Header><h:T xmlns:h=\"urn:h\" S:mustUnderstand=\"1\"/>"
                     "<U mustUnderstand=\"0\"/></S:Header>"));
  EXPECT_EQ(call.seq->NativeToXS(), u"5");
  EXPECT_EQ(unhandled, (std::vector<UnicodeString>{u"urn:h:T", u":U"}));

  // A processor decides; one that aborts fails the call.
  class TProc : public TInterfacedImpl<IDOMHeaderProcessor> {
   public:
    bool abort = false;
    int calls = 0;
    void ProcessHeader(xml::IXMLNode*, bool& handled, bool& abortRequest) override {
      ++calls;
      handled = true;
      abortRequest = abort;
    }
  };
  auto* proc = new TProc();
  IntfPtr<IDOMHeaderProcessor> keepProc(proc);
  call.conv->AddHeaderProcessor(u"urn:h", u"T", u"", proc);
  const std::string hdr = "<S:Header><h:T xmlns:h=\"urn:h\" mustUnderstand=\"1\"/></S:Header>";
  call.Read(Envelope(body, hdr));
  EXPECT_EQ(proc->calls, 1);
  proc->abort = true;
  try {
    call.Read(Envelope(body, hdr));
    ADD_FAILURE() << "no exception";
  } catch (const ESOAPDomConvertError& e) {
    EXPECT_EQ(e.Message(), u"Error Processing Header (urn:h)T");
  }
}

TEST_F(ResponseTest, FaultsOfBothVersions) {
  struct Case {
    bool soap12;
    std::string fault;
    const char16_t *message, *code, *detail;
  } cases[] = {
      {false,
       "<S:Fault><faultcode>S:Server</faultcode><faultstring>boom</faultstring>"
       "<faultactor>a</faultactor><detail><x>1</x></detail></S:Fault>",
       u"boom", u"S:Server", u"<detail><x>1</x></detail>"},
      {false,
       "<S:Fault><FAULTCODE>c</FAULTCODE><FaultString>one</FaultString>"
       "<faultstring>two</faultstring></S:Fault>",
       u"two", u"c", u""},
      {false, "<S:Fault><faultcode>c</faultcode><detail>d</detail></S:Fault>",
       u"<detail>d</detail>", u"c", u"<detail>d</detail>"},
      {false, "<S:Fault><faultcode>c</faultcode></S:Fault>",
       u"<S:Fault><faultcode>c</faultcode></S:Fault>", u"c", u""},
      {true,
       "<S:Fault><S:Code><S:Value>S:Sender</S:Value></S:Code><S:Reason>"
       "<S:Text xml:lang=\"el\">r12</S:Text></S:Reason><S:Node>n</S:Node></S:Fault>",
       u"r12", nullptr, u""},
  };
  for (const Case& c : cases) {
    Call call2;
    if (c.soap12) call2.conv->SetOptions(call2.conv->Options() | TSOAPConvertOptions{soSOAP12});
    call2.basic->Fafm = u"kept";
    try {
      call2.Read(
          Envelope(c.fault + "<R><RgWsPublicBasicRt_out><afm>x</afm></RgWsPublicBasicRt_out></R>"));
      ADD_FAILURE() << "no fault: " << c.fault;
    } catch (const ERemotableException& e) {
      EXPECT_EQ(e.Message(), c.message) << c.fault;
      if (c.code) {
        EXPECT_EQ(e.FaultCode(), c.code);
      }
      EXPECT_EQ(e.FaultDetail(), c.detail);
      if (c.soap12) {
        EXPECT_EQ(e.FaultReasonLang(), u"el");
        EXPECT_EQ(e.FaultNode(), u"n");
        EXPECT_NE(e.FaultCode().find(u"S:Sender"), UnicodeString::npos);
      }
    }
    EXPECT_EQ(call2.basic->Fafm, u"kept");
  }
}

TEST_F(ResponseTest, SOAP12EnvelopeFaultReadWithTheNamesOfTheConvertersVersion) {
  try {
    call.Read(
        Envelope("<S:Fault><faultcode>c</faultcode><faultstring>old names</faultstring>"
                 "</S:Fault>",
                 "", "http://www.w3.org/2003/05/soap-envelope"));
    ADD_FAILURE() << "no fault";
  } catch (const ERemotableException& e) {
    EXPECT_EQ(e.Message(), u"old names");
    EXPECT_EQ(e.FaultCode(), u"c");
  }
}

TEST_F(ResponseTest, TypedFaultThroughARegisteredSubclass) {
  RemTypeRegistry().RegisterXSClass(&EBadAfm::StaticClass, u"urn:f", u"BadAfm");
  const std::string faults[] = {
      "<S:Fault><faultstring>bad</faultstring><detail><f:BadAfm xmlns:f=\"urn:f\">"
      "<afm>123</afm></f:BadAfm></detail></S:Fault>",
      "<S:Fault><faultstring>bad</faultstring><detail "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:f=\"urn:f\" "
      "xsi:type=\"f:BadAfm\"><afm>123</afm></detail></S:Fault>"};
  for (const std::string& f : faults) {
    Call c;
    try {
      c.Read(Envelope(f));
      ADD_FAILURE() << "no fault";
    } catch (const EBadAfm& e) {
      EXPECT_EQ(e.Message(), u"bad");
      EXPECT_EQ(e.FAfm, u"123");
    }
  }
  Call c;  // a failing fill leaves its error, and frees the exception object
  EXPECT_THROW(c.Read(Envelope("<S:Fault><faultstring>bad</faultstring><detail><f:BadAfm "
                               "xmlns:f=\"urn:f\"><afm>1<b/></afm></f:BadAfm></detail></S:Fault>")),
               ERemotableException);
}

TEST_F(ResponseTest, HostileAnswersEndInClearExceptions) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  const std::string hostile[] = {
      Envelope("<R><RgWsPublicBasicRt_out>" + deep + "</RgWsPublicBasicRt_out></R>"),
      Envelope("<R><RgWsPublicBasicRt_out><registDate>yesterday</registDate>"
               "</RgWsPublicBasicRt_out></R>"),
      Envelope("<R><arrayOfRgWsPublicFirmActRt_out><a><firmActCode>1<x/></firmActCode></a>"
               "</arrayOfRgWsPublicFirmActRt_out></R>"),
      Envelope("<S:Fault><faultstring>a<b/></faultstring></S:Fault>"),
      "<!DOCTYPE x [<!ENTITY e \"e\">]>" + Envelope("<R/>"),
  };
  for (const std::string& xml : hostile) {
    Call c;
    EXPECT_THROW(c.Read(xml), Exception) << xml.substr(0, 200);
  }
}

TEST_F(ResponseTest, AMillionActivities) {
  std::string body = "<R><arrayOfRgWsPublicFirmActRt_out>";
  for (int i = 0; i < 1000000; ++i) body += "<a/>";
  body += "</arrayOfRgWsPublicFirmActRt_out></R>";
  call.Read(Envelope(body));
  EXPECT_EQ(call.acts.size(), 1000000u);
}

}  // namespace
}  // namespace delvan::soap
