// The node model: namespaces on build and save, text and value rules,
// attributes, the declaration, parse failures, loading, live lists and
// lifetimes.
#include "xml/XMLDoc.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "xml/XmlTestSupport.h"

namespace delvan::test {
namespace {

using namespace delvan::xml;

constexpr UnicodeStringView kEnv = u"http://schemas.xmlsoap.org/soap/envelope/";
constexpr UnicodeStringView kXsi = u"http://www.w3.org/2001/XMLSchema-instance";

class XMLDoc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureDOMVendor(); }

  static std::string Saved(const IntfPtr<IXMLDocument>& doc) {
    TMemoryStream out;
    doc->SaveToStream(out);
    return std::string(out.View());
  }
  // Saves doc and reads the bytes back with a namespace-aware parser.
  static IntfPtr<IXMLDocument> RoundTrip(const IntfPtr<IXMLDocument>& doc) {
    TMemoryStream bytes(Saved(doc));
    IntfPtr<IXMLDocument> back = NewXMLDocument(u"");
    back->LoadFromStream(bytes);
    return back;
  }
  static UnicodeString Attrs(const IntfPtr<IXMLNode>& node) {
    UnicodeString out;
    IntfPtr<IXMLNodeList> attrs = node->GetAttributeNodes();
    for (int i = 0; i < attrs->GetCount(); ++i) {
      if (i) out += u' ';
      out += attrs->Get(i)->GetNodeName() + u"=" + attrs->Get(i)->GetText();
    }
    return out;
  }
};

TEST_F(XMLDoc, WorkedNamespaceCases) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument();
  IntfPtr<IXMLNode> a = doc->AddChild(u"p:A", u"urn:U");
  struct Case {
    IntfPtr<IXMLNode> node;
    UnicodeString name, uri, attrs;
  };
  const Case cases[] = {
      {a, u"p:A", u"urn:U", u"xmlns:p=urn:U"},
      {a->AddChild(u"p:B", u"urn:U"), u"p:B", u"urn:U", u""},
      {a->AddChild(u"C", u"urn:V"), u"C", u"urn:V", u"xmlns=urn:V"},
      {a->AddChild(u"C", u"urn:V", true), u"NS1:C", u"urn:V", u"xmlns:NS1=urn:V"},
      {a->AddChild(u"C", u"urn:V", true), u"NS2:C", u"urn:V", u"xmlns:NS2=urn:V"},
      {a->AddChild(u"C", u""), u"C", u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.node->GetNodeName(), c.name);
    EXPECT_EQ(c.node->GetNamespaceURI(), c.uri) << Utf8(c.name);
    EXPECT_EQ(Attrs(c.node), c.attrs) << Utf8(c.name);
  }
  EXPECT_EQ(Saved(doc),
            "<?xml version=\"1.0\"?><p:A xmlns:p=\"urn:U\"><p:B/><C xmlns=\"urn:V\"/>"
            "<NS1:C xmlns:NS1=\"urn:V\"/><NS2:C xmlns:NS2=\"urn:V\"/><C/></p:A>");
  EXPECT_EQ(ElementOutline(RoundTrip(doc)->GetDocumentElement()),
            ElementOutline(doc->GetDocumentElement()));
}

TEST_F(XMLDoc, NamespaceEdgeCases) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument();
  IntfPtr<IXMLNode> env = doc->AddChild(u"SOAP-ENV:Envelope", UnicodeString(kEnv));
  IntfPtr<IXMLNode> header = env->AddChild(u"Header");
  IntfPtr<IXMLNode> security = header->AddChild(u"Security");
  IntfPtr<IXMLNode> token = security->AddChild(u"UsernameToken");
  EXPECT_EQ(security->GetNodeName(), u"SOAP-ENV:Security");
  EXPECT_EQ(security->GetNamespaceURI(), kEnv);
  EXPECT_EQ(security->GetAttributeNodes()->GetCount(), 0);
  EXPECT_EQ(token->GetNodeName(), u"SOAP-ENV:UsernameToken");

  IntfPtr<IXMLNode> plain = env->AddChild(u"Plain", u"urn:U", false);
  EXPECT_EQ(plain->AddChild(u"Kid")->GetNamespaceURI(), u"urn:U");
  IntfPtr<IXMLNode> none = env->AddChild(u"None", u"");
  EXPECT_EQ(none->AddChild(u"Kid")->GetNamespaceURI(), u"");
  IntfPtr<IXMLNode> unbound = none->AddChild(u"q:Kid");
  EXPECT_EQ(unbound->GetNodeName(), u"q:Kid");
  EXPECT_EQ(unbound->GetNamespaceURI(), u"");
  none->GetChildNodes()->Remove(unbound.get());

  // An ancestor's declaration is found under any prefix; with GenPrefix the
  // unprefixed name takes that prefix, or stays when the declaration is a
  // default one. Declarations match URIs across ASCII case.
  IntfPtr<IXMLNode> found = env->AddChild(u"Body", UnicodeString(kEnv), false);
  EXPECT_EQ(found->GetNodeName(), u"Body");
  EXPECT_EQ(found->GetAttributeNodes()->GetCount(), 0);
  EXPECT_EQ(env->AddChild(u"Body2", UnicodeString(kEnv), true)->GetNodeName(), u"SOAP-ENV:Body2");
  EXPECT_EQ(plain->AddChild(u"Dflt", u"URN:u", true)->GetNodeName(), u"Dflt");
  EXPECT_TRUE(plain->FindNamespaceDecl(u"URN:U"));
  plain->DeclareNamespace(u"other", u"urn:u");
  EXPECT_FALSE(plain->HasAttribute(u"xmlns:other"));

  // The first generated prefix skips a number that is bound in scope.
  IntfPtr<IXMLDocument> gen = NewXMLDocument();
  IntfPtr<IXMLNode> root = gen->AddChild(u"r");
  root->DeclareNamespace(u"NS1", u"urn:taken");
  EXPECT_EQ(root->AddChild(u"x", u"urn:new", true)->GetNodeName(), u"NS2:x");

  // Attributes by namespace take the prefix declared for it in scope.
  header->SetAttributeNS(u"type", UnicodeString(kXsi), Variant(u"t"));
  EXPECT_TRUE(header->HasAttribute(u"type"));
  env->DeclareNamespace(u"xsi", UnicodeString(kXsi));
  token->SetAttributeNS(u"type", UnicodeString(kXsi), Variant(u"t"));
  EXPECT_TRUE(token->HasAttribute(u"xsi:type"));
  EXPECT_EQ(token->GetAttributeNS(u"type", UnicodeString(kXsi)).Text(), u"t");
  token->SetAttributeNS(u"type", UnicodeString(kXsi), Variant::Null());
  EXPECT_FALSE(token->HasAttribute(u"type", UnicodeString(kXsi)));

  EXPECT_EQ(ElementOutline(RoundTrip(doc)->GetDocumentElement()),
            ElementOutline(doc->GetDocumentElement()));
}

TEST_F(XMLDoc, RequestEnvelopeShapeSurvivesSaving) {
  const UnicodeString svc = u"http://rgws.registry.example/RgWsPublic";
  IntfPtr<IXMLDocument> doc = NewXMLDocument();
  IntfPtr<IXMLNode> env = doc->AddChild(u"SOAP-ENV:Envelope", UnicodeString(kEnv));
  env->DeclareNamespace(u"xsi", UnicodeString(kXsi));
  IntfPtr<IXMLNode> body = env->AddChild(u"Body");
  IntfPtr<IXMLNode> op = body->AddChild(u"rgWsPublicAfmMethod", svc, false);
  IntfPtr<IXMLNode> in = op->AddChild(u"RgWsPublicInputRt_in", u"");
  in->AddChild(u"afmCalledBy", svc)->SetText(u"123");
  IntfPtr<IXMLNode> stop = op->AddChild(u"RgWsPublicBasicRt_out", u"")->AddChild(u"stopDate", svc);
  stop->SetAttributeNS(u"nil", UnicodeString(kXsi), Variant(true));
  EXPECT_EQ(Saved(doc),
            "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
            "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><SOAP-ENV:Body>"
            "<rgWsPublicAfmMethod xmlns=\"http://rgws.registry.example/RgWsPublic\">"
            "<RgWsPublicInputRt_in xmlns=\"\"><afmCalledBy "
            "xmlns=\"http://rgws.registry.example/RgWsPublic\">123</afmCalledBy>"
            "</RgWsPublicInputRt_in><RgWsPublicBasicRt_out xmlns=\"\"><stopDate "
            "xmlns=\"http://rgws.registry.example/RgWsPublic\" xsi:nil=\"true\"/>"
            "</RgWsPublicBasicRt_out></rgWsPublicAfmMethod></SOAP-ENV:Body></SOAP-ENV:Envelope>");
  EXPECT_EQ(ElementOutline(RoundTrip(doc)->GetDocumentElement()),
            ElementOutline(doc->GetDocumentElement()));
}

TEST_F(XMLDoc, ElementTextIsItsSingleTextChild) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument();
  IntfPtr<IXMLNode> root = doc->AddChild(u"r");
  IntfPtr<IXMLNode> empty = root->AddChild(u"empty");
  EXPECT_EQ(empty->GetText(), u"");
  EXPECT_EQ(empty->GetChildNodes()->GetCount(), 1);  // the empty text child stays
  EXPECT_TRUE(empty->GetIsTextElement());
  // A child list taken before the text is set shows the new text node.
  IntfPtr<IXMLNode> filled = root->AddChild(u"filled");
  EXPECT_EQ(filled->GetChildNodes()->GetCount(), 0);
  filled->SetText(u"v");
  EXPECT_EQ(filled->GetChildNodes()->GetCount(), 1);
  EXPECT_EQ(filled->GetChildNodes()->Get(0)->GetText(), u"v");
  filled->SetText(u"w");
  EXPECT_EQ(filled->GetText(), u"w");

  IntfPtr<IXMLNode> two = root->AddChild(u"two");
  two->AddChild(u"a");
  two->AddChild(u"b");
  try {
    two->SetText(u"x");
    FAIL();
  } catch (const EXMLDocError& e) {
    EXPECT_EQ(e.Message(), u"Element \"two\" does not contain a single text node");
  }
  EXPECT_THROW(two->GetText(), EXMLDocError);

  IntfPtr<IXMLNode> cdata = root->AddChild(u"cdata");
  cdata->GetChildNodes()->Add(doc->CreateNode(u"old", ntCData).get());
  cdata->SetText(u"new");
  EXPECT_EQ(cdata->GetText(), u"new");
  EXPECT_FALSE(cdata->GetIsTextElement());
  EXPECT_EQ(cdata->GetChildNodes()->Get(0)->GetNodeType(), ntCData);
  EXPECT_EQ(Saved(doc),
            "<?xml version=\"1.0\"?><r><empty></empty><filled>w</filled><two><a/><b/></two>"
            "<cdata><![CDATA[new]]></cdata></r>");
}

TEST_F(XMLDoc, NodeValuesAsText) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument();
  IntfPtr<IXMLNode> n = doc->AddChild(u"r");
  struct Case {
    Variant value;
    UnicodeString text;
  };
  const Case cases[] = {
      {Variant(true), u"true"},
      {Variant(false), u"false"},
      {Variant(u"as is <&>"), u"as is <&>"},
      {Variant::Null(), u""},
      {Variant(), u""},
      {Variant(std::int32_t{-42}), u"-42"},
      {Variant(std::uint64_t{18446744073709551615u}), u"18446744073709551615"},
      {Variant(1.5), u"1.5"},
      {Variant(0.1), u"0.1"},
      {Variant(1e20), u"1E20"},
      {Variant(-1.25e-7), u"-1.25E-7"},
      {Variant(1.0 / 3), u"0.333333333333333"},
  };
  for (const Case& c : cases) {
    n->SetNodeValue(c.value);
    EXPECT_EQ(n->GetText(), c.text);
    Variant back = n->GetNodeValue();
    if (c.text.empty())
      EXPECT_TRUE(back.IsNull());
    else
      EXPECT_EQ(back.Text(), c.text);
  }
  IntfPtr<IXMLNode> fresh = n->AddChild(u"fresh");
  EXPECT_TRUE(fresh->GetNodeValue().IsNull());
  EXPECT_EQ(fresh->GetChildNodes()->GetCount(), 1);
  n->SetChildValue(Variant(u"made"), Variant(std::int32_t{7}));
  EXPECT_EQ(n->GetChildValue(Variant(u"made")).Text(), u"7");
  EXPECT_TRUE(n->GetChildValue(Variant(u"absent")).IsNull());
}

TEST_F(XMLDoc, AttributesByNameAndByNamespace) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument();
  IntfPtr<IXMLNode> r = doc->AddChild(u"r");
  r->SetAttribute(u"a", Variant(true));
  r->SetAttribute(u"b", Variant(std::int32_t{3}));
  EXPECT_EQ(r->GetAttribute(u"a").Text(), u"true");
  EXPECT_EQ(Attrs(r), u"a=true b=3");
  r->SetAttribute(u"a", Variant::Null());
  EXPECT_FALSE(r->HasAttribute(u"a"));
  EXPECT_TRUE(r->GetAttribute(u"a").IsNull());
  EXPECT_TRUE(r->GetAttributeNS(u"b", u"urn:none").IsNull());
  doc->SetOptions(doc->GetOptions().Exclude(doAttrNull));
  EXPECT_EQ(r->GetAttribute(u"a").VarType(), varUString);
  EXPECT_EQ(r->GetAttribute(u"a").Text(), u"");

  IntfPtr<IXMLNode> text = doc->CreateNode(u"t", ntText);
  for (auto op : std::initializer_list<std::function<void()>>{
           [&] { text->SetAttribute(u"x", Variant(u"1")); },
           [&] { text->SetAttributeNS(u"x", u"urn:x", Variant(u"1")); },
           [&] { text->GetAttributeNS(u"x", u"urn:x"); }}) {
    try {
      op();
      ADD_FAILURE();
    } catch (const EXMLDocError& e) {
      EXPECT_EQ(e.Message(), u"Attributes are not supported on this node type");
    }
  }
}

TEST_F(XMLDoc, DeclarationItems) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument(u"1.0");
  auto declaration = [&] {
    IntfPtr<IXMLNode> first = doc->GetChildNodes()->First();
    EXPECT_EQ(first->GetNodeType(), ntProcessingInstr);
    EXPECT_EQ(first->GetNodeName(), u"xml");
    return first->GetText();
  };
  EXPECT_EQ(declaration(), u"version=\"1.0\"");
  doc->SetEncoding(u"UTF-8");
  EXPECT_EQ(declaration(), u"version=\"1.0\" encoding=\"UTF-8\"");
  doc->AddChild(u"r");
  doc->SetStandAlone(u"yes");
  EXPECT_EQ(declaration(), u"version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"");
  doc->SetEncoding(u"");
  EXPECT_EQ(declaration(), u"version=\"1.0\" standalone=\"yes\"");
  EXPECT_EQ(doc->GetChildNodes()->GetCount(), 2);
  EXPECT_EQ(doc->GetVersion(), u"1.0");
  EXPECT_EQ(doc->GetEncoding(), u"");
  EXPECT_EQ(doc->GetStandAlone(), u"yes");

  IntfPtr<IXMLDocument> bare = NewXMLDocument(u"");
  EXPECT_EQ(bare->GetVersion(), u"");
  bare->LoadFromXML(UnicodeString(u"<?xml version='1.1' encoding='UTF-16'?><r/>"));
  EXPECT_EQ(bare->GetVersion(), u"1.1");
  EXPECT_EQ(bare->GetEncoding(), u"UTF-16");
  // Items read from a loaded declaration are kept when another one is set.
  bare->SetStandAlone(u"no");
  EXPECT_EQ(bare->GetChildNodes()->First()->GetText(),
            u"version=\"1.1\" encoding=\"UTF-16\" standalone=\"no\"");
}

TEST_F(XMLDoc, ParseFailuresHaveOneMessageLayoutAndLeaveTheDocumentInactive) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument();
  const UnicodeString longLine = u"<r>" + UnicodeString(60, u'x') + u"</q>";
  try {
    doc->LoadFromXML(u"<?xml version=\"1.0\"?>\n<a>\n" + longLine);
    FAIL();
  } catch (const EDOMParseError& e) {
    EXPECT_EQ(e.Message(), e.Reason() + u"\r\nLine: 3\r\n" + longLine.substr(0, 40));
    EXPECT_EQ(e.Reason(), u"mismatched tag");
    EXPECT_EQ(e.Line(), 3);
    EXPECT_EQ(e.SrcText(), longLine);
    EXPECT_GT(e.LinePos(), 60);
    EXPECT_NE(e.ErrorCode(), 0);
    EXPECT_GT(e.FilePos(), 0);
  }
  EXPECT_FALSE(doc->GetActive());
  try {
    doc->GetDocumentElement();
    FAIL();
  } catch (const EXMLDocError& e) {
    EXPECT_EQ(e.Message(), u"No active document");
  }
  TMemoryStream bad("<!DOCTYPE r><r/>");
  EXPECT_THROW(doc->LoadFromStream(bad), EDOMParseError);
  EXPECT_FALSE(doc->GetActive());
  try {
    doc->LoadFromFile();
    FAIL();
  } catch (const EXMLDocError& e) {
    EXPECT_EQ(e.Message(), u"FileName cannot be blank");
  }
}

TEST_F(XMLDoc, LoadingFromTextStreamsAndFiles) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument();
  struct Case {
    UnicodeString text;
    UnicodeString declaration;  // as kept in the tree
  };
  const Case cases[] = {
      {u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><r a='\u03A9'/>", u"version=\"1.0\""},
      {u"<?xml version=\"1.0\" encoding = 'ISO-8859-7' ?><r a='\u03A9'/>", u"version=\"1.0\""},
      {u"\uFEFF<?xml version=\"1.0\" encoding=\"windows-1253\"?><r a='\u03A9'/>",
       u"version=\"1.0\""},
      {u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><r a='\u03A9'/>",
       u"version=\"1.0\" encoding=\"UTF-16\""},
  };
  for (const Case& c : cases) {
    doc->LoadFromXML(c.text);
    EXPECT_EQ(doc->GetChildNodes()->First()->GetText(), c.declaration);
    EXPECT_EQ(doc->GetDocumentElement()->GetAttribute(u"a").Text(), u"\u03A9");
  }
  // The word in an element of a text without declaration is no item of it.
  doc->LoadFromXML(UnicodeString(u"<r encoding=\"latin\"/>"));
  EXPECT_EQ(doc->GetDocumentElement()->GetAttribute(u"encoding").Text(), u"latin");

  // A stream is read from its start whatever its position.
  TMemoryStream stream("<?xml version=\"1.0\" encoding=\"windows-1253\"?><r>\xD9</r>");
  stream.Seek(0, TSeekOrigin::soEnd);
  doc->LoadFromStream(stream, xetUTF_16LE);
  EXPECT_EQ(doc->GetDocumentElement()->GetText(), u"\u03A9");
  doc->LoadFromXML(AnsiString("<r>\xCE\xA9</r>", platform::CP_UTF8));
  EXPECT_EQ(doc->GetDocumentElement()->GetText(), u"\u03A9");
  EXPECT_EQ(doc->GetXML(), TXMLLines{u"<r>\u03A9</r>"});

  // UTF-8 text of a document declared in another encoding says so.
  doc->LoadFromXML(AnsiString("<?xml version=\"1.0\" encoding=\"ISO-8859-7\"?><r>\xD9</r>", 1253));
  AnsiString utf8;
  doc->SaveToXML(utf8);
  EXPECT_EQ(utf8.Bytes(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>\xCE\xA9</r>");

  const std::string path = ::testing::TempDir() + "xmldoc_test.xml";
  doc->SaveToFile(U(path));
  IntfPtr<IXMLDocument> fromFile = NewXMLDocument(u"");
  fromFile->LoadFromFile(U(path));
  EXPECT_EQ(fromFile->GetDocumentElement()->GetText(), u"\u03A9");
  EXPECT_FALSE(fromFile->GetModified());
  fromFile->GetDocumentElement()->SetText(u"changed");
  EXPECT_TRUE(fromFile->GetModified());
  fromFile->Refresh();
  EXPECT_EQ(fromFile->GetDocumentElement()->GetText(), u"\u03A9");
  std::remove(path.c_str());
  IntfPtr<IXMLDocument> fromText = NewXMLDocument();
  try {
    fromText->Refresh();
    FAIL();
  } catch (const EXMLDocError& e) {
    EXPECT_EQ(e.Message(), u"Refresh is only supported if the FileName or XML properties are set");
  }
  EXPECT_FALSE(fromText->GetActive());
}

TEST_F(XMLDoc, ChildListsStayLiveOverTheDOM) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument();
  IntfPtr<IXMLNode> r = doc->AddChild(u"s:r", u"urn:S");
  IntfPtr<IXMLNodeList> kids = r->GetChildNodes();
  auto domNames = [&] {
    std::string out;
    IntfPtr<IDOMNodeList> dom = r->GetDOMNode()->get_childNodes();
    for (int i = 0; i < dom->get_length(); ++i) out += Utf8(dom->get_item(i)->get_nodeName()) + ",";
    return out;
  };
  auto listNames = [&] {
    std::string out;
    for (int i = 0; i < kids->GetCount(); ++i) out += Utf8(kids->Get(i)->GetNodeName()) + ",";
    return out;
  };
  r->AddChild(u"b");
  r->AddChild(u"a", 0);
  kids->Insert(1, doc->CreateElement(u"m", u"urn:S").get());
  EXPECT_EQ(domNames(), "s:a,m,s:b,");
  EXPECT_EQ(listNames(), domNames());
  kids->Delete(u"m");
  kids->ReplaceNode(kids->Get(0).get(), doc->CreateElement(u"s:z", u"urn:S").get());
  EXPECT_EQ(domNames(), "s:z,s:b,");
  EXPECT_EQ(listNames(), domNames());
  kids->Add(kids->Get(0).get());  // moving within the list
  EXPECT_EQ(domNames(), "s:b,s:z,");
  EXPECT_EQ(listNames(), domNames());

  // Finding by local or qualified name, in the owner's namespace only.
  EXPECT_TRUE(kids->FindNode(u"z"));
  EXPECT_TRUE(kids->FindNode(u"s:z"));
  kids->Add(doc->CreateElement(u"other", u"urn:O").get());
  EXPECT_FALSE(kids->FindNode(u"other"));
  EXPECT_TRUE(kids->FindNode(u"other", u"urn:O"));
  EXPECT_EQ(kids->IndexOf(u"z"), 1);
  EXPECT_EQ(kids->FindSibling(kids->Get(0).get(), 1)->GetNodeName(), u"s:z");
  EXPECT_EQ(kids->Get(1)->PreviousSibling()->GetNodeName(), u"s:b");

  // Automatic creation by name, never by position.
  IntfPtr<IXMLNode> made = kids->GetNode(Variant(u"made"));
  EXPECT_EQ(made->GetNodeName(), u"s:made");
  EXPECT_EQ(kids->GetCount(), 4);
  EXPECT_THROW(kids->GetNode(Variant(std::int32_t{4})), EXMLDocError);
  EXPECT_EQ(kids->GetCount(), 4);
  doc->SetOptions(doc->GetOptions().Exclude(doNodeAutoCreate));
  try {
    kids->GetNode(Variant(u"nope"));
    FAIL();
  } catch (const EXMLDocError& e) {
    EXPECT_EQ(e.Message(), u"Node \"nope\" not found");
  }
  doc->SetOptions(doc->GetOptions().Include(doNodeAutoCreate));
  EXPECT_THROW(doc->GetChildNodes()->GetNode(Variant(u"second")), EXMLDocError);

  // Changes behind the list drop it; the next request rebuilds it.
  IntfPtr<IXMLNode> t = r->AddChild(u"t");
  t->GetChildNodes()->Add(doc->CreateNode(u"x", ntText).get());
  t->GetChildNodes()->Add(doc->CreateNode(u"y", ntText).get());
  t->Normalize();
  EXPECT_EQ(t->GetChildNodes()->GetCount(), 1);
  EXPECT_EQ(t->GetText(), u"xy");

  // Under BeginUpdate only the list changes.
  kids->BeginUpdate();
  kids->Delete(0);
  kids->EndUpdate();
  EXPECT_EQ(r->GetDOMNode()->get_childNodes()->get_length(), kids->GetCount() + 1);
  r->Resync();
  kids = r->GetChildNodes();
  kids->Clear();
  EXPECT_FALSE(r->GetHasChildNodes());

  // The document element is found behind a trailing comment.
  doc->GetChildNodes()->Add(doc->CreateNode(u"c", ntComment).get());
  EXPECT_EQ(doc->GetDocumentElement()->GetNodeName(), u"s:r");
  IntfPtr<IXMLNode> other = doc->CreateElement(u"new", u"");
  doc->SetDocumentElement(other.get());
  EXPECT_EQ(doc->GetDocumentElement()->GetNodeName(), u"new");
}

TEST_F(XMLDoc, NodesOutliveDocumentsAndParents) {
  IntfPtr<IXMLNode> leaf;
  IntfPtr<IXMLNode> root;
  {
    IntfPtr<IXMLDocument> doc = NewXMLDocument();
    root = doc->AddChild(u"r");
    leaf = root->AddChild(u"a")->AddChild(u"b");
  }
  // The document element keeps its document alive.
  ASSERT_TRUE(root->GetOwnerDocument());
  EXPECT_EQ(root->GetOwnerDocument()->GetDocumentElement()->GetNodeName(), u"r");
  root.reset();
  // Without it the document goes; the leaf forgets it and its parent.
  EXPECT_FALSE(leaf->GetOwnerDocument());
  EXPECT_EQ(leaf->GetXML(), u"<b/>");
  EXPECT_TRUE(leaf->GetAttribute(u"x").IsNull());

  // An owned document dies with its owner, not with its count.
  auto owner = std::make_unique<TComponent>();
  auto* owned = new TXMLDocument(owner.get());
  IntfPtr<IXMLDocument> ref(owned);
  ref->SetActive(true);
  IntfPtr<IXMLNode> kept = ref->AddChild(u"r");
  ref.reset();
  EXPECT_TRUE(kept->GetOwnerDocument());
  owner.reset();
  EXPECT_FALSE(kept->GetOwnerDocument());
  kept.reset();

  // A wrapper tree far deeper than any parsed one is freed without recursion.
  IntfPtr<IXMLDocument> deep = NewXMLDocument();
  IntfPtr<IXMLNode> at = deep->AddChild(u"d");
  for (int i = 0; i < 100'000; ++i) at = at->AddChild(u"d");
  at.reset();
  deep.reset();
}

// Lists of a loaded document mirror every DOM child in order; a list kept
// past its owner still looks names up in the owner's namespace; nodes kept
// from before a reload still find the declarations of their own tree.
TEST_F(XMLDoc, KeptListsAndNodesOfAnEarlierLoad) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument(u"");
  doc->LoadFromXML(UnicodeString(
      u"<p:r xmlns:p=\"urn:P\" xmlns:q=\"urn:Q\">t<p:a/><!--c--><q:b/><p:c>x</p:c></p:r>"));
  IntfPtr<IXMLNode> root = doc->GetDocumentElement();
  IntfPtr<IXMLNode> leaf = root->GetChildNodes()->Get(4);
  IntfPtr<IXMLNodeList> kids = root->GetChildNodes();
  std::string names;
  for (int i = 0; i < kids->GetCount(); ++i) names += Utf8(kids->Get(i)->GetNodeName()) + ",";
  EXPECT_EQ(names, "#text,p:a,#comment,q:b,p:c,");

  doc->LoadFromXML(UnicodeString(u"<other/>"));
  EXPECT_TRUE(kids->FindNode(u"a"));
  EXPECT_FALSE(kids->FindNode(u"b"));
  EXPECT_TRUE(kids->FindNode(u"b", u"urn:Q"));
  IntfPtr<IXMLNodeList> orphan;
  {
    IntfPtr<IXMLDocument> other = NewXMLDocument();
    IntfPtr<IXMLNode> owner = other->AddChild(u"s:o", u"urn:S");
    owner->AddChild(u"x");
    orphan = owner->GetChildNodes();
  }
  EXPECT_TRUE(orphan->FindNode(u"x"));
  EXPECT_FALSE(orphan->FindNode(u"x", u"urn:T"));

  ASSERT_EQ(leaf->GetNodeName(), u"p:c");
  IntfPtr<IXMLNode> decl = leaf->FindNamespaceDecl(u"URN:q");
  ASSERT_TRUE(decl);
  EXPECT_EQ(decl->GetNodeName(), u"xmlns:q");
  EXPECT_EQ(leaf->AddChild(u"d", u"urn:Q", true)->GetNodeName(), u"q:d");
  EXPECT_FALSE(doc->GetDocumentElement()->FindNamespaceDecl(u"urn:Q"));
}

// Children and texts appended to the document's own nodes (which its DOM
// appends without handing the node back) and to nodes kept from before a
// reload (appended the general way) make the same trees.
TEST_F(XMLDoc, AppendsToNodesOfThisAndOfAnEarlierLoad) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument(u"");
  doc->LoadFromXML(UnicodeString(u"<r><old/></r>"));
  IntfPtr<IXMLNode> kept = doc->GetDocumentElement()->GetChildNodes()->Get(0);
  doc->LoadFromXML(UnicodeString(u"<r><new/></r>"));
  IntfPtr<IXMLNode> own = doc->GetDocumentElement()->GetChildNodes()->Get(0);
  for (IXMLNode* node : {own.get(), kept.get()}) {
    SCOPED_TRACE(Utf8(node->GetNodeName()));
    node->AddChild(u"a")->SetText(u"x<&y");
    node->AddChild(u"b")->SetText(u"");
    node->AddChild(u"c", 0)->SetText(u"first");
    IntfPtr<IXMLNode> d = node->AddChild(u"d");
    d->SetText(u"1");
    d->SetText(u"2");  // the text child is changed, not added to
    const std::string name = Utf8(node->GetNodeName());
    EXPECT_EQ(Utf8(node->GetXML()),
              "<" + name + "><c>first</c><a>x&lt;&amp;y</a><b></b><d>2</d></" + name + ">");
    EXPECT_EQ(node->GetChildNodes()->GetCount(), 4);
    EXPECT_EQ(node->GetChildNodes()->Get(1)->GetText(), u"x<&y");
  }
  EXPECT_EQ(Utf8(doc->GetDocumentElement()->GetXML()).find("<r><new><c>first</c>"), 0u);
}

// A wrapper made for a child ahead of the child list is the one the list
// holds when it is built while the wrapper lives: found by index, by its
// siblings and by the list. One that died or moved before is not.
TEST_F(XMLDoc, ChildWrappersMadeAheadOfTheList) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument(u"");
  auto children = [&](const char16_t* xml, std::array<IDOMNode*, 3>& kids) {
    doc->LoadFromXML(UnicodeString(xml));
    TXMLNode* root = NodeObject(doc->GetDocumentElement().get());
    IDOMNodeQuery* q = root->ChildQuestions();
    EXPECT_NE(q, nullptr);
    if (q) {
      EXPECT_EQ(q->childNodes(root->DOMNodeRef(), 0, kids.data(), 3), 3);
    }
    return root;
  };
  std::array<IDOMNode*, 3> kids{};
  TXMLNode* root = children(u"<r><a/><b/><c/></r>", kids);
  IntfPtr<IXMLNode> a = root->WrapChildForList(kids[0]);
  IntfPtr<IXMLNode> b = root->WrapChildForList(kids[1]);  // a stays a wrapper of its own
  EXPECT_EQ(b->GetParentNode().get(), doc->GetDocumentElement().get());
  IntfPtr<IXMLNode> next = b->NextSibling();  // builds the list
  ASSERT_TRUE(next);
  EXPECT_EQ(next->GetNodeName(), u"c");
  EXPECT_EQ(b->PreviousSibling()->GetNodeName(), u"a");
  IntfPtr<IXMLNodeList> list = root->GetChildNodes();
  EXPECT_EQ(list->IndexOf(b.get()), 1);
  EXPECT_EQ(list->Get(1).get(), b.get());
  EXPECT_EQ(list->IndexOf(a.get()), -1);

  // Dead before the list is built: the list makes its own.
  root = children(u"<r><a/><b/><c/></r>", kids);
  IntfPtr<IXMLNode> gone = root->WrapChildForList(kids[2]);
  gone = nullptr;
  EXPECT_EQ(root->GetChildNodes()->Get(2)->GetNodeName(), u"c");

  // Moved to another parent: its old parent's list does not take it in,
  // and its death later touches neither parent.
  root = children(u"<r><a/><b/><c/></r>", kids);
  IntfPtr<IXMLNode> moved = root->WrapChildForList(kids[0]);
  IntfPtr<IXMLNode> other = NewXMLDocument(u"")->AddChild(u"o");
  other->GetChildNodes()->Add(moved.get());
  EXPECT_EQ(Utf8(other->GetXML()), "<o><a/></o>");
  IntfPtr<IXMLNodeList> rest = root->GetChildNodes();
  ASSERT_EQ(rest->GetCount(), 2);
  EXPECT_EQ(rest->IndexOf(moved.get()), -1);
  moved = nullptr;
  EXPECT_EQ(Utf8(other->GetXML()), "<o><a/></o>");
  EXPECT_EQ(rest->Get(0)->GetNodeName(), u"b");
}

// A leaf added in one call makes the same tree, the same reports and the
// same failures as AddChild followed by SetAttributeNS and SetText, whether
// it goes into the DOM alone or through the child list.
TEST_F(XMLDoc, LeavesAddedInOneCallAsByTheGeneralCalls) {
  struct Leaf {
    const char16_t* name;
    UnicodeStringView uri;
    const char16_t* text;  // null: no text
    const char16_t* attr;  // null: no attribute
    UnicodeStringView attrURI;
  };
  const UnicodeString kT = u"urn:t";
  const Leaf leaves[] = {
      {u"plain", u"", u"a<&b", nullptr, u""},
      {u"empty", u"", u"", nullptr, u""},
      {u"none", u"", nullptr, nullptr, u""},
      {u"declared", kXsi, u"x", nullptr, u""},  // in scope as xsi
      {u"undeclared", kT, u"y", nullptr, u""},  // declared on itself
      {u"p:prefixed", kT, u"z", nullptr, u""},  // as xmlns:p on itself
      {u"nil", kT, nullptr, u"nil", kXsi},      // xsi:nil beside its own declaration
      {u"own", kT, u"w", u"flag", kT},          // an attribute in its own namespace
      {u"p:ownp", kT, nullptr, u"flag", kT},
  };
  std::vector<TNodeChange> seen[2];
  auto build = [&](bool oneCall, bool listFirst, bool handler) {
    auto* raw = new TXMLDocument;
    IntfPtr<IXMLDocument> doc(raw);
    const int side = oneCall ? 1 : 0;
    seen[side].clear();
    if (handler)
      raw->AfterNodeChange = [&, side](IXMLNode*, TNodeChange c) { seen[side].push_back(c); };
    doc->SetActive(true);
    IntfPtr<IXMLNode> root = doc->AddChild(u"r", UnicodeString(kEnv));
    root->DeclareNamespace(u"xsi", UnicodeString(kXsi));
    IntfPtr<IXMLNode> parent = root->AddChild(u"p", UnicodeString(), false);
    if (listFirst) parent->GetChildNodes();
    for (const Leaf& l : leaves) {
      const UnicodeString text = l.text ? UnicodeString(l.text) : UnicodeString();
      const UnicodeString attr = l.attr ? UnicodeString(l.attr) : UnicodeString();
      if (oneCall) {
        NodeObject(parent.get())
            ->AddLeafChild(l.name, UnicodeString(l.uri), false, l.text ? &text : nullptr, attr,
                           UnicodeString(l.attrURI), u"1");
      } else {
        IntfPtr<IXMLNode> c = parent->AddChild(l.name, UnicodeString(l.uri), false);
        if (l.attr) c->SetAttributeNS(attr, UnicodeString(l.attrURI), Variant(u"1"));
        if (l.text) c->SetText(text);
      }
    }
    EXPECT_TRUE(doc->GetModified());
    // Added afterwards through the list, after the leaves.
    parent->AddChild(u"last")->SetText(u"end");
    EXPECT_EQ(parent->GetChildNodes()->GetCount(), 10);
    EXPECT_EQ(parent->GetChildNodes()->Get(0)->GetText(), u"a<&b");
    return Utf8(doc->GetDocumentElement()->GetXML());
  };
  for (bool listFirst : {false, true})
    for (bool handler : {false, true}) {
      SCOPED_TRACE(std::string(listFirst ? "list first" : "no list") +
                   (handler ? ", handler" : ""));
      const std::string general = build(false, listFirst, handler);
      EXPECT_EQ(build(true, listFirst, handler), general);
      EXPECT_EQ(seen[1], seen[0]);
      EXPECT_NE(general.find("<undeclared xmlns=\"urn:t\">y</undeclared>"), std::string::npos)
          << general;
      EXPECT_NE(general.find("<nil xmlns=\"urn:t\" xsi:nil=\"1\"/>"), std::string::npos) << general;
    }

  // A read-only parent refuses the leaf before anything changes.
  IntfPtr<IXMLDocument> doc = NewXMLDocument(u"");
  IntfPtr<IXMLNode> r = doc->AddChild(u"r");
  r->SetReadOnly(true);
  const UnicodeString text = u"t";
  EXPECT_THROW(NodeObject(r.get())->AddLeafChild(u"a", UnicodeString(), false, &text),
               EXMLDocError);
  EXPECT_EQ(Utf8(r->GetXML()), "<r/>");
}

// Whether a node has attributes, its names shown without a copy and the
// text of an element of one text child: the
// same answers from the DOM's own storage and, for nodes kept from before a
// reload (which the document's DOM no longer knows), the general way.
TEST_F(XMLDoc, AttributePresenceAndNamesWithoutCopies) {
  IntfPtr<IXMLDocument> doc = NewXMLDocument(u"");
  UnicodeString many, expected;
  for (int i = 0; i < 40; ++i) {
    UnicodeString name(i % 3 ? u"k" : u"#text");
    if (i % 3) {
      name += rtl::IntToStr(i);
      many.append(u"<").append(name).append(u"/>");
    } else {
      many += u't';
    }
    expected.append(name).append(u",");
  }
  doc->LoadFromXML(
      u"<p:r xmlns:p=\"urn:P\"><p:a x=\"1\"/><b>t</b><p:longerElementName/>"
      u"<c p:y=\"2\"/><d><![CDATA[x]]></d><e>t<f/></e><g>" +
      many + u"</g></p:r>");
  IntfPtr<IXMLNode> root = doc->GetDocumentElement();
  IntfPtr<IXMLNodeList> kids = root->GetChildNodes();
  IntfPtr<IXMLNode> gained = kids->Get(2);
  gained->SetAttribute(u"z", Variant(u"3"));
  IntfPtr<IXMLNode> lost = kids->Get(3);
  lost->SetAttributeNS(u"y", u"urn:P", Variant::Null());
  struct Case {
    IntfPtr<IXMLNode> node;
    bool hasAttributes;
    UnicodeStringView local, uri;
    bool textElement = false;
  };
  const Case cases[] = {
      {root, true, u"r", u"urn:P"},  // a declaration is an attribute
      {kids->Get(0), true, u"a", u"urn:P"},
      {kids->Get(1), false, u"b", u"", true},
      {kids->Get(1)->GetChildNodes()->Get(0), false, u"", u""},  // text
      {gained, true, u"longerElementName", u"urn:P"},
      {lost, false, u"c", u""},
      {kids->Get(4), false, u"d", u""},  // CDATA is no text child here
      {kids->Get(5), false, u"e", u""},
      {kids->Get(0)->GetAttributeNodes()->Get(0), false, u"x", u""},
      {doc->GetDocumentNode(), false, u"", u""},
  };
  IntfPtr<IXMLNode> longList = kids->Get(6);
  for (int pass = 0; pass < 2; ++pass) {
    longList->Resync();  // the list is built again from the DOM
    IntfPtr<IXMLNodeList> all = longList->GetChildNodes();
    UnicodeString names;
    for (int i = 0; i < all->GetCount(); ++i) names += all->Get(i)->GetNodeName() + u",";
    EXPECT_EQ(names, expected);
    for (const Case& c : cases) {
      SCOPED_TRACE(Utf8(c.node->GetNodeName()) + (pass ? " after the reload" : ""));
      EXPECT_EQ(c.node->GetHasAttributes(), c.hasAttributes);
      UnicodeString scratch1, scratch2;
      EXPECT_EQ(c.node->GetLocalNameView(scratch1), c.local);
      EXPECT_EQ(c.node->GetNamespaceURIView(scratch2), c.uri);
      EXPECT_EQ(c.node->GetLocalName(), c.local);
      EXPECT_EQ(c.node->GetNamespaceURI(), c.uri);
      UnicodeString text = u"untouched";
      EXPECT_EQ(c.node->GetIsTextElement(), c.textElement);
      EXPECT_EQ(c.node->ReadTextElement(text), c.textElement);
      EXPECT_EQ(text, c.textElement ? u"t" : u"untouched");
    }
    doc->LoadFromXML(UnicodeString(u"<other a=\"1\"/>"));
  }
}

// Wrapper blocks are reused per thread: a wrapper made on one thread and
// dropped on another, and many more than a thread keeps at once, come back
// whole; a thread's kept blocks go with it (the leak check sees the rest).
TEST_F(XMLDoc, WrappersReusedAcrossThreadsKeepTheirNodes) {
  auto build = [](int n) {
    IntfPtr<IXMLDocument> doc = NewXMLDocument();
    IntfPtr<IXMLNode> root = doc->AddChild(u"r");
    for (int i = 0; i < n; ++i) root->AddChild(u"c")->SetText(rtl::IntToStr(i));
    return root;
  };
  auto check = [](const IntfPtr<IXMLNode>& root, int n) {
    IntfPtr<IXMLNodeList> children = root->GetChildNodes();
    ASSERT_EQ(children->GetCount(), n);
    for (int i = 0; i < n; ++i) ASSERT_EQ(children->Get(i)->GetText(), rtl::IntToStr(i)) << i;
  };
  IntfPtr<IXMLNode> made;
  std::thread([&] { made = build(1000); }).join();
  check(made, 1000);
  made.reset();  // its blocks join this thread's list
  IntfPtr<IXMLNode> again = build(1000);
  std::thread([&] {
    check(again, 1000);
    again.reset();
    IntfPtr<IXMLNode> local = build(10);
    check(local, 10);
  }).join();
  check(build(3), 3);
}

TEST_F(XMLDoc, ChangeCounterAndNodeChangeCallbacks) {
  auto* raw = new TXMLDocument;
  IntfPtr<IXMLDocument> doc(raw);
  std::vector<TNodeChange> seen;
  raw->AfterNodeChange = [&](IXMLNode*, TNodeChange c) { seen.push_back(c); };
  doc->SetActive(true);
  EXPECT_FALSE(doc->GetModified());
  IntfPtr<IXMLNode> r = doc->AddChild(u"r");
  r->SetAttribute(u"a", Variant(u"1"));
  r->SetText(u"t");
  EXPECT_TRUE(doc->GetModified());
  EXPECT_EQ(seen, (std::vector<TNodeChange>{ncInsertChild, ncAddAttribute, ncUpdateValue}));
  TMemoryStream out;
  doc->SaveToStream(out);
  EXPECT_FALSE(doc->GetModified());
  r->SetReadOnly(true);
  try {
    r->SetText(u"u");
    FAIL();
  } catch (const EXMLDocError& e) {
    EXPECT_EQ(e.Message(), u"Node is readonly");
  }
  EXPECT_THROW(doc->CreateNode(u"x", ntDocument), EXMLDocError);
}

TEST(XMLNames, SplitJoinAndCompare) {
  EXPECT_TRUE(IsPrefixed(u"a:b"));
  EXPECT_FALSE(IsPrefixed(u"ab"));
  EXPECT_EQ(ExtractPrefix(u"a:b:c"), u"a");
  EXPECT_EQ(ExtractLocalName(u"a:b:c"), u"b:c");
  EXPECT_EQ(ExtractLocalName(u"ab"), u"ab");
  EXPECT_EQ(MakeNodeName(u"", u"x"), u"x");
  EXPECT_EQ(MakeNodeName(u"p", u"x"), u"p:x");
  EXPECT_TRUE(SameNamespace(u"", u""));
  EXPECT_TRUE(SameNamespace(u"URN:A", u"urn:a"));
  EXPECT_FALSE(SameNamespace(u"", u"urn:a"));
  EXPECT_FALSE(SameNamespace(u"urn:\u00C4", u"urn:\u00E4"));
}

}  // namespace
}  // namespace delvan::test
