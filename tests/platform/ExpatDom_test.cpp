// The DOM of our own over expat, through the vendor-neutral interfaces:
// parse errors, encodings, hostile input, namespaces on parse and save,
// escaping, live lists and node lifetime.
#include "platform/posix/ExpatDom.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "xml/DOMNodeQuery.h"
#include "xml/DOMTreeEdit.h"
#include "xml/XmlTestSupport.h"

namespace delvan::test {
namespace {

using namespace delvan::xml;

class ExpatDom : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EnsureDOMVendor(); }

  IntfPtr<IDOMDocument> NewDoc() { return GetDOM()->createDocument(u"", u"", nullptr); }

  // Parses bytes; fails the test with the parser's reason when it refuses.
  IntfPtr<IDOMDocument> Parse(std::string_view bytes, bool preserveWhiteSpace = false) {
    IntfPtr<IDOMDocument> doc = NewDoc();
    QueryIntf<IDOMParseOptions>(doc)->set_preserveWhiteSpace(preserveWhiteSpace);
    TMemoryStream in(bytes);
    if (!QueryIntf<IDOMPersist>(doc)->loadFromStream(in))
      ADD_FAILURE() << Utf8(QueryIntf<IDOMParseError>(doc)->get_reason());
    return doc;
  }

  // The parse error of bytes that must be refused.
  IntfPtr<IDOMParseError> Refuse(std::string_view bytes) {
    IntfPtr<IDOMDocument> doc = NewDoc();
    TMemoryStream in(bytes);
    EXPECT_FALSE(QueryIntf<IDOMPersist>(doc)->loadFromStream(in)) << bytes.substr(0, 80);
    EXPECT_FALSE(doc->hasChildNodes());
    return QueryIntf<IDOMParseError>(doc);
  }

  static std::string Save(IDOMDocument* doc) {
    TMemoryStream out;
    QueryIntf<IDOMPersist>(doc)->saveToStream(out);
    return std::string(out.View());
  }
};

std::string Outline(IDOMNode* node) {
  std::string out;
  std::vector<std::pair<IntfPtr<IDOMNode>, int>> stack{{IntfPtr<IDOMNode>(node), 0}};
  while (!stack.empty()) {
    auto [n, depth] = stack.back();
    stack.pop_back();
    out.append(2 * depth, ' ').append(Utf8(n->get_nodeName()));
    out.append(" {").append(Utf8(n->get_namespaceURI())).append("}");
    if (IntfPtr<IDOMNamedNodeMap> attrs = n->get_attributes())
      for (int i = 0; i < attrs->get_length(); ++i) {
        IntfPtr<IDOMNode> a = attrs->get_item(i);
        out.append(" ").append(Utf8(a->get_nodeName())).append("{");
        out.append(Utf8(a->get_namespaceURI())).append("}=").append(Utf8(a->get_nodeValue()));
      }
    out += "\n";
    IntfPtr<IDOMNodeList> kids = n->get_childNodes();
    for (int i = kids->get_length() - 1; i >= 0; --i)
      if (kids->get_item(i)->get_nodeType() == ELEMENT_NODE)
        stack.emplace_back(kids->get_item(i), depth + 1);
  }
  return out;
}

TEST_F(ExpatDom, ParseErrorsTellReasonLineAndSourceLine) {
  struct Case {
    std::string_view xml;
    int line;
    std::string srcText;
    std::string reasonHas;
  };
  const Case cases[] = {
      {"<a>\n  <b></a>", 2, "  <b></a>", "mismatched tag"},
      {"<a>\r\n<b x='1' x='2'/></a>", 2, "<b x='1' x='2'/></a>", "duplicate attribute"},
      {"<p:a/>", 1, "<p:a/>", "undeclared namespace prefix: 'p'"},
      {"<a xmlns:p='urn:x'><p:b/><q:c/></a>", 1, "<a xmlns:p='urn:x'><p:b/><q:c/></a>", "'q'"},
      {"<a xmlns:p=''/>", 1, "<a xmlns:p=''/>", "Invalid namespace declaration"},
      {"<p:b:c/>", 1, "<p:b:c/>", "'p:b:c' is not valid with namespaces"},
      {"<a b:='1'/>", 1, "<a b:='1'/>", "'b:' is not valid with namespaces"},
      {"<a :b='1'/>", 1, "<a :b='1'/>", "':b' is not valid with namespaces"},
      {"<a>\n<b>\n", 3, "", "no element found"},
      {"<a>&undefined;</a>", 1, "<a>&undefined;</a>", "undefined entity"},
      {"", 1, "", "no element found"},
  };
  for (const Case& c : cases) {
    IntfPtr<IDOMParseError> e = Refuse(c.xml);
    EXPECT_NE(e->get_errorCode(), 0) << c.xml;
    EXPECT_EQ(e->get_line(), c.line) << c.xml;
    EXPECT_GE(e->get_linepos(), 1) << c.xml;
    EXPECT_EQ(Utf8(e->get_srcText()), c.srcText) << c.xml;
    EXPECT_NE(Utf8(e->get_reason()).find(c.reasonHas), std::string::npos)
        << c.xml << ": " << Utf8(e->get_reason());
  }
  // The position points into the offending line.
  IntfPtr<IDOMParseError> e = Refuse("<a>\n  <b></a>");
  EXPECT_EQ(e->get_linepos(), 8);
  EXPECT_EQ(e->get_filepos(), 11);  // at the name of the end tag
}

TEST_F(ExpatDom, ReadsEachSupportedEncoding) {
  struct Case {
    std::string name;
    std::string bytes;
    UnicodeString text;
  };
  auto decl = [](std::string enc, std::string body) {
    return "<?xml version=\"1.0\" encoding=\"" + enc + "\"?><a>" + body + "</a>";
  };
  auto utf16 = [](std::u16string_view text, bool le) {
    std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t c : text) {
      char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
      out += le ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
  };
  const Case cases[] = {
      {"UTF-8 undeclared", "<a>\xCE\xA9\xE2\x82\xAC</a>", u"\u03A9\u20AC"},
      {"UTF-8 declared", decl("UTF-8", "\xCE\xA9"), u"\u03A9"},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF<a>\xCE\xA9</a>", u"\u03A9"},
      {"UTF-8 sequence bounds",
       "<a>\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBD</a>",
       u"\u0080\u07FF\u0800\uD7FF\uE000\uFFFD"},
      {"UTF-8 four bytes", "<a>x\xCE\xA9\xF0\x9F\x98\x80</a>", u"x\u03A9\U0001F600"},
      {"UTF-16LE", utf16(u"<a>\u03A9\u20AC</a>", true), u"\u03A9\u20AC"},
      {"UTF-16BE declared", utf16(u"<?xml version='1.0' encoding='UTF-16'?><a>\u03A9</a>", false),
       u"\u03A9"},
      {"US-ASCII", decl("US-ASCII", "plain"), u"plain"},
      {"ISO-8859-1", decl("ISO-8859-1", "caf\xE9"), u"caf\u00E9"},
      {"windows-1252", decl("windows-1252", "\x80\xE9"), u"\u20AC\u00E9"},
      {"windows-1253", decl("windows-1253", "\xD9\xE1\xA2"), u"\u03A9\u03B1\u0386"},
      {"ISO-8859-7", decl("ISO-8859-7", "\xD9\xE1\xB6"), u"\u03A9\u03B1\u0386"},
  };
  for (const Case& c : cases) {
    IntfPtr<IDOMDocument> doc = Parse(c.bytes);
    ASSERT_TRUE(doc->get_documentElement()) << c.name;
    EXPECT_EQ(QueryIntf<IDOMNodeEx>(doc->get_documentElement())->get_text(), c.text) << c.name;
  }
  // A declaration that disagrees with the bytes is refused, not misread.
  EXPECT_NE(Refuse(utf16(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", true))->get_errorCode(),
            0);
  EXPECT_NE(Refuse(decl("UTF-8", "\xD9\xE1"))->get_errorCode(), 0);
  EXPECT_NE(Refuse(decl("KOI8-R", "x"))->get_errorCode(), 0);
  // The source line of a failure is shown in the document's own encoding.
  EXPECT_EQ(Refuse(decl("windows-1253", "\xD9<"))->get_srcText(),
            u"<?xml version=\"1.0\" encoding=\"windows-1253\"?><a>\u03A9<</a>");
}

TEST_F(ExpatDom, RefusesDocumentTypesAndSoEveryEntityBombOrExternalEntity) {
  const std::string bomb =
      "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
      "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
      "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">"
      "<!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">"
      "<!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">"
      "<!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">"
      "<!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">"
      "<!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">"
      "<!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">]>"
      "<lolz>&lol9;</lolz>";
  const std::string external =
      "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r>&x;</r>";
  const std::string parameter =
      "<!DOCTYPE r [<!ENTITY % p SYSTEM \"http://127.0.0.1:9/x.dtd\"> %p;]><r/>";
  for (const std::string& xml : {std::string("<!DOCTYPE r><r/>"), bomb, external, parameter}) {
    IntfPtr<IDOMParseError> e = Refuse(xml);
    EXPECT_NE(Utf8(e->get_reason()).find("document type declaration is not allowed"),
              std::string::npos)
        << xml.substr(0, 40);
  }
}

// Documents parsed one after another on a thread share its parser: no
// state of a parse (an encoding, a failure, a stop mid-document) may carry
// over into the next.
TEST_F(ExpatDom, EachParseStartsAfresh) {
  const std::string greek = "<?xml version=\"1.0\" encoding=\"windows-1253\"?><a>\xD9</a>";
  const std::string late = "<a>\n<b>x</b>\n<b></c></a>";
  const std::string first = Utf8(Refuse(late)->get_reason());
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(QueryIntf<IDOMNodeEx>(Parse(greek)->get_documentElement())->get_text(), u"\u03A9");
    IntfPtr<IDOMParseError> e = Refuse(late);
    EXPECT_EQ(Utf8(e->get_reason()), first);
    EXPECT_EQ(e->get_line(), 3);
    EXPECT_EQ(e->get_srcText(), u"<b></c></a>");
    Refuse("<!DOCTYPE r><r/>");
    Refuse("<p:a/>");
    // Undeclared, the bytes are UTF-8 again; a name bound before is not.
    EXPECT_EQ(QueryIntf<IDOMNodeEx>(Parse("<a>\xCE\xA9</a>")->get_documentElement())->get_text(),
              u"\u03A9");
    EXPECT_EQ(Outline(Parse("<x:a xmlns:x=\"urn:x\"/>").get()),
              "#document {}\n  x:a {urn:x} xmlns:x{http://www.w3.org/2000/xmlns/}=urn:x\n");
    Refuse("<x:a/>");
  }
  // A message small enough for the thread's parser whose declarations grow
  // its lists beyond what a thread keeps, then a small one: both read whole.
  std::string many = "<r";
  for (int i = 0; i < 3000; ++i)
    many += " xmlns:n" + std::to_string(i) + "=\"u" + std::to_string(i) + "\"";
  many += "><n2999:e n0:a=\"1\">t</n2999:e></r>";
  ASSERT_LT(many.size(), 64u * 1024);
  IntfPtr<IDOMDocument> big = Parse(many);
  EXPECT_EQ(big->get_documentElement()->get_attributes()->get_length(), 3000);
  EXPECT_EQ(Outline(big->get_documentElement()->get_firstChild().get()),
            "n2999:e {u2999} n0:a{u0}=1\n");
  EXPECT_EQ(
      Outline(Parse("<x:a xmlns:x=\"urn:x\"><x:b>t</x:b></x:a>")->get_documentElement().get()),
      "x:a {urn:x} xmlns:x{http://www.w3.org/2000/xmlns/}=urn:x\n  x:b {urn:x}\n");
  Refuse("<n0:a/>");
}

// Saves one after another on a thread share the writer's lists and output
// buffer: a save reads the same as the first save on a new thread, after a
// large document, one in UTF-16 and one refused for its encoding.
TEST_F(ExpatDom, EachSaveStartsAfresh) {
  const std::string small = "<p:a xmlns:p=\"urn:p\"><b>\xCE\xA9</b><p:c/></p:a>";
  std::string fresh;
  std::thread([&] { fresh = Save(Parse(small).get()); }).join();
  std::string large = "<r xmlns=\"urn:r\">";
  for (int i = 0; i < 20000; ++i) large += "<e>x</e>";
  large += "</r>";
  EXPECT_EQ(Save(Parse(large).get()).size(), large.size());
  EXPECT_EQ(Save(Parse(small).get()), fresh);
  auto declared = [&](const char16_t* encoding) {
    IntfPtr<IDOMDocument> d = Parse("<a/>");
    d->insertBefore(IntfPtr<IDOMNode>(
                        d->createProcessingInstruction(u"xml", u"version=\"1.0\" encoding=\"" +
                                                                   UnicodeString(encoding) + u"\""))
                        .get(),
                    d->get_firstChild().get());
    return d;
  };
  EXPECT_EQ(Save(declared(u"UTF-16").get()).substr(0, 4), std::string("\xFF\xFE<\0", 4));
  EXPECT_EQ(Save(Parse(small).get()), fresh);
  IntfPtr<IDOMDocument> bad = declared(u"KOI8-R");
  EXPECT_THROW(Save(bad.get()), DOMException);
  EXPECT_EQ(Save(Parse(small).get()), fresh);
}

TEST_F(ExpatDom, RefusesNestingDeeperThanTheLimit) {
  // Nesting up to the limit is read; one level more is refused, and so is
  // a hundred thousand levels, without recursion anywhere.
  auto nested = [](std::size_t depth) {
    std::string s;
    s.reserve(depth * 7);
    for (std::size_t i = 0; i < depth; ++i) s += "<e>";
    for (std::size_t i = 0; i < depth; ++i) s += "</e>";
    return s;
  };
  IntfPtr<IDOMDocument> deepest = Parse(nested(platform::posix::kMaxParseDepth));
  EXPECT_EQ(Save(deepest.get()).size(), (platform::posix::kMaxParseDepth - 1) * 7 + 4);
  for (std::size_t depth : {platform::posix::kMaxParseDepth + 1, std::size_t{100000}}) {
    IntfPtr<IDOMParseError> e = Refuse(nested(depth));
    EXPECT_NE(Utf8(e->get_reason()).find("nested more deeply"), std::string::npos);
    EXPECT_EQ(e->get_line(), 1);
  }
}

TEST_F(ExpatDom, ReadsLongDocumentsWhateverSpansThePiecesTheParserTakes) {
  // A 50 MB document is read whole: 50 000 elements of 1 000 characters.
  {
    std::string big = "<big>";
    const std::string item = "<i>" + std::string(993, 'x') + "</i>";
    big.reserve(50'000 * item.size() + 16);
    for (int i = 0; i < 50'000; ++i) big += item;
    big += "</big>";
    IntfPtr<IDOMDocument> doc = Parse(big);
    IntfPtr<IDOMNodeList> items = doc->get_documentElement()->get_childNodes();
    ASSERT_EQ(items->get_length(), 50'000);
    EXPECT_EQ(items->get_item(49'999)->get_firstChild()->get_nodeValue().size(), 993u);
    EXPECT_EQ(Save(doc.get()), big);
  }
  // Tokens far longer than a piece, and two-byte characters at odd
  // offsets, so that one of them straddles every boundary: an attribute
  // value, a comment and a text of 3 MB each.
  {
    const std::string greek = "\xCE\xB1";  // U+03B1
    std::string filler = "a";
    for (int i = 0; i < 1'500'000; ++i) filler += greek;
    const std::string xml = "<r v='" + filler + "'><!--" + filler + "-->" + filler + "</r>";
    IntfPtr<IDOMDocument> doc = Parse(xml);
    UnicodeString expected(1'500'001, u'\u03B1');
    expected[0] = u'a';
    IntfPtr<IDOMElement> root = doc->get_documentElement();
    EXPECT_EQ(root->getAttribute(u"v"), expected);
    EXPECT_EQ(root->get_firstChild()->get_nodeValue(), expected);
    EXPECT_EQ(root->get_lastChild()->get_nodeValue(), expected);
  }
  // An error megabytes in is told at its line, with its source line.
  {
    std::string xml = "<r>\n";
    for (int i = 0; i < 100'000; ++i) xml += "<i>0123456789</i>\n";
    xml += "<bad></r>";
    IntfPtr<IDOMParseError> e = Refuse(xml);
    EXPECT_EQ(e->get_line(), 100'002);
    EXPECT_EQ(Utf8(e->get_srcText()), "<bad></r>");
    EXPECT_EQ(e->get_filepos(), static_cast<std::int32_t>(xml.size()) - 2);
  }
}

TEST_F(ExpatDom, ParsingResolvesNamespacesAndKeepsDeclarationsAsAttributes) {
  IntfPtr<IDOMDocument> doc = Parse(
      "<?xml version=\"1.0\" standalone=\"yes\"?>"
      "<s:Env xmlns:s=\"urn:s\" z=\"1\" xmlns=\"urn:d\" s:a=\"2\" xml:lang=\"el\">"
      "  <Body><x:op xmlns:x=\"urn:x\" x:t=\"3\"/><In xmlns=\"\"><Deep/></In></Body></s:Env>");
  IntfPtr<IDOMNode> decl = doc->get_firstChild();
  EXPECT_EQ(decl->get_nodeType(), PROCESSING_INSTRUCTION_NODE);
  EXPECT_EQ(decl->get_nodeName(), u"xml");
  EXPECT_EQ(decl->get_nodeValue(), u"version=\"1.0\" standalone=\"yes\"");
  EXPECT_EQ(Outline(doc->get_documentElement().get()),
            "s:Env {urn:s} xmlns:s{http://www.w3.org/2000/xmlns/}=urn:s z{}=1 "
            "xmlns{http://www.w3.org/2000/xmlns/}=urn:d s:a{urn:s}=2 "
            "xml:lang{http://www.w3.org/XML/1998/namespace}=el\n"
            "  Body {urn:d}\n"
            "    x:op {urn:x} xmlns:x{http://www.w3.org/2000/xmlns/}=urn:x x:t{urn:x}=3\n"
            "    In {} xmlns{http://www.w3.org/2000/xmlns/}=\n"
            "      Deep {}\n");
  IntfPtr<IDOMNode> xmlnsS = doc->get_documentElement()->get_attributes()->get_item(0);
  EXPECT_EQ(xmlnsS->get_prefix(), u"xmlns");
  EXPECT_EQ(xmlnsS->get_localName(), u"s");
  // White space alone between elements is dropped, kept when asked for.
  EXPECT_EQ(doc->get_documentElement()->get_childNodes()->get_length(), 1);
  IntfPtr<IDOMDocument> kept = Parse("<a> <b/> </a>", true);
  EXPECT_EQ(kept->get_documentElement()->get_childNodes()->get_length(), 3);
}

// Element names are found by their bytes with the namespace they resolved
// to; the answer must follow every change of the bindings in scope, within
// a document and from one document to the next, and elements with and
// without attributes must read alike.
TEST_F(ExpatDom, NamesResolveUnderTheBindingsInScopeAtEveryElement) {
  struct Case {
    std::string xml;
    std::string outline;
  };
  const Case cases[] = {
      {"<r><e/><x xmlns=\"urn:x\"><e/><e a=\"1\"/></x><e/></r>",
       "r {}\n  e {}\n  x {urn:x} xmlns{http://www.w3.org/2000/xmlns/}=urn:x\n    e {urn:x}\n"
       "    e {urn:x} a{}=1\n  e {}\n"},
      {"<p:r xmlns:p=\"urn:1\"><p:e/><q xmlns:p=\"urn:2\"><p:e/></q><p:e p:a=\"2\"/></p:r>",
       "p:r {urn:1} xmlns:p{http://www.w3.org/2000/xmlns/}=urn:1\n  p:e {urn:1}\n"
       "  q {} xmlns:p{http://www.w3.org/2000/xmlns/}=urn:2\n    p:e {urn:2}\n"
       "  p:e {urn:1} p:a{urn:1}=2\n"},
      // The same names in the next document, bound otherwise.
      {"<p:r xmlns:p=\"urn:3\"><p:e/></p:r>",
       "p:r {urn:3} xmlns:p{http://www.w3.org/2000/xmlns/}=urn:3\n  p:e {urn:3}\n"},
      {"<r xmlns=\"urn:d\"><e/><e xmlns=\"\"/><e/></r>",
       "r {urn:d} xmlns{http://www.w3.org/2000/xmlns/}=urn:d\n  e {urn:d}\n"
       "  e {} xmlns{http://www.w3.org/2000/xmlns/}=\n  e {urn:d}\n"},
      {"<e/>", "e {}\n"},
      // A name too long for the cache resolves the same way.
      {"<p:" + std::string(60, 'n') + " xmlns:p=\"urn:l\"/>",
       "p:" + std::string(60, 'n') + " {urn:l} xmlns:p{http://www.w3.org/2000/xmlns/}=urn:l\n"},
  };
  for (int round = 0; round < 2; ++round)
    for (const Case& c : cases)
      EXPECT_EQ(Outline(Parse(c.xml)->get_documentElement().get()), c.outline) << c.xml;
  // A name seen bound is refused where it is not, and one refused before
  // is read once bound.
  Refuse("<p:e/>");
  EXPECT_EQ(Outline(Parse("<p:e xmlns:p=\"urn:1\"/>")->get_documentElement().get()),
            "p:e {urn:1} xmlns:p{http://www.w3.org/2000/xmlns/}=urn:1\n");
  Refuse("<r><p:e/></r>");
  // Two attributes of one local name in one namespace, under two prefixes,
  // are one attribute twice; in two namespaces they are two.
  IntfPtr<IDOMParseError> twice =
      Refuse("<a xmlns:p=\"urn:u\" xmlns:q=\"urn:u\" p:x=\"1\" q:x=\"2\"/>");
  EXPECT_NE(Utf8(twice->get_reason()).find("appears twice in one namespace"), std::string::npos);
  EXPECT_EQ(Outline(Parse("<a xmlns:p=\"urn:u\" xmlns:q=\"urn:v\" p:x=\"1\" q:x=\"2\" x=\"3\"/>")
                        ->get_documentElement()
                        .get()),
            "a {} xmlns:p{http://www.w3.org/2000/xmlns/}=urn:u "
            "xmlns:q{http://www.w3.org/2000/xmlns/}=urn:v p:x{urn:u}=1 q:x{urn:v}=2 x{}=3\n");
}

// Character data as parsed and saved again: ASCII, Greek, runs split by
// references and sections, white space alone, each byte-exact.
TEST_F(ExpatDom, TextReadsAndSavesByteExact) {
  const std::string kGreek =
      "\xCE\xA7\xCE\x9F\xCE\x9D\xCE\x94\xCE\xA1\xCE\x95"
      "\xCE\x9C\xCE\xA0\xCE\x9F\xCE\xA1\xCE\x99\xCE\x9F";
  struct Case {
    std::string xml;
    UnicodeString text;
    std::string saved;
  };
  const Case cases[] = {
      {"<a>WHOLESALE TRADE</a>", u"WHOLESALE TRADE", "<a>WHOLESALE TRADE</a>"},
      {"<a>1</a>", u"1", "<a>1</a>"},
      {"<a>" + kGreek + "</a>",
       u"\u03A7\u039F\u039D\u0394\u03A1\u0395\u039C\u03A0\u039F\u03A1\u0399\u039F",
       "<a>" + kGreek + "</a>"},
      {"<a>ascii then \xCE\xA9 then ascii</a>", u"ascii then \u03A9 then ascii",
       "<a>ascii then \xCE\xA9 then ascii</a>"},
      {"<a>&quot;\xCE\x94&quot; &amp; &lt;x&gt; &#x3A9;</a>", u"\"\u0394\" & <x> \u03A9",
       "<a>\"\xCE\x94\" &amp; &lt;x&gt; \xCE\xA9</a>"},
      {"<a>x<![CDATA[<y>]]>z</a>", u"x<y>z", "<a>x<![CDATA[<y>]]>z</a>"},
      {"<a> <b> </b> t </a>", u" t ", "<a><b/> t </a>"},
      {"<a>" + std::string(300, 'x') + "</a>", UnicodeString(300, u'x'),
       "<a>" + std::string(300, 'x') + "</a>"},
  };
  for (const Case& c : cases) {
    IntfPtr<IDOMDocument> doc = Parse(c.xml);
    EXPECT_EQ(QueryIntf<IDOMNodeEx>(doc->get_documentElement())->get_text(), c.text) << c.xml;
    EXPECT_EQ(Save(doc.get()), c.saved) << c.xml;
  }
}

TEST_F(ExpatDom, SavedTextReadsBackToTheSameValues) {
  const UnicodeString values[] = {
      u"a<b>c&d", u"quote \" and 'apos'", u"tab\tnew\nline\rcr",
      u"]]> end", u"\u03A9 \U0001F600",   u"",
  };
  for (const UnicodeString& v : values) {
    IntfPtr<IDOMDocument> doc = NewDoc();
    IntfPtr<IDOMElement> root = doc->createElement(u"r");
    doc->appendChild(root.get());
    root->setAttribute(u"v", v);
    root->appendChild(IntfPtr<IDOMNode>(doc->createTextNode(v)).get());
    IntfPtr<IDOMElement> c = doc->createElement(u"c");
    root->appendChild(c.get());
    // A reader turns a carriage return in a CDATA section into a line feed.
    UnicodeString cdata = v;
    std::erase(cdata, u'\r');
    c->appendChild(IntfPtr<IDOMNode>(doc->createCDATASection(cdata)).get());
    IntfPtr<IDOMDocument> back = Parse(Save(doc.get()), true);
    IntfPtr<IDOMElement> r = back->get_documentElement();
    EXPECT_EQ(r->getAttribute(u"v"), v);
    EXPECT_EQ(QueryIntf<IDOMNodeEx>(r->get_lastChild())->get_text(), cdata);
    if (!v.empty()) {
      EXPECT_EQ(r->get_firstChild()->get_nodeValue(), v);
    }
  }
  // Exact form: declaration first, nothing added around it.
  IntfPtr<IDOMDocument> doc = Parse("<?xml version=\"1.0\"?><a x=\"1\"><!--c--><?pi d?><b/></a>");
  EXPECT_EQ(Save(doc.get()), "<?xml version=\"1.0\"?><a x=\"1\"><!--c--><?pi d?><b/></a>");
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(doc->get_documentElement())->get_xml(),
            u"<a x=\"1\"><!--c--><?pi d?><b/></a>");
}

TEST_F(ExpatDom, SavingDeclaresNamespacesTheTreeLeavesUnbound) {
  struct Case {
    const char* what;
    std::function<void(IDOMDocument*)> build;
    std::string saved;
  };
  const Case cases[] = {
      {"prefixed element without declaration",
       [](IDOMDocument* d) {
         d->appendChild(IntfPtr<IDOMNode>(d->createElementNS(u"urn:u", u"p:a")).get());
       },
       "<p:a xmlns:p=\"urn:u\"/>"},
      {"no namespace inside a default one, then back in it",
       [](IDOMDocument* d) {
         IntfPtr<IDOMElement> op = d->createElementNS(u"urn:s", u"op");
         op->setAttributeNS(UnicodeString(kXMLNSNamespaceURI), u"xmlns", u"urn:s");
         d->appendChild(op.get());
         IntfPtr<IDOMElement> in = d->createElement(u"in");
         op->appendChild(in.get());
         in->appendChild(IntfPtr<IDOMNode>(d->createElementNS(u"urn:s", u"v")).get());
         in->appendChild(IntfPtr<IDOMNode>(d->createElementNS(u"urn:s", u"w")).get());
       },
       "<op xmlns=\"urn:s\"><in xmlns=\"\"><v xmlns=\"urn:s\"/><w xmlns=\"urn:s\"/></in></op>"},
      {"declarations in the tree are used, not repeated",
       [](IDOMDocument* d) {
         IntfPtr<IDOMElement> e = d->createElementNS(u"urn:e", u"e:Env");
         e->setAttributeNS(UnicodeString(kXMLNSNamespaceURI), u"xmlns:e", u"urn:e");
         e->setAttributeNS(UnicodeString(kXMLNSNamespaceURI), u"xmlns:i", u"urn:i");
         d->appendChild(e.get());
         IntfPtr<IDOMElement> b = d->createElementNS(u"urn:e", u"e:Body");
         e->appendChild(b.get());
         b->setAttributeNS(u"urn:i", u"i:nil", u"true");
       },
       "<e:Env xmlns:e=\"urn:e\" xmlns:i=\"urn:i\"><e:Body i:nil=\"true\"/></e:Env>"},
      {"prefixed attribute without declaration",
       [](IDOMDocument* d) {
         IntfPtr<IDOMElement> a = d->createElement(u"a");
         a->setAttributeNS(u"urn:t", u"t:x", u"1");
         d->appendChild(a.get());
       },
       "<a t:x=\"1\" xmlns:t=\"urn:t\"/>"},
      {"one prefix rebound below",
       [](IDOMDocument* d) {
         IntfPtr<IDOMElement> a = d->createElementNS(u"urn:1", u"p:a");
         d->appendChild(a.get());
         a->appendChild(IntfPtr<IDOMNode>(d->createElementNS(u"urn:2", u"p:b")).get());
       },
       "<p:a xmlns:p=\"urn:1\"><p:b xmlns:p=\"urn:2\"/></p:a>"},
      {"a URI declared again and again, escaped every time it needs it",
       [](IDOMDocument* d) {
         IntfPtr<IDOMElement> r = d->createElement(u"r");
         d->appendChild(r.get());
         for (const char16_t* uri : {u"urn:\"q\"&", u"urn:c", u"urn:\"q\"&", u"urn:c"})
           r->appendChild(IntfPtr<IDOMNode>(d->createElementNS(uri, u"p:x")).get());
       },
       "<r><p:x xmlns:p=\"urn:&quot;q&quot;&amp;\"/><p:x xmlns:p=\"urn:c\"/>"
       "<p:x xmlns:p=\"urn:&quot;q&quot;&amp;\"/><p:x xmlns:p=\"urn:c\"/></r>"},
  };
  for (const Case& c : cases) {
    IntfPtr<IDOMDocument> doc = NewDoc();
    c.build(doc.get());
    const std::string saved = Save(doc.get());
    EXPECT_EQ(saved, c.saved) << c.what;
    // A namespace-aware reader finds every name in the namespace it was
    // made in; only declarations may differ.
    IntfPtr<IDOMDocument> back = Parse(saved);
    auto strip = [](std::string s) {
      std::string out;
      std::size_t at = 0;
      for (std::size_t x; (x = s.find(" xmlns", at)) != std::string::npos;) {
        out += s.substr(at, x - at);
        at = s.find_first_of(" \n", x + 1);
      }
      return out + s.substr(at);
    };
    EXPECT_EQ(strip(Outline(back->get_documentElement().get())),
              strip(Outline(doc->get_documentElement().get())))
        << c.what;
  }
}

TEST_F(ExpatDom, SavesInTheDeclaredEncoding) {
  auto doc = Parse("<?xml version=\"1.0\" encoding=\"windows-1253\"?><a v=\"\xD9\">\xE1</a>");
  IntfPtr<IDOMElement> root = doc->get_documentElement();
  root->appendChild(IntfPtr<IDOMNode>(doc->createTextNode(u"\u20AC\u4E2D")).get());
  EXPECT_EQ(Save(doc.get()),
            "<?xml version=\"1.0\" encoding=\"windows-1253\"?><a v=\"\xD9\">\xE1\x80&#x4E2D;</a>");
  auto latin = Parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>");
  latin->get_documentElement()->appendChild(
      IntfPtr<IDOMNode>(latin->createTextNode(u"\u03A9")).get());
  EXPECT_EQ(Save(latin.get()), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9&#x3A9;</a>");
  auto declared = [&](const char16_t* data) {
    IntfPtr<IDOMDocument> d = NewDoc();
    d->appendChild(IntfPtr<IDOMNode>(d->createProcessingInstruction(u"xml", data)).get());
    d->appendChild(IntfPtr<IDOMNode>(d->createElement(u"a")).get());
    return d;
  };
  auto wide = declared(u"version=\"1.0\" encoding=\"UTF-16\"");
  EXPECT_EQ(Save(wide.get()).substr(0, 4), std::string("\xFF\xFE<\0", 4));
  EXPECT_TRUE(Parse(Save(wide.get()))->get_documentElement());
  auto odd = declared(u"version=\"1.0\" encoding=\"KOI8-R\"");
  EXPECT_THROW(Save(odd.get()), DOMException);
}

TEST_F(ExpatDom, ListsAndMapsFollowEveryChange) {
  IntfPtr<IDOMDocument> doc = Parse("<r a=\"1\"><x/><y/></r>");
  IntfPtr<IDOMElement> r = doc->get_documentElement();
  IntfPtr<IDOMNodeList> kids = r->get_childNodes();
  IntfPtr<IDOMNamedNodeMap> attrs = r->get_attributes();
  IntfPtr<IDOMNode> z = doc->createElement(u"z");
  r->insertBefore(z.get(), kids->get_item(1).get());
  ASSERT_EQ(kids->get_length(), 3);
  EXPECT_EQ(kids->get_item(1)->get_nodeName(), u"z");
  r->removeChild(kids->get_item(0).get());
  EXPECT_EQ(kids->get_item(0)->get_nodeName(), u"z");
  EXPECT_EQ(kids->get_item(0)->get_nextSibling()->get_nodeName(), u"y");
  r->setAttribute(u"b", u"2");
  r->setAttributeNS(UnicodeString(kXMLNSNamespaceURI), u"xmlns:q", u"urn:q");
  r->setAttribute(u"a", u"3");
  ASSERT_EQ(attrs->get_length(), 3);
  EXPECT_EQ(attrs->get_item(0)->get_nodeValue(), u"3");  // a keeps its place
  EXPECT_EQ(attrs->get_item(2)->get_localName(), u"q");
  r->removeAttribute(u"a");
  EXPECT_EQ(attrs->get_length(), 2);
  EXPECT_FALSE(r->hasAttributeNS(u"urn:none", u"b"));
  EXPECT_EQ(r->getAttributeNS(u"urn:none", u"b"), u"");
  // Moving a node takes it out of its old place; a cycle or a second root
  // is refused.
  IntfPtr<IDOMNode> y = kids->get_item(1);
  z->appendChild(y.get());
  EXPECT_EQ(kids->get_length(), 1);
  EXPECT_THROW(y->appendChild(r.get()), DOMException);
  // A node is its own ancestor too, with or without children of its own.
  IntfPtr<IDOMNode> lone = doc->createElement(u"l");
  EXPECT_THROW(lone->appendChild(lone.get()), DOMException);
  EXPECT_THROW(z->appendChild(z.get()), DOMException);
  EXPECT_FALSE(lone->hasChildNodes());
  EXPECT_THROW(doc->appendChild(IntfPtr<IDOMNode>(doc->createElement(u"r2")).get()), DOMException);
  EXPECT_THROW(r->insertBefore(z.get(), nullptr), DOMException);
}

// The node list changes shape (empty, one node in place, a block) as it
// grows and shrinks; order must survive every change. The nodes are never
// touched, so addresses stand in for them.
TEST(ExpatDomNodeVector, KeepsOrderAcrossEveryShape) {
  alignas(8) static char slots[8 * 8];
  auto node = [](int i) { return reinterpret_cast<platform::posix::TXNode*>(slots + 8 * i); };
  auto order = [&](const platform::posix::TXNodeVector& v) {
    std::string s;
    for (auto* n : v) s += static_cast<char>('0' + (reinterpret_cast<char*>(n) - slots) / 8);
    return s;
  };
  platform::posix::TXNodeVector v;
  EXPECT_TRUE(v.empty());
  v.push_back(node(1));
  EXPECT_EQ(order(v), "1");
  v.erase(v.begin());
  EXPECT_TRUE(v.empty());
  v.push_back(node(2));
  v.insert(v.begin(), node(1));  // one node in place, then a block
  v.insert(v.end(), node(4));
  v.insert(v.begin() + 2, node(3));
  v.push_back(node(5));  // past the first block's room
  EXPECT_EQ(order(v), "12345");
  EXPECT_EQ(v.back(), node(5));
  EXPECT_EQ(v.pop_back(), node(5));
  v.erase(v.begin() + 1);
  EXPECT_EQ(order(v), "134");
  while (!v.empty()) v.pop_back();
  EXPECT_EQ(v.size(), 0u);
  v.push_back(node(6));
  EXPECT_EQ(order(v), "6");
  platform::posix::TXNodeVector one;
  one.push_back(node(7));
  EXPECT_EQ(one.pop_back(), node(7));
  EXPECT_TRUE(one.empty());
}

// A value changes shape (in place, in an arena, on the heap) as it is set
// and extended, also from a part of itself; its text survives every change.
TEST(ExpatDomValue, KeepsItsTextAcrossEveryShape) {
  static const char16_t arena[] = u"text in an arena block";
  platform::posix::TXValue v;
  v.Refer(arena, 22);
  EXPECT_EQ(v.View(), u"text in an arena block");
  EXPECT_EQ(v.Assign(v.View().substr(5, 5)), arena);  // in place, the arena text handed back
  EXPECT_EQ(v.View(), u"in an");
  EXPECT_FALSE(v.InArena());
  EXPECT_EQ(v.Append(u" arena block, now on the heap"), nullptr);
  EXPECT_EQ(v.View(), u"in an arena block, now on the heap");
  v.Assign(v.View().substr(3));  // within its own heap buffer
  EXPECT_EQ(v.View(), u"an arena block, now on the heap");
  v.Assign(v.View().substr(0, 2));  // from the heap back in place
  EXPECT_EQ(v.View(), u"an");
  UnicodeString expected = u"an";
  for (int i = 0; i < 2000; ++i) {
    const UnicodeString piece(1 + i % 3, static_cast<char16_t>(u'a' + i % 26));
    v.Append(piece);
    expected += piece;
  }
  EXPECT_EQ(v.View(), expected);
  v.Assign(u"");
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(v.str(), u"");
}

// Parsed texts, attribute values and child lists live in the document's
// arena until an edit moves them to the heap: every reader sees the same
// text before and after every edit, a list grows past its room, and nodes
// outlive their documents in any order (the sanitizer build checks use
// after free and leaks).
TEST_F(ExpatDom, ParsedTextsAndListsReadBackAcrossEveryEdit) {
  const std::string tText = "Long text &amp; &#x3B1;\xCE\xB2 split by references";
  const UnicodeString tValue = u"Long text & \u03B1\u03B2 split by references";
  const std::string items = "<i>1</i><i>2</i><i>3</i><i>4</i>";
  std::string many;
  for (int i = 0; i < 40; ++i) many += "<m>" + std::to_string(i) + "</m>";
  const std::string xml = "<r a=\"attribute value of some length\" b=\"short\"><t>" + tText +
                          "</t><four>" + items +
                          "</four><three><i>1</i><i>2</i><i>3</i></three><many>" + many +
                          "</many><c><![CDATA[a section <of> some length]]>" +
                          "<!--a comment of some length--></c></r>";
  IntfPtr<IDOMDocument> doc = Parse(xml);
  IntfPtr<IDOMElement> r = doc->get_documentElement();
  IntfPtr<IDOMNodeList> kids = r->get_childNodes();
  IntfPtr<IDOMNode> t = kids->get_item(0), four = kids->get_item(1), three = kids->get_item(2),
                    manyList = kids->get_item(3), c = kids->get_item(4);
  IntfPtr<IDOMNode> text = t->get_firstChild();
  EXPECT_EQ(text->get_nodeValue(), tValue);
  UnicodeStringView view;
  EXPECT_EQ(QueryIntf<IDOMNodeQuery>(doc)->onlyTextChild(t.get(), view), 1);
  EXPECT_EQ(view, tValue);
  EXPECT_EQ(r->getAttribute(u"a"), u"attribute value of some length");
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(c)->get_text(), u"a section <of> some length");
  EXPECT_EQ(c->get_lastChild()->get_nodeValue(), u"a comment of some length");
  EXPECT_EQ(manyList->get_childNodes()->get_length(), 40);
  EXPECT_EQ(manyList->get_lastChild()->get_firstChild()->get_nodeValue(), u"39");
  EXPECT_EQ(Save(doc.get()), std::string(xml).replace(xml.find("&#x3B1;"), 7, "\xCE\xB1"));

  // Texts edited every way.
  IntfPtr<IDOMCharacterData> data = QueryIntf<IDOMCharacterData>(text);
  data->appendData(u" and a tail");
  EXPECT_EQ(data->get_data(), tValue + u" and a tail");
  data->set_data(tValue);
  data->insertData(4, u" inserted");
  data->deleteData(0, 4);
  data->replaceData(0, 9, u"Long");
  EXPECT_EQ(data->get_data(), tValue);
  IntfPtr<IDOMText> rest = QueryIntf<IDOMText>(text)->splitText(10);
  EXPECT_EQ(text->get_nodeValue(), tValue.substr(0, 10));
  EXPECT_EQ(rest->get_nodeValue(), tValue.substr(10));
  t->normalize();
  EXPECT_EQ(t->get_childNodes()->get_length(), 1);
  EXPECT_EQ(text->get_nodeValue(), tValue);
  IntfPtr<IDOMNode> section = c->get_firstChild();
  section->set_nodeValue(u"short");
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(c)->get_text(), u"short");
  r->setAttribute(u"a", u"another value, longer than the first one was");
  QueryIntf<IDOMAttr>(r->getAttributeNode(u"b"))->set_value(u"now long enough for the heap");
  r->setAttribute(u"c", u"new");  // a parsed attribute list grows

  // Child lists: full, with room, and long, changed every way.
  four->appendChild(IntfPtr<IDOMNode>(doc->createElement(u"five")).get());
  four->insertBefore(IntfPtr<IDOMNode>(doc->createElement(u"zero")).get(),
                     four->get_firstChild().get());
  four->removeChild(four->get_childNodes()->get_item(2).get());
  three->appendChild(IntfPtr<IDOMNode>(doc->createElement(u"x")).get());
  three->appendChild(IntfPtr<IDOMNode>(doc->createElement(u"y")).get());
  for (int i = 0; i < 30; ++i) manyList->removeChild(manyList->get_firstChild().get());
  for (int i = 0; i < 25; ++i)
    manyList->appendChild(IntfPtr<IDOMNode>(doc->createElement(u"n")).get());
  std::string expected =
      "<r a=\"another value, longer than the first one was\" b=\"now long enough for the "
      "heap\" c=\"new\"><t>Long text &amp; \xCE\xB1\xCE\xB2 split by references</t><four><zero/>"
      "<i>1</i><i>3</i><i>4</i><five/></four><three><i>1</i><i>2</i><i>3</i><x/><y/></three>"
      "<many>";
  for (int i = 30; i < 40; ++i) expected += "<m>" + std::to_string(i) + "</m>";
  for (int i = 0; i < 25; ++i) expected += "<n/>";
  expected += "</many><c><![CDATA[short]]><!--a comment of some length--></c></r>";
  EXPECT_EQ(Save(doc.get()), expected);

  // Parsed nodes outlive their document, also moved into another one that
  // goes first, and are released on another thread.
  IntfPtr<IDOMNode> comment = c->get_lastChild();
  IntfPtr<IDOMNode> firstM = manyList->get_firstChild();
  IntfPtr<IDOMDocument> other = Parse("<o>other text of some length</o>");
  other->get_documentElement()->appendChild(manyList.get());
  kids.reset();
  r.reset();
  doc.reset();
  t.reset();
  c.reset();
  section.reset();
  EXPECT_EQ(comment->get_nodeValue(), u"a comment of some length");
  EXPECT_EQ(rest->get_nodeValue(), tValue.substr(10));
  other.reset();
  manyList.reset();
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(firstM)->get_xml(), u"<m>30</m>");
  EXPECT_EQ(firstM->get_parentNode()->get_childNodes()->get_length(), 35);
  std::thread([&] {
    firstM.reset();
    comment.reset();
  }).join();
  EXPECT_EQ(data->get_data(), tValue);
  EXPECT_EQ(four->get_childNodes()->get_length(), 5);
}

// A document loaded, edited and loaded again and again reads back the same
// every time, with the memory of parsed lists and texts reused, also of
// nodes released on another thread.
TEST_F(ExpatDom, ParsedMemoryIsReusedWhenLoadedAgainAfterEdits) {
  IntfPtr<IDOMDocument> doc = NewDoc();
  for (int i = 0; i < 100; ++i) {
    std::string xml = "<r><a x=\"value number " + std::to_string(i) + "\">text number " +
                      std::to_string(i) + "</a><b/><c>" + std::string(i + 1, 'c') + "</c></r>";
    TMemoryStream in(xml);
    ASSERT_TRUE(QueryIntf<IDOMPersist>(doc)->loadFromStream(in));
    ASSERT_EQ(Save(doc.get()), xml);
    IntfPtr<IDOMElement> r = doc->get_documentElement();
    IntfPtr<IDOMElement> a = QueryIntf<IDOMElement>(r->get_firstChild());
    a->setAttribute(u"x", u"edited");
    QueryIntf<IDOMCharacterData>(a->get_firstChild())->appendData(u" edited");
    r->appendChild(IntfPtr<IDOMNode>(doc->createElement(u"d")).get());
    IntfPtr<IDOMNode> c = r->removeChild(r->get_childNodes()->get_item(2).get());
    std::thread([&] { c.reset(); }).join();
    EXPECT_EQ(Save(doc.get()),
              "<r><a x=\"edited\">text number " + std::to_string(i) + " edited</a><b/><d/></r>");
  }
}

TEST_F(ExpatDom, NodesOutliveTheirDocumentAndDeepTreesNeedNoRecursion) {
  IntfPtr<IDOMNode> kept;
  IntfPtr<IDOMNode> removed;
  {
    IntfPtr<IDOMDocument> doc = Parse("<r><a><b>t</b></a><c/></r>");
    kept = doc->get_documentElement()->get_firstChild()->get_firstChild();
    removed =
        doc->get_documentElement()->removeChild(doc->get_documentElement()->get_lastChild().get());
  }
  // The document lives on through its nodes; the sanitizer build checks
  // that all of it goes with the last reference.
  EXPECT_EQ(kept->get_ownerDocument()->get_documentElement()->get_nodeName(), u"r");
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(kept)->get_xml(), u"<b>t</b>");
  EXPECT_FALSE(removed->get_parentNode());
  kept.reset();
  removed.reset();

  // A node moved to another document takes its references along.
  IntfPtr<IDOMDocument> one = Parse("<one><moved><sub/></moved></one>");
  IntfPtr<IDOMDocument> two = Parse("<two/>");
  IntfPtr<IDOMNode> moved = one->get_documentElement()->get_firstChild();
  IntfPtr<IDOMNode> sub = moved->get_firstChild();
  IntfPtr<IDOMNode> subAgain = sub, subOnceMore = moved->get_firstChild();
  two->get_documentElement()->appendChild(moved.get());
  one.reset();
  EXPECT_EQ(sub->get_ownerDocument()->get_documentElement()->get_nodeName(), u"two");
  EXPECT_EQ(Save(two.get()), "<two><moved><sub/></moved></two>");
  // Several references to one node keep its new document alive until the
  // last of them goes, in any order.
  {
    IntfPtr<IDOMNode> detached = two->get_documentElement()->removeChild(moved.get());
    two.reset();
    moved.reset();
    subAgain.reset();
    EXPECT_EQ(QueryIntf<IDOMNodeEx>(detached)->get_xml(), u"<moved><sub/></moved>");
    EXPECT_EQ(subOnceMore->get_parentNode()->get_nodeName(), u"moved");
    detached.reset();  // its referenced child lives on without parent
    EXPECT_EQ(subOnceMore->get_parentNode(), nullptr);
    subOnceMore.reset();
    EXPECT_EQ(Save(sub->get_ownerDocument().get()), "<two/>");
  }

  // Documents that trade nodes both ways free each other's memory only
  // when both are gone (the sanitizer build checks use and leaks).
  {
    IntfPtr<IDOMDocument> a = Parse("<a><fromA>1</fromA></a>");
    IntfPtr<IDOMDocument> b = Parse("<b><fromB>2</fromB></b>");
    IntfPtr<IDOMNode> fromA = a->get_documentElement()->get_firstChild();
    b->get_documentElement()->appendChild(fromA.get());
    a->get_documentElement()->appendChild(b->get_documentElement()->get_firstChild().get());
    a.reset();
    EXPECT_EQ(Save(b.get()), "<b><fromA>1</fromA></b>");
    b.reset();
    EXPECT_EQ(QueryIntf<IDOMNodeEx>(fromA)->get_xml(), u"<fromA>1</fromA>");
  }

  // A document loaded again and again reuses the memory of its last tree,
  // also of nodes released on another thread.
  {
    IntfPtr<IDOMDocument> again = NewDoc();
    for (int i = 0; i < 200; ++i) {
      std::string xml = "<r><i n=\"" + std::to_string(i) + "\">t</i><!--c--></r>";
      TMemoryStream in(xml);
      ASSERT_TRUE(QueryIntf<IDOMPersist>(again)->loadFromStream(in));
      IntfPtr<IDOMNode> item = again->get_documentElement()->get_firstChild();
      again->get_documentElement()->removeChild(item.get());
      std::thread([&] { item.reset(); }).join();
      EXPECT_EQ(Save(again.get()), "<r><!--c--></r>");
    }
  }

  // Built by hand, a tree can be far deeper than the parse limit.
  IntfPtr<IDOMDocument> doc = NewDoc();
  IntfPtr<IDOMNode> at = doc->createElement(u"d");
  doc->appendChild(at.get());
  for (int i = 0; i < 100'000; ++i)
    at = at->appendChild(IntfPtr<IDOMNode>(doc->createElement(u"d")).get());
  at.reset();
  EXPECT_EQ(Save(doc.get()).size(), 100'000u * 7 + 4);
  IntfPtr<IDOMNode> copy = doc->get_documentElement()->cloneNode(true);
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(copy)->get_text(), u"");
  copy.reset();
  doc.reset();
}

// The children of node as "name" or "name:value", comma-separated, read
// through firstChild and nextSibling, each checked to point back at node.
std::string Kids(IDOMNode* node) {
  std::string out;
  for (IntfPtr<IDOMNode> c = node->get_firstChild(); c; c = c->get_nextSibling()) {
    if (!out.empty()) out += ',';
    out += Utf8(c->get_nodeName());
    if (c->get_nodeType() != ELEMENT_NODE) out += ':' + Utf8(c->get_nodeValue());
    EXPECT_EQ(c->get_parentNode().get(), node) << out;
  }
  return out;
}

// The document's appends that hand nothing back: on its own nodes as
// appendChild and createTextNode would; refused, changing nothing, for a
// node of another document; failing as appendChild would where a child
// cannot go (the sanitizer build checks that the text made goes too).
TEST_F(ExpatDom, AppendsThatHandNothingBack) {
  IntfPtr<IDOMDocument> doc = Parse("<r/>");
  IntfPtr<IDOMDocument> other = Parse("<o/>");
  IDOMTreeEdit* edit = QueryIntf<IDOMTreeEdit>(doc).get();
  ASSERT_TRUE(edit);
  IntfPtr<IDOMElement> root = doc->get_documentElement();
  IntfPtr<IDOMElement> kid = doc->createElement(u"k");
  EXPECT_TRUE(edit->appendChildTo(root.get(), kid.get()));
  EXPECT_TRUE(edit->appendText(kid.get(), u"a&b"));
  EXPECT_TRUE(edit->appendText(root.get(), u""));
  EXPECT_EQ(Save(doc.get()), "<r><k>a&amp;b</k></r>");
  EXPECT_EQ(root->get_childNodes()->get_length(), 2);

  IntfPtr<IDOMElement> foreign = other->get_documentElement();
  EXPECT_FALSE(edit->appendText(foreign.get(), u"no"));
  EXPECT_FALSE(
      edit->appendChildTo(foreign.get(), IntfPtr<IDOMNode>(doc->createElement(u"x")).get()));
  EXPECT_EQ(Save(other.get()), "<o/>");

  EXPECT_THROW(edit->appendText(doc.get(), u"text beside the root"), DOMException);
  EXPECT_THROW(edit->appendChildTo(root.get(), nullptr), DOMException);
  EXPECT_THROW(edit->appendChildTo(kid.get(), root.get()), DOMException);  // a cycle
  EXPECT_EQ(Save(doc.get()), "<r><k>a&amp;b</k></r>");

  // New leaf elements: named in their namespace or none, with a text or
  // without, after a text the parent kept folded; the element handed back
  // is the one placed, and takes attributes.
  const UnicodeString ns = u"urn:n", text = u"x<y";
  IDOMElement* leaf = edit->appendElement(kid.get(), ns, u"p:l", &text);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->get_namespaceURI(), ns);
  EXPECT_EQ(leaf->get_localName(), u"l");
  leaf->setAttribute(u"a", u"1");
  IDOMElement* bare = edit->appendElement(kid.get(), {}, u"m", nullptr);
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->get_namespaceURI(), u"");
  EXPECT_EQ(Save(doc.get()),
            "<r><k>a&amp;b<p:l xmlns:p=\"urn:n\" a=\"1\">x&lt;y</p:l><m/></k></r>");
  EXPECT_EQ(Kids(kid.get()), "#text:a&b,p:l,m");
  EXPECT_EQ(kid->get_lastChild().get(), static_cast<IDOMNode*>(bare));

  EXPECT_EQ(edit->appendElement(foreign.get(), ns, u"x", &text), nullptr);
  EXPECT_EQ(Save(other.get()), "<o/>");
  EXPECT_THROW(edit->appendElement(doc.get(), {}, u"second", &text), DOMException);
  EXPECT_EQ(Kids(doc.get()), "r");
}

// An element's only text is kept in the element until its node is needed:
// every way of reading or changing the children finds the text node where
// it belongs, and the saved text is the same.
TEST_F(ExpatDom, AnElementsOnlyTextIsAChildEveryWayItIsReached) {
  // Parsed: alone, beside other children before and after it, as the only
  // text among sections and comments, empty.
  IntfPtr<IDOMDocument> doc = Parse(
      "<r><a>x &amp; y</a><b>x<c/>y</b><d><![CDATA[c]]>t</d><e>t<!--m--></e>"
      "<f>t<![CDATA[c]]></f><g></g></r>");
  IntfPtr<IDOMElement> r = doc->get_documentElement();
  IntfPtr<IDOMNodeList> kids = r->get_childNodes();
  auto kid = [&](int i) { return kids->get_item(i); };
  EXPECT_EQ(Kids(kid(0).get()), "#text:x & y");
  EXPECT_EQ(Kids(kid(1).get()), "#text:x,c,#text:y");
  EXPECT_EQ(Kids(kid(2).get()), "#cdata-section:c,#text:t");
  EXPECT_EQ(Kids(kid(3).get()), "#text:t,#comment:m");
  EXPECT_EQ(Kids(kid(4).get()), "#text:t,#cdata-section:c");
  EXPECT_EQ(Kids(kid(5).get()), "");
  EXPECT_FALSE(kid(5)->hasChildNodes());
  EXPECT_EQ(Save(doc.get()),
            "<r><a>x &amp; y</a><b>x<c/>y</b><d><![CDATA[c]]>t</d><e>t<!--m--></e>"
            "<f>t<![CDATA[c]]></f><g/></r>");

  // Asked for by each way in, the text is one node, found again.
  IntfPtr<IDOMDocument> one = Parse("<r><a>t</a><b>t</b><c>t</c><d>t</d></r>");
  IntfPtr<IDOMNodeList> four = one->get_documentElement()->get_childNodes();
  IntfPtr<IDOMNode> viaFirst = four->get_item(0)->get_firstChild();
  EXPECT_EQ(viaFirst.get(), four->get_item(0)->get_lastChild().get());
  EXPECT_EQ(four->get_item(1)->get_lastChild().get(),
            four->get_item(1)->get_childNodes()->get_item(0).get());
  EXPECT_TRUE(four->get_item(2)->hasChildNodes());
  EXPECT_EQ(four->get_item(2)->get_childNodes()->get_length(), 1);
  IDOMNodeQuery* query = QueryIntf<IDOMNodeQuery>(one).get();
  ASSERT_TRUE(query);
  IDOMNode* out[2] = {};
  EXPECT_EQ(query->childNodes(four->get_item(3).get(), 0, out, 2), 1);
  EXPECT_EQ(out[0]->get_nodeValue(), u"t");
  UnicodeStringView only;
  EXPECT_EQ(query->onlyTextChild(four->get_item(0).get(), only), 1);
  EXPECT_EQ(only, u"t");
  EXPECT_EQ(Kids(viaFirst.get()), "");
  EXPECT_EQ(Save(one.get()), "<r><a>t</a><b>t</b><c>t</c><d>t</d></r>");

  // Built: a text appended to an empty element, then children around it.
  IntfPtr<IDOMDocument> built = Parse("<r/>");
  IDOMTreeEdit* edit = QueryIntf<IDOMTreeEdit>(built).get();
  IntfPtr<IDOMElement> root = built->get_documentElement();
  IntfPtr<IDOMNodeList> live = root->get_childNodes();  // made while empty
  auto element = [&](const char16_t* name) {
    return IntfPtr<IDOMNode>(built->createElement(name));
  };
  auto fresh = [&](const char16_t* text) {
    IntfPtr<IDOMNode> e = element(u"e");
    EXPECT_TRUE(edit->appendText(e.get(), text));
    return e;
  };
  EXPECT_TRUE(edit->appendText(root.get(), u"t"));
  EXPECT_EQ(live->get_length(), 1);
  EXPECT_EQ(live->get_item(0)->get_nodeValue(), u"t");
  IntfPtr<IDOMNode> appended = fresh(u"t");
  appended->appendChild(element(u"x").get());
  EXPECT_EQ(Kids(appended.get()), "#text:t,x");
  IntfPtr<IDOMNode> twice = fresh(u"t");
  EXPECT_TRUE(edit->appendText(twice.get(), u"u"));
  EXPECT_EQ(Kids(twice.get()), "#text:t,#text:u");
  IntfPtr<IDOMNode> through = fresh(u"t");
  EXPECT_TRUE(edit->appendChildTo(through.get(), element(u"x").get()));
  EXPECT_EQ(Kids(through.get()), "#text:t,x");
  IntfPtr<IDOMNode> before = fresh(u"t");
  before->insertBefore(element(u"x").get(), before->get_firstChild().get());
  EXPECT_EQ(Kids(before.get()), "x,#text:t");
  IntfPtr<IDOMNode> removed = fresh(u"t");
  removed->removeChild(removed->get_firstChild().get());
  EXPECT_EQ(Kids(removed.get()), "");
  IntfPtr<IDOMNode> empty = fresh(u"");
  EXPECT_EQ(Kids(empty.get()), "#text:");
  for (IDOMNode* e : {appended.get(), twice.get(), removed.get(), empty.get()})
    root->appendChild(e);
  EXPECT_EQ(Save(built.get()), "<r>t<e>t<x/></e><e>tu</e><e/><e></e></r>");

  // Texts of the tree, set text, normalising, copies.
  IntfPtr<IDOMNode> a = fresh(u"t");
  IntfPtr<IDOMNode> b = fresh(u"");
  IntfPtr<IDOMNode> holder = element(u"h");
  holder->appendChild(a.get());
  holder->appendChild(b.get());
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(holder)->get_text(), u"t");
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(a)->get_text(), u"t");
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(holder)->get_xml(), u"<h><e>t</e><e></e></h>");
  IntfPtr<IDOMNode> deep = holder->cloneNode(true);
  IntfPtr<IDOMNode> shallow = a->cloneNode(false);
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(deep)->get_xml(), u"<h><e>t</e><e></e></h>");
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(shallow)->get_xml(), u"<e/>");
  holder->normalize();
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(holder)->get_xml(), u"<h><e>t</e><e/></h>");
  QueryIntf<IDOMNodeEx>(a)->set_text(u"v");
  EXPECT_EQ(Kids(a.get()), "#text:v");
  EXPECT_EQ(QueryIntf<IDOMNodeEx>(deep)->get_xml(), u"<h><e>t</e><e></e></h>");

  // A parsed text moved with its element to another document outlives the
  // document it was parsed in.
  IntfPtr<IDOMNode> moved;
  {
    IntfPtr<IDOMDocument> source = Parse("<r><m>a long text of the source document</m></r>");
    moved = source->get_documentElement()->get_firstChild();
    root->appendChild(moved.get());
  }
  EXPECT_EQ(Kids(moved.get()), "#text:a long text of the source document");
}

// Parsed and built nodes of one name share its text; a memory stream is
// parsed where it lies, from its position on.
TEST_F(ExpatDom, SharedNamesAndInPlaceStreams) {
  TMemoryStream in(
      std::string_view("junk<p:r xmlns:p=\"urn:p\"><p:i a=\"1\"/><p:i a=\"2\"/></p:r>"));
  in.SetPosition(4);
  IntfPtr<IDOMDocument> doc = NewDoc();
  ASSERT_TRUE(QueryIntf<IDOMPersist>(doc)->loadFromStream(in));
  EXPECT_EQ(in.Position(), in.Size());
  IntfPtr<IDOMNode> first = doc->get_documentElement()->get_firstChild();
  IntfPtr<IDOMNode> second = first->get_nextSibling();
  // Renaming one attribute of a shared name leaves the other as it was.
  QueryIntf<IDOMElement>(first)->setAttributeNS(u"", u"b", u"3");
  QueryIntf<IDOMElement>(second)->setAttributeNS(u"urn:q", u"q:a", u"4");
  EXPECT_EQ(Save(doc.get()),
            "<p:r xmlns:p=\"urn:p\"><p:i a=\"1\" b=\"3\"/><p:i a=\"2\" q:a=\"4\" "
            "xmlns:q=\"urn:q\"/></p:r>");

  // Names and namespaces taken into another document outlive the first.
  IntfPtr<IDOMDocument> other = NewDoc();
  IntfPtr<IDOMNode> copy = other->importNode(doc->get_documentElement().get(), true);
  other->appendChild(copy.get());
  for (int i = 0; i < 3; ++i)
    copy->appendChild(IntfPtr<IDOMNode>(other->createElementNS(u"urn:p", u"p:i")).get());
  first.reset();
  second.reset();
  doc.reset();
  EXPECT_EQ(Save(other.get()),
            "<p:r xmlns:p=\"urn:p\"><p:i a=\"1\" b=\"3\"/><p:i a=\"2\" q:a=\"4\" "
            "xmlns:q=\"urn:q\"/><p:i/><p:i/><p:i/></p:r>");
}

// Names come from a cache each thread keeps across documents; more names
// than it holds, names too long for it, and a thread that is gone by the
// time its nodes are read and released leave every name as parsed.
TEST_F(ExpatDom, NamesOutliveTheCacheAndTheThreadThatMadeThem) {
  std::string xml = "<r xmlns:p=\"urn:p\">";
  auto name = [](int i) {
    return (i % 7 == 0 ? std::string(300, 'L') : "p:n") + std::to_string(i);
  };
  for (int i = 0; i < 3000; ++i) {
    xml += '<';
    xml += name(i);
    xml += " a=\"1\"/><";
    xml += name(i % 5);
    xml += "/>";
  }
  xml += "</r>";
  IntfPtr<IDOMDocument> doc;
  std::thread([&] {
    doc = Parse(xml);
    IntfPtr<IDOMDocument> built = NewDoc();
    built->appendChild(IntfPtr<IDOMNode>(built->createElementNS(u"urn:q", u"q:x")).get());
    doc->get_documentElement()->appendChild(
        doc->importNode(built->get_documentElement().get(), true).get());
  }).join();
  IntfPtr<IDOMNodeList> kids = doc->get_documentElement()->get_childNodes();
  ASSERT_EQ(kids->get_length(), 6001);
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(Utf8(kids->get_item(2 * i)->get_nodeName()), name(i));
    ASSERT_EQ(Utf8(kids->get_item(2 * i + 1)->get_nodeName()), name(i % 5));
  }
  EXPECT_EQ(kids->get_item(6000)->get_namespaceURI(), u"urn:q");
  EXPECT_EQ(kids->get_item(0)->get_namespaceURI(), u"");
  EXPECT_EQ(kids->get_item(2)->get_namespaceURI(), u"urn:p");
}

// Whether texts every message uses are kept for good: not in the
// sanitizer build.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kKeeps = false;
#else
constexpr bool kKeeps = true;
#endif

// A text asked for again and again is kept for good and copied without
// counting; a flood of such texts is kept only up to a bound, and the rest
// are counted and freed as before. The sanitizer build keeps none.
TEST(ExpatDomAtoms, TextsEveryMessageUsesAreKeptForGoodWithinABound) {
  using platform::posix::SharedAtom;
  using platform::posix::TXAtom;
  std::vector<TXAtom> held;
  for (int i = 0; i < 12; ++i) held.push_back(SharedAtom(u"urn:every-message"));
  EXPECT_EQ(held.back().Permanent(), kKeeps);
  // Copies made before and after, dropped on other threads, in any order.
  std::thread([&] { held.erase(held.begin(), held.begin() + 6); }).join();
  TXAtom copy = held.back();
  held.clear();
  EXPECT_EQ(copy.str(), u"urn:every-message");

  // Long distinct texts, each asked for often enough to be kept.
  std::vector<TXAtom> flood;
  int kept = 0;
  for (int i = 0; i < 1200; ++i) {
    const UnicodeString text = UnicodeString(250, u'n') + rtl::IntToStr(i);
    for (int k = 0; k < 9; ++k) flood.push_back(SharedAtom(text));
    flood.resize(flood.size() - 8);
    kept += flood.back().Permanent() ? 1 : 0;
    ASSERT_EQ(flood.back().str(), text);
  }
  const std::size_t each = (250 + 4) * sizeof(char16_t);
  EXPECT_LE(kept * each, platform::posix::kPermanentAtomBytes);
  if (kKeeps) {
    EXPECT_GT(kept, 100);
  }
  EXPECT_FALSE(flood.back().Permanent());
  TXAtom counted = SharedAtom(UnicodeString(250, u'm'));
  for (int k = 0; k < 20; ++k) counted = SharedAtom(UnicodeString(250, u'm'));
  EXPECT_FALSE(counted.Permanent());
}

// An element name met once in each of many messages is kept for good like
// one met many times in one message, and reads back the same either way.
TEST_F(ExpatDom, ElementNamesMetInEveryMessageAreKeptForGood) {
  for (int i = 0; i < 9; ++i) {
    IntfPtr<IDOMDocument> doc =
        Parse("<q:probe xmlns:q=\"urn:probe\"><q:onceEach/><q:often/><q:often/></q:probe>");
    ASSERT_EQ(Save(doc.get()),
              "<q:probe xmlns:q=\"urn:probe\"><q:onceEach/><q:often/><q:often/></q:probe>");
  }
  EXPECT_EQ(platform::posix::SharedAtom(u"q:onceEach").Permanent(), kKeeps);
  EXPECT_EQ(platform::posix::SharedAtom(u"q:often").Permanent(), kKeeps);
}

TEST_F(ExpatDom, RefusedOperationsNameThemselvesAndTheVendor) {
  IntfPtr<IDOMDocument> doc = NewDoc();
  try {
    doc->getElementById(u"x");
    FAIL();
  } catch (const DOMException& e) {
    EXPECT_EQ(
        e.Message(),
        u"Property or Method \"getElementById\" is not supported by DOM Vendor \"Expat DOM\"");
  }
  EXPECT_THROW(GetDOM()->createDocumentType(u"r", u"", u""), DOMException);
  EXPECT_TRUE(GetDOM()->hasFeature(u"XML", u"2.0"));
}

}  // namespace
}  // namespace delvan::test
