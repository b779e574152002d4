// The XML operations of the travelling objects over a fake converter: what
// each class passes on, what it adds to the element, and the header
// attributes in both directions.
#include <gtest/gtest.h>

#include <vector>

#include "soap/SOAPConst.h"
#include "soap/SOAPHeader.h"
#include "soap/TypeRegistry.h"
#include "soap/XSBuiltIns.h"
#include "xml/XmlTestSupport.h"

namespace delvan::soap {
namespace {

using xml::IXMLNode;

class TRemPlain : public TRemotable {
  DELVAN_CLASS()
};
class TRemHdr : public TSOAPHeader {
  DELVAN_CLASS()
};
constinit const TClass TRemPlain::StaticClass =
    rtl::DefineClass<TRemPlain, TRemotable>(TRemPlain::StaticClass, u"TRemPlain", u"Tests.RemXml");
constinit const TClass TRemHdr::StaticClass =
    rtl::DefineClass<TRemHdr, TSOAPHeader>(TRemHdr::StaticClass, u"TRemHdr", u"Tests.RemXml");

// Records each call and writes a bare element as the real writer would.
class TFakeConverter : public TInterfacedImpl<IObjConverter> {
 public:
  struct Call {
    TObject* instance;
    UnicodeString name, ns, childNs;
    TObjectConvertOptions opts;
    UnicodeString refIdOnEntry;
  };
  std::vector<Call> writes;
  std::vector<TObject*> reads;
  TSOAPConvertOptions options;

  IntfPtr<IXMLNode> ObjInstanceToSOAP(TObject* Instance, IXMLNode*, IXMLNode* ParentNode,
                                      const UnicodeString& NodeName,
                                      const UnicodeString& NodeNamespace,
                                      const UnicodeString& ChildNamespace,
                                      TObjectConvertOptions ObjConvOpts,
                                      UnicodeString& RefID) override {
    writes.push_back({Instance, NodeName, NodeNamespace, ChildNamespace, ObjConvOpts, RefID});
    RefID.assign(1, u'7');  // not a literal: GCC 12 warns falsely on that assignment
    return ParentNode->AddChild(NodeName, NodeNamespace, !ObjConvOpts.Contains(ocoDontPrefixNode));
  }
  void InitObjectFromSOAP(TObject* Instance, IXMLNode*, IXMLNode*) override {
    reads.push_back(Instance);
  }
  void AddAttachment(TSOAPAttachment*, const UnicodeString&) override {}
  TSOAPAttachment* FindAttachment(const UnicodeString&) override { return nullptr; }
  void ResetMultiRef() override {}
  TSOAPConvertOptions GetOptions() override { return options; }
};

class RemotableXml : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::EnsureDOMVendor();
    RemClassRegistry().RegisterXSClass(&TRemHdr::StaticClass, u"urn:hdr", u"Hdr");
  }
  void SetUp() override { MakeEnvelope(0); }
  void MakeEnvelope(int soapVersion) {
    conv = new TFakeConverter();
    convRef = IntfPtr<IObjConverter>(conv);
    doc = xml::NewXMLDocument();
    const UnicodeString envNS(SOAPEnvelopeNamespaces[soapVersion]);
    env = doc->AddChild(u"SOAP-ENV:Envelope", envNS);
    header = env->AddChild(u"SOAP-ENV:Header", envNS);
  }
  TFakeConverter* conv = nullptr;
  IntfPtr<IObjConverter> convRef;
  IntfPtr<xml::IXMLDocument> doc;
  IntfPtr<IXMLNode> env, header;
};

TEST_F(RemotableXml, BaseAndScalarHolderHandTheJobOn) {
  TRemPlain plain;
  UnicodeString ref = u"stale";
  IntfPtr<IXMLNode> node = plain.ObjectToSOAP(header.get(), header.get(), conv, u"P", u"urn:p",
                                              u"urn:c", {ocoDontPrefixNode}, ref);
  ASSERT_EQ(conv->writes.size(), 1u);
  EXPECT_EQ(conv->writes[0].instance, &plain);
  EXPECT_EQ(conv->writes[0].refIdOnEntry, u"");  // cleared before the converter runs
  EXPECT_EQ(conv->writes[0].childNs, u"urn:c");
  EXPECT_EQ(conv->writes[0].opts, TObjectConvertOptions{ocoDontPrefixNode});
  EXPECT_EQ(ref, u"7");
  EXPECT_EQ(node->GetNodeName(), u"P");

  TXSDecimal dec;
  dec.XSToNative(u"12.50");
  node = dec.ObjectToSOAP(header.get(), header.get(), conv, u"D", u"", u"", {}, ref);
  EXPECT_EQ(conv->writes[1].opts, TObjectConvertOptions{ocoDontSerializeProps});
  EXPECT_EQ(node->GetText(), u"12.50");

  // Reading: the generic reader first, then the element's text.
  IntfPtr<IXMLNode> in = header->AddChild(u"In");
  in->SetText(u"2001-03-15");
  TXSDateTime dt;
  dt.SOAPToObject(header.get(), in.get(), conv);
  ASSERT_EQ(conv->reads.size(), 1u);
  EXPECT_EQ(conv->reads[0], &dt);
  EXPECT_EQ(dt.NativeToXS(), u"2001-03-15");
  plain.SOAPToObject(header.get(), in.get(), conv);
  EXPECT_EQ(conv->reads.size(), 2u);
}

TEST_F(RemotableXml, HeaderWritesItsAttributesInTheEnvelopeNamespace) {
  struct Case {
    bool mustUnderstand;
    const char16_t* actor;
    bool soap12;
    const char* xml;
  } cases[] = {
      {false, u"", false, "<NS1:Hdr xmlns:NS1=\"urn:hdr\"/>"},
      {true, u"", false, "<NS1:Hdr xmlns:NS1=\"urn:hdr\" SOAP-ENV:mustUnderstand=\"1\"/>"},
      {true, u"urn:me", false,
       "<NS1:Hdr xmlns:NS1=\"urn:hdr\" SOAP-ENV:mustUnderstand=\"1\" SOAP-ENV:actor=\"urn:me\"/>"},
      {false, u"a", true, "<NS1:Hdr xmlns:NS1=\"urn:hdr\" SOAP-ENV:actor=\"a\"/>"},
  };
  for (const Case& c : cases) {
    MakeEnvelope(c.soap12 ? 1 : 0);
    TRemHdr hdr;
    hdr.SetMustUnderstand(c.mustUnderstand);
    hdr.SetActor(c.actor);
    conv->options = c.soap12 ? TSOAPConvertOptions{soSOAP12} : TSOAPConvertOptions{};
    UnicodeString ref;
    IntfPtr<IXMLNode> node = hdr.ObjectToSOAP(header.get(), header.get(), conv, u"Hdr",
                                              u"urn:other", u"urn:child", {ocoDontPrefixNode}, ref);
    ASSERT_EQ(conv->writes.size(), 1u);
    EXPECT_EQ(conv->writes[0].ns, u"urn:hdr");  // the header namespace, not the one passed
    EXPECT_EQ(conv->writes[0].childNs, u"urn:child");
    EXPECT_TRUE(conv->writes[0].opts.IsEmpty());
    EXPECT_EQ(test::Utf8(node->GetXML()), c.xml);
  }
}

TEST_F(RemotableXml, HeaderReadsItsAttributesByLocalName) {
  struct Case {
    const char* element;
    bool mustUnderstand;
    const char16_t* actor;
  } cases[] = {
      {"<h xmlns:e=\"urn:e\" e:mustUnderstand=\"1\" e:actor=\"x\"/>", true, u"x"},
      {"<h mustUnderstand=\"TRUE\"/>", true, u"kept"},
      {"<h mustUnderstand=\"0\" actor=\"\"/>", false, u""},
      {"<h mustUnderstand=\"yes\"/>", false, u"kept"},
      {"<h xmlns:mustUnderstand=\"1\"/>", false, u"kept"},  // a declaration, not the attribute
      {"<h/>", false, u"kept"},
  };
  for (const Case& c : cases) {
    IntfPtr<xml::IXMLDocument> in = xml::NewXMLDocument(u"");
    in->LoadFromXML(test::U(c.element));
    TRemHdr hdr;
    hdr.SetMustUnderstand(true);
    hdr.SetActor(u"kept");
    hdr.SOAPToObject(in->GetDocumentElement().get(), in->GetDocumentElement().get(), conv);
    EXPECT_EQ(hdr.MustUnderstand(), c.mustUnderstand) << c.element;
    EXPECT_EQ(hdr.Actor(), c.actor) << c.element;
  }
  EXPECT_EQ(conv->reads.size(), std::size(cases));
}

}  // namespace
}  // namespace delvan::soap
