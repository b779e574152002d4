// The request envelope writer: the lookup's request byte for byte and as a
// namespace-aware reader sees it, the four styles, the state between two
// requests, and the writer's failures.
#include <expat.h>
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "service/CredentialsHeader.h"
#include "service/RgWsPublic.h"
#include "service/ServiceConstants.h"
#include "soap/IntfInfo.h"
#include "soap/InvContext.h"
#include "soap/InvokeRegistry.h"
#include "soap/OPToSOAPDomConv.h"
#include "soap/SOAPAttachment.h"
#include "soap/SOAPConst.h"
#include "soap/TypeRegistry.h"
#include "xml/XmlTestSupport.h"

namespace delvan::soap {
namespace {

using namespace service;
using test::Utf8;

const std::string kSvc = Utf8(ServiceNamespace);

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A converter as the driver makes it, with the style's options on top.
class Converter {
 public:
  explicit Converter(TSOAPConvertOptions extra = {soLiteralParams}) {
    test::EnsureDOMVendor();
    FConv = new TOPToSoapDomConvert();
    FKeep = IntfPtr<IOPConvert>(FConv);
    FConv->SetOptions(FConv->Options() | extra);
  }
  TOPToSoapDomConvert* operator->() { return FConv; }

  std::string Write(const TIntfMetaData& md, int meth, TInvContext& ctx, THeaderList* headers) {
    std::unique_ptr<TStream> s = FConv->InvContextToMsg(md, meth, &ctx, headers);
    auto& m = static_cast<TMemoryStream&>(*s);
    EXPECT_EQ(m.Position(), m.Size());
    return std::string(m.View());
  }

 private:
  TOPToSoapDomConvert* FConv;
  IntfPtr<IOPConvert> FKeep;
};

// The lookup's arguments as the entry passes them: the input record with
// the two tax numbers, fresh records, an empty list and a decimal of 0.
class LookupCall {
 public:
  LookupCall(UnicodeString calledBy, UnicodeString calledFor) {
    FIn->FafmCalledBy = std::move(calledBy);
    FIn->FafmCalledFor = std::move(calledFor);
    FSeq->XSToNative(u"0");
    FCtx.SetMethodInfo(5);
    void* args[] = {&FIn, &FBasic, &FActs, &FSeq, &FErr};
    for (std::size_t i = 0; i < 5; ++i) FCtx.SetParamPointer(i, args[i]);
  }
  ~LookupCall() {
    delete FIn;
    delete FBasic;
    FreeActivities(FActs);
    delete FSeq;
    delete FErr;
  }

  std::string Write(Converter& conv, THeaderList* headers) {
    return conv.Write(FMD, 3, FCtx, headers);
  }
  TInvContext& Context() { return FCtx; }
  const TIntfMetaData& MetaData() const { return FMD; }
  RgWsPublicFirmActRtUserArray& Activities() { return FActs; }

 private:
  TIntfMetaData FMD = GetIntfMetaData(&TypeInfo_RgWsPublic);
  RgWsPublicInputRtUser* FIn = new RgWsPublicInputRtUser();
  RgWsPublicBasicRtUser* FBasic = new RgWsPublicBasicRtUser();
  RgWsPublicFirmActRtUserArray FActs;
  TXSDecimal* FSeq = new TXSDecimal();
  GenWsErrorRtUser* FErr = new GenWsErrorRtUser();
  TInvContext FCtx;
};

// The credentials list as the proxy attaches it: not owning the header.
class Credentials {
 public:
  Credentials(std::string user, std::string password) {
    FHeader.usr(AnsiString(std::move(user), platform::CP_UTF8));
    FHeader.pwd(AnsiString(std::move(password), platform::CP_UTF8));
    FList.Add(&FHeader);
  }
  THeaderList* List() { return &FList; }
  AFMCredentialsHeader& Header() { return FHeader; }

 private:
  AFMCredentialsHeader FHeader;
  THeaderList FList{false};
};

// What expat, namespace-aware, reports of a document: one line per element
// ("depth {namespace}local"), then its namespace declarations and attributes.
struct ExpatView {
  std::string outline;
  int depth = 0;
  std::vector<std::string> pendingDecls;

  static std::string Split(const XML_Char* name) {
    const std::string n(name);
    const std::size_t sep = n.find('\x01');
    return sep == std::string::npos ? "{}" + n : "{" + n.substr(0, sep) + "}" + n.substr(sep + 1);
  }

  static std::string Parse(const std::string& bytes) {
    ExpatView view;
    XML_Parser p = XML_ParserCreateNS(nullptr, '\x01');
    XML_SetUserData(p, &view);
    XML_SetNamespaceDeclHandler(
        p,
        [](void* d, const XML_Char* prefix, const XML_Char* uri) {
          static_cast<ExpatView*>(d)->pendingDecls.push_back(
              std::string("xmlns") + (prefix ? std::string(":") + prefix : "") + "=" +
              (uri ? uri : ""));
        },
        nullptr);
    XML_SetElementHandler(
        p,
        [](void* d, const XML_Char* name, const XML_Char** attrs) {
          auto* v = static_cast<ExpatView*>(d);
          v->outline += std::string(2 * v->depth, ' ') + Split(name);
          for (const std::string& decl : v->pendingDecls) v->outline += " " + decl;
          v->pendingDecls.clear();
          for (; *attrs; attrs += 2) v->outline += " @" + Split(attrs[0]) + "=" + attrs[1];
          v->outline += "\n";
          ++v->depth;
        },
        [](void* d, const XML_Char*) { --static_cast<ExpatView*>(d)->depth; });
    const bool ok = XML_Parse(p, bytes.data(), static_cast<int>(bytes.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(p);
    return ok ? view.outline : "parse error";
  }
};

// ---- The lookup's request -------------------------------------------------------------

// Greek letters in the tax numbers and the user name, markup characters in
// the password, empty records.
std::string GoldenRequest() {
  LookupCall call(u"\u0395\u039b094019245", u"99\uff17");
  Credentials cred("user.\xce\xb3x", "Pa&ss<w\xc3\xb6rd");
  Converter conv;
  return call.Write(conv, cred.List());
}

TEST(Request, LookupMatchesTheGoldenFile) {
  const std::string expected =
      Replace(test::ReadFixture("soap/lookup_request.xml"), "@SERVICE_NAMESPACE@", kSvc);
  EXPECT_EQ(GoldenRequest(), expected);
}

TEST(Request, LookupAsANamespaceAwareReaderSeesIt) {
  const std::string env = "{http://schemas.xmlsoap.org/soap/envelope/}";
  const std::string svc = "{" + kSvc + "}";
  std::string basic;
  for (const char* name :
       {"afm", "stopDate", "postalAddressNo", "doyDescr", "doy", "onomasia", "legalStatusDescr",
        "registDate", "deactivationFlag", "deactivationFlagDescr", "postalAddress", "firmFlagDescr",
        "commerTitle", "postalAreaDescription", "INiFlagDescr", "postalZipCode"}) {
    basic += "        " + svc + name + " xmlns=" + kSvc;
    if (std::string(name) == "stopDate" || std::string(name) == "registDate")
      basic += " @{http://www.w3.org/2001/XMLSchema-instance}nil=true";
    basic += "\n";
  }
  const std::string expected =
      env +
      "Envelope xmlns:SOAP-ENV=http://schemas.xmlsoap.org/soap/envelope/"
      " xmlns:xsd=http://www.w3.org/2001/XMLSchema"
      " xmlns:xsi=http://www.w3.org/2001/XMLSchema-instance"
      " xmlns:SOAP-ENC=http://schemas.xmlsoap.org/soap/encoding/\n" +
      "  " + env + "Header\n" + "    " + env + "Security\n" + "      " + env + "UsernameToken\n" +
      "        " + env + "Username\n" + "        " + env + "Password\n" + "  " + env + "Body\n" +
      "    " + svc + "rgWsPublicAfmMethod xmlns=" + kSvc + "\n" +
      "      {}RgWsPublicInputRt_in xmlns=\n" + "        " + svc + "afmCalledBy xmlns=" + kSvc +
      "\n" + "        " + svc + "afmCalledFor xmlns=" + kSvc + "\n" +
      "      {}RgWsPublicBasicRt_out xmlns=\n" + basic +
      "      {}arrayOfRgWsPublicFirmActRt_out xmlns=\n" + "      {}pCallSeqId_out xmlns=\n" +
      "      {}pErrorRec_out xmlns=\n" + "        " + svc + "errorDescr xmlns=" + kSvc + "\n" +
      "        " + svc + "errorCode xmlns=" + kSvc + "\n";
  EXPECT_EQ(ExpatView::Parse(GoldenRequest()), expected);
}

TEST(Request, ActivitiesAreNamedByTheirItemName) {
  LookupCall call(u"1", u"2");
  for (const char* kind : {"A", "B"}) {
    auto* act = new RgWsPublicFirmActRtUser();
    act->FfirmActKind = test::U(kind);
    act->FfirmActCode = new TXSDecimal();
    act->FfirmActCode->XSToNative(u"12");
    call.Activities().push_back(act);
  }
  Converter conv;
  const std::string out = call.Write(conv, nullptr);
  const std::string item = "<RgWsPublicFirmActRtUser xmlns=\"" + kSvc +
                           "\"><firmActDescr>"
                           "</firmActDescr><firmActKind>";
  const std::string rest =
      "</firmActKind><firmActKindDescr></firmActKindDescr>"
      "<firmActCode>12</firmActCode></RgWsPublicFirmActRtUser>";
  EXPECT_TRUE(Has(out, "<arrayOfRgWsPublicFirmActRt_out xmlns=\"\">" + item + "A" + rest + item +
                           "B" + rest + "</arrayOfRgWsPublicFirmActRt_out>"))
      << out;
}

// ---- Styles and options ---------------------------------------------------------------

TEST(Request, StylesAndOptions) {
  const std::string envNs = "http://schemas.xmlsoap.org/soap/envelope/";
  const std::string encNs = "http://schemas.xmlsoap.org/soap/encoding/";
  struct Case {
    const char* what;
    TSOAPConvertOptions options;
    bool headers;
    std::vector<std::string> present, absent;
  };
  const Case cases[] = {
      {"rpc/literal without headers",
       {soLiteralParams},
       false,
       {"<SOAP-ENV:Envelope", "</SOAP-ENV:Envelope>"},
       {}},
      {"rpc/encoded",
       {},
       true,
       {"<SOAP-ENV:Header SOAP-ENV:encodingStyle=\"" + encNs + "\">",
        "<SOAP-ENV:Body xmlns:NS1=\"" + kSvc +
            "\"><NS1:rgWsPublicAfmMethod SOAP-ENV:encodingStyle=\"" + encNs +
            "\"><RgWsPublicInputRt_in href=\"#1\"/><RgWsPublicBasicRt_out href=\"#2\"/>"
            "<arrayOfRgWsPublicFirmActRt_out "
            "SOAP-ENC:arrayType=\"NS1:RgWsPublicFirmActRtUser[0]\"/>",
        "<NS1:RgWsPublicInputRtUser id=\"1\"><afmCalledBy xsi:type=\"xsd:string\">1</afmCalledBy>",
        "<NS1:RgWsPublicBasicRtUser xsi:type=\"NS1:RgWsPublicBasicRtUser\" id=\"2\">",
        "<stopDate xsi:nil=\"true\"/>"},
       {}},
      {"document/literal",
       {soDocument, soLiteralParams},
       true,
       {"<SOAP-ENV:Body><RgWsPublicInputRtUser xmlns=\"" + kSvc + "\"><afmCalledBy>1</afmCalledBy>",
        "<RgWsPublicFirmActRtUserArray xmlns=\"" + kSvc + "\"/>",
        "<decimal xmlns=\"http://www.w3.org/2001/XMLSchema\">0</decimal><GenWsErrorRtUser"},
       {"SOAP-ENC", "encodingStyle", "rgWsPublicAfmMethod", "xsi:type"}},
      {"document/encoded",
       {soDocument},
       true,
       {"<SOAP-ENV:Body><rgWsPublicAfmMethod xmlns=\"" + kSvc +
        "\"><RgWsPublicInputRt_in><afmCalledBy>1</afmCalledBy>"},
       {"SOAP-ENC", "encodingStyle", "href", "xsi:type", "xmlns=\"\""}},
      {"SOAP 1.2",
       {soLiteralParams, soSOAP12},
       true,
       {"<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\"",
        "xmlns:SOAP-ENC=\"http://www.w3.org/2003/05/soap-encoding\"><SOAP-ENV:Header>"},
       {envNs, encNs}},
  };
  for (const Case& c : cases) {
    LookupCall call(u"1", u"2");
    Credentials cred("u", "p");
    Converter conv(c.options);
    const std::string out = call.Write(conv, c.headers ? cred.List() : nullptr);
    for (const std::string& p : c.present) {
      EXPECT_TRUE(Has(out, p)) << c.what << ": " << p << "\n" << out;
    }
    for (const std::string& a : c.absent) {
      EXPECT_FALSE(Has(out, a)) << c.what << ": " << a << "\n" << out;
    }
    EXPECT_EQ(Has(out, "Header"), c.headers) << c.what;
    if (!c.headers) {
      EXPECT_TRUE(Has(out, "xmlns:SOAP-ENC=\"" + encNs + "\"><SOAP-ENV:Body>")) << out;
    }
  }
}

// An interface of our own: a renamed request namespace, a var, an out and a
// parameter registered as not sent.
constexpr rtl::TParamInfo kEchoParams[] = {{rtl::pfConst, u"text", &rtl::TypeInfo_UnicodeString},
                                           {rtl::pfVar, u"count", &rtl::TypeInfo_Integer},
                                           {rtl::pfOut, u"result", &rtl::TypeInfo_UnicodeString},
                                           {0, u"hidden", &rtl::TypeInfo_Integer}};
constexpr rtl::TParamInfo kPlainParams[] = {{0, u"flag", &rtl::TypeInfo_Boolean}};
constexpr rtl::TMethodInfo kCallsMethods[] = {{u"Echo", rtl::ccStdCall, kEchoParams, nullptr},
                                              {u"Plain", rtl::ccStdCall, kPlainParams, nullptr}};
constinit const rtl::TInterfaceTypeData kCallsData{
    &rtl::TypeInfo_IInvokable, TGUID::Parse("{5A0B1C2D-3E4F-4A5B-8C6D-7E8F9A0B1C2D}"), true,
    kCallsMethods};
constinit const rtl::TTypeInfo TypeInfo_ICalls{rtl::tkInterface, u"ICalls", u"Tests.Request",
                                               &kCallsData};

TIntfMetaData CallsMetaData() {
  static bool registered = false;
  if (!registered) {
    registered = true;
    InvRegistry().RegisterInterface(&TypeInfo_ICalls, u"urn:calls");
    InvRegistry().RegisterMethodInfo(&TypeInfo_ICalls, u"Echo", u"", u"[RequestNS=\"urn:request\"]",
                                     0);
    InvRegistry().RegisterParamInfo(&TypeInfo_ICalls, u"Echo", u"hidden", u"", u"", 0x200);
    InvRegistry().RegisterExternalParamName(&TypeInfo_ICalls, u"Plain", u"flag", u"Flag");
  }
  return GetIntfMetaData(&TypeInfo_ICalls);
}

TEST(Request, ParametersByDirectionAndRegistration) {
  UnicodeString text = u"hi", result = u"old";
  std::int32_t count = 3, hidden = 9;
  bool flag = true;
  TInvContext echo, plain;
  echo.SetMethodInfo(4);
  echo.SetParamPointer(0, &text);
  echo.SetParamPointer(1, &count);
  echo.SetParamPointer(2, &result);
  echo.SetParamPointer(3, &hidden);
  plain.SetMethodInfo(1);
  plain.SetParamPointer(0, &flag);
  const TIntfMetaData md = CallsMetaData();
  struct Case {
    TSOAPConvertOptions options;
    int meth;
    TInvContext* ctx;
    std::string body;
  };
  const Case cases[] = {
      // The var argument goes with its current value; out and not-sent ones do not.
      {{soLiteralParams},
       3,
       &echo,
       "<SOAP-ENV:Body><Echo xmlns=\"urn:request\"><text xmlns=\"\">hi</text>"
       "<count xmlns=\"\">3</count></Echo></SOAP-ENV:Body>"},
      {{soLiteralParams},
       4,
       &plain,
       "<SOAP-ENV:Body><Plain xmlns=\"urn:calls\"><Flag "
       "xmlns=\"\">true</Flag></Plain></SOAP-ENV:Body>"},
      // rpc/encoded reads no request namespace.
      {{},
       3,
       &echo,
       "<SOAP-ENV:Body xmlns:NS1=\"urn:calls\"><NS1:Echo SOAP-ENV:encodingStyle=\""
       "http://schemas.xmlsoap.org/soap/encoding/\"><text xsi:type=\"xsd:string\">hi</text>"
       "<count xsi:type=\"xsd:int\">3</count></NS1:Echo></SOAP-ENV:Body>"},
      // document/literal: elements named by type, under the Body.
      {{soDocument, soLiteralParams},
       4,
       &plain,
       "<SOAP-ENV:Body><boolean xmlns=\"http://www.w3.org/2001/XMLSchema\">true</boolean>"
       "</SOAP-ENV:Body>"},
  };
  for (const Case& c : cases) {
    Converter conv(c.options);
    const std::string out = conv.Write(md, c.meth, *c.ctx, nullptr);
    EXPECT_TRUE(Has(out, c.body)) << out;
  }
}

// ---- State between requests -----------------------------------------------------------

class TFailingHeader : public TSOAPHeader {
  DELVAN_CLASS()
 public:
  IntfPtr<xml::IXMLNode> ObjectToSOAP(xml::IXMLNode*, xml::IXMLNode*, IObjConverter*,
                                      const UnicodeString&, const UnicodeString&,
                                      const UnicodeString&, TObjectConvertOptions,
                                      UnicodeString&) override {
    throw Exception(u"header refused");
  }
};
constinit const TClass TFailingHeader::StaticClass = rtl::DefineClass<TFailingHeader, TSOAPHeader>(
    TFailingHeader::StaticClass, u"TFailingHeader", u"Tests.Request");

TEST(Request, EachRequestStartsAfresh) {
  LookupCall call(u"1", u"2");
  Converter conv(TSOAPConvertOptions{});  // rpc/encoded: ids on the wire
  const std::string first = call.Write(conv, nullptr);
  TSOAPAttachment attachment;
  conv->GetAttachments().push_back(&attachment);
  const std::string second = call.Write(conv, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_TRUE(Has(second, "<RgWsPublicInputRt_in href=\"#1\"/>")) << second;
  EXPECT_TRUE(conv->GetAttachments().empty());

  // A header that throws ends the request and leaves no header mode behind.
  TFailingHeader bad;
  THeaderList headers(false);
  headers.Add(&bad);
  const TSOAPConvertOptions before = conv->Options();
  EXPECT_THROW(call.Write(conv, &headers), Exception);
  EXPECT_EQ(conv->Options(), before);
  EXPECT_FALSE(conv->Options().Contains(soXXXXHdr));
  EXPECT_EQ(call.Write(conv, nullptr), first);
}

TEST(Request, CredentialsOfEachCallInItsRequest) {
  LookupCall call(u"1", u"2");
  Converter conv;
  Credentials cred("alice", "One&");
  const std::string first = call.Write(conv, cred.List());
  cred.Header().usr(AnsiString("\xce\xb2ob", platform::CP_UTF8));
  cred.Header().pwd(AnsiString("", platform::CP_UTF8));
  const std::string second = call.Write(conv, cred.List());
  const std::string token = "<SOAP-ENV:UsernameToken><SOAP-ENV:Username>";
  EXPECT_TRUE(Has(first, token + "ALICE</SOAP-ENV:Username><SOAP-ENV:Password>One&amp;<"));
  EXPECT_TRUE(Has(second, token + "\xce\xb2OB</SOAP-ENV:Username><SOAP-ENV:Password>"
                                  "</SOAP-ENV:Password>"))
      << second;
}

// ---- Failures -------------------------------------------------------------------------

class TUnlistedHeader : public TSOAPHeader {
  DELVAN_CLASS()
};
constinit const TClass TUnlistedHeader::StaticClass =
    rtl::DefineClass<TUnlistedHeader, TSOAPHeader>(TUnlistedHeader::StaticClass, u"TUnlistedHeader",
                                                   u"Tests.Request");

TEST(Request, Failures) {
  struct Case {
    std::function<void(Converter&, LookupCall&)> write;
    std::string message;
  };
  const Case cases[] = {
      {[](Converter& c, LookupCall& call) {
         c->InvContextToMsg(call.MetaData(), 5, &call.Context(), nullptr);
       },
       "List index out of bounds (5)"},
      {[](Converter& c, LookupCall& call) {
         c->InvContextToMsg(call.MetaData(), -1, &call.Context(), nullptr);
       },
       "List index out of bounds (-1)"},
      {[](Converter& c, LookupCall& call) {
         call.Context().SetParamPointer(1, nullptr);
         c->InvContextToMsg(call.MetaData(), 3, &call.Context(), nullptr);
       },
       "Parameter RgWsPublicBasicRt_out has no value to send"},
      {[](Converter& c, LookupCall& call) {
         TIntfMetaData md = call.MetaData();
         md.MDA[3].Params[2].Info = nullptr;
         c->InvContextToMsg(md, 3, &call.Context(), nullptr);
       },
       "Parameter arrayOfRgWsPublicFirmActRt_out on Method rgWsPublicAfmMethod of Interface "
       "RgWsPublic has no RTTI"},
      {[](Converter& c, LookupCall& call) {
         TIntfMetaData md = call.MetaData();
         md.MDA[3].Params[2].Info = &TypeInfo_TSerializationOptions;
         c->InvContextToMsg(md, 3, &call.Context(), nullptr);
       },
       "Datatype of TypeKind: Set not supported as argument for remote invocation"},
      {[](Converter& c, LookupCall& call) {
         TUnlistedHeader header;
         THeaderList headers(false);
         headers.Add(&header);
         RemTypeRegistry().SetAutoRegisterNativeTypes(false);
         struct Restore {
           ~Restore() { RemTypeRegistry().SetAutoRegisterNativeTypes(true); }
         } restore;
         c->InvContextToMsg(call.MetaData(), 3, &call.Context(), &headers);
       },
       "Remotable Type TUnlistedHeader not registered"},
  };
  for (const Case& c : cases) {
    LookupCall call(u"1", u"2");
    Converter conv;
    std::string message = "<no exception>";
    try {
      c.write(conv, call);
    } catch (const Exception& e) {
      message = Utf8(e.Message());
    }
    EXPECT_EQ(message, c.message);
    EXPECT_FALSE(conv->Options().Contains(soXXXXHdr));
  }
}

}  // namespace
}  // namespace delvan::soap
