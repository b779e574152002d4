// The literal value reader: properties of every kind from elements and
// attributes, nil markers, xsi:type replacements, arrays and their resizing,
// encoded references, and who frees what on every path.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "rtl/AnsiString.h"
#include "soap/SOAPDomConv.h"
#include "soap/TypeRegistry.h"
#include "soap/XSBuiltIns.h"
#include "xml/XmlTestSupport.h"

namespace delvan::soap {
namespace {

using rtl::MakeProp;
using xml::IXMLNode;

class TItem : public TRemotable {
  DELVAN_CLASS()

 public:
  TItem() { ++live; }
  ~TItem() override { --live; }
  static inline int live = 0;
  UnicodeString FName;
  std::int32_t FNum = 0;
};
class TItemEx : public TItem {
  DELVAN_CLASS()

 public:
  UnicodeString FExtra;
};
class TOther : public TRemotable {
  DELVAN_CLASS()
};
using TItemArray = std::vector<TItem*>;
using TIntArray = std::vector<std::int32_t>;
using TByteArray = std::vector<std::uint8_t>;
using TIntMatrix = std::vector<TIntArray>;

constexpr std::u16string_view kColorNames[] = {u"red", u"green", u"blue"};
constexpr rtl::TOrdinalTypeData MakeColorData();
extern const rtl::TTypeInfo TypeInfo_TColor;
constexpr rtl::TOrdinalTypeData MakeColorData() {
  rtl::TOrdinalTypeData d;
  d.OrdType = rtl::otUByte;
  d.MaxValue = 2;
  d.BaseType = &TypeInfo_TColor;
  d.Names = kColorNames;
  return d;
}
constinit const rtl::TOrdinalTypeData kColorData = MakeColorData();
constinit const rtl::TTypeInfo TypeInfo_TColor{rtl::tkEnumeration, u"TColor", u"Tests.Reader",
                                               &kColorData};
constinit const rtl::TDynArrayTypeData kItemArrayData =
    rtl::MakeDynArrayData<TItemArray>(&TItem::StaticClass.Info);
constinit const rtl::TTypeInfo TypeInfo_TItemArray{rtl::tkDynArray, u"TItemArray", u"Tests.Reader",
                                                   &kItemArrayData};
constinit const rtl::TDynArrayTypeData kIntArrayData =
    rtl::MakeDynArrayData<TIntArray>(&rtl::TypeInfo_Integer);
constinit const rtl::TTypeInfo TypeInfo_TIntArray{rtl::tkDynArray, u"TIntArray", u"Tests.Reader",
                                                  &kIntArrayData};
constinit const rtl::TDynArrayTypeData kByteArrayData =
    rtl::MakeDynArrayData<TByteArray>(&rtl::TypeInfo_Byte);
constinit const rtl::TTypeInfo TypeInfo_TByteArray{rtl::tkDynArray, u"TByteArray", u"Tests.Reader",
                                                   &kByteArrayData};
constinit const rtl::TDynArrayTypeData kIntMatrixData =
    rtl::MakeDynArrayData<TIntMatrix>(&TypeInfo_TIntArray);
constinit const rtl::TTypeInfo TypeInfo_TIntMatrix{rtl::tkDynArray, u"TIntMatrix", u"Tests.Reader",
                                                   &kIntMatrixData};
constinit const rtl::TDynArrayTypeData kNoRttiData{};
constinit const rtl::TTypeInfo TypeInfo_NoRtti{rtl::tkDynArray, u"TNoRtti", u"Tests.Reader",
                                               &kNoRttiData};

class TRec : public TRemotable {
  DELVAN_CLASS()

 public:
  ~TRec() override {
    delete FDec;
    delete FItem;
    for (TItem* i : FItems) delete i;
  }
  UnicodeString FStr;
  std::int32_t FInt = 0;
  bool FBool = false;
  double FDbl = 0;
  double FWhen = 0;
  char16_t FChar = u'?';
  std::int64_t FI64 = 0;
  AnsiString FAnsi;
  std::uint8_t FColor = 0;
  TXSDecimal* FDec = nullptr;
  TItem* FItem = nullptr;
  TItemArray FItems;
  TIntArray FInts;
  TByteArray FBytes;
  UnicodeString FAttr;
  std::int32_t FAttrNum = 0;
  TIntArray FInline;
  UnicodeString FOpt = u"keep";
};

// Properties read under the names the registry gives them.
class TRenamed : public TRemotable {
  DELVAN_CLASS()

 public:
  UnicodeString FElem, FAttr, FPlain;
};

// A string property with a setter of its own besides the plain one.
class TGuarded : public TRemotable {
  DELVAN_CLASS()

 public:
  UnicodeString FName, FPlain;
  int FSets = 0;
};

// A holder derived from a built-in one whose reading looks at the element
// after its own.
class TDecWithNext : public TXSDecimal {
  DELVAN_CLASS()

 public:
  void SOAPToObject(IXMLNode* RootNode, IXMLNode* Node, IObjConverter* Converter) override {
    TXSDecimal::SOAPToObject(RootNode, Node, Converter);
    IntfPtr<IXMLNode> next = Node->NextSibling();
    FNext = next ? next->GetNodeName() : u"(none)";
  }
  UnicodeString FNext;
};

// An item whose reading looks at its place among its siblings, and may
// empty the list it is read from.
class TItemAt : public TRemotable {
  DELVAN_CLASS()

 public:
  void SOAPToObject(IXMLNode* RootNode, IXMLNode* Node, IObjConverter* Converter) override {
    TRemotable::SOAPToObject(RootNode, Node, Converter);
    FIndex = Node->GetParentNode()->GetChildNodes()->IndexOf(Node);
    IntfPtr<IXMLNode> next = Node->NextSibling();
    FNext = next ? next->GetNodeName() : u"(none)";
    if (emptyTheList) {
      IntfPtr<xml::IDOMNode> parent = Node->GetParentNode()->GetDOMNode();
      while (IntfPtr<xml::IDOMNode> c = parent->get_firstChild()) parent->removeChild(c.get());
    }
  }
  static inline bool emptyTheList = false;
  std::int32_t FNum = 0, FIndex = -1;
  UnicodeString FNext;
};
using TItemAtArray = std::vector<TItemAt*>;

class TLink : public TRemotable {
  DELVAN_CLASS()

 public:
  ~TLink() override { delete FNext; }
  TLink* FNext = nullptr;
};

constexpr rtl::TPropInfo kItemProps[] = {MakeProp<&TItem::FName>(u"name"),
                                         MakeProp<&TItem::FNum>(u"num")};
constexpr rtl::TPropInfo kItemExProps[] = {MakeProp<&TItemEx::FExtra>(u"extra")};
// Not constexpr: the address of a type defined in another unit is no constant here.
const rtl::TPropInfo kRecProps[] = {
    MakeProp<&TRec::FStr>(u"str"),
    MakeProp<&TRec::FInt>(u"int"),
    MakeProp<&TRec::FBool>(u"bool"),
    MakeProp<&TRec::FDbl>(u"dbl"),
    MakeProp<&TRec::FWhen>(u"when", rtl::kNoIndex, &rtl::TypeInfo_TDateTime),
    MakeProp<&TRec::FChar>(u"ch"),
    MakeProp<&TRec::FI64>(u"i64"),
    MakeProp<&TRec::FAnsi>(u"ansi", rtl::kNoIndex, &rtl::TypeInfo_AnsiString),
    MakeProp<&TRec::FColor>(u"color", rtl::kNoIndex, &TypeInfo_TColor),
    MakeProp<&TRec::FDec>(u"dec"),
    MakeProp<&TRec::FItem>(u"item"),
    MakeProp<&TRec::FItems>(u"items", rtl::kNoIndex, &TypeInfo_TItemArray),
    MakeProp<&TRec::FInts>(u"ints", rtl::kNoIndex, &TypeInfo_TIntArray),
    MakeProp<&TRec::FBytes>(u"bytes", rtl::kNoIndex, &TypeInfo_TByteArray),
    MakeProp<&TRec::FAttr>(u"attr", rtl::IS_ATTR),
    MakeProp<&TRec::FAttrNum>(u"anum", rtl::IS_ATTR),
    MakeProp<&TRec::FInline>(u"in", rtl::IS_UNBD, &TypeInfo_TIntArray),
    MakeProp<&TRec::FOpt>(u"opt", rtl::IS_OPTN),
};
constexpr rtl::TPropInfo kItemAtProps[] = {MakeProp<&TItemAt::FNum>(u"num")};
constexpr rtl::TPropInfo kLinkProps[] = {MakeProp<&TLink::FNext>(u"next")};
constinit const rtl::TPropInfo kGuardedProps[] = {
    [] {
      rtl::TPropInfo p = MakeProp<&TGuarded::FName>(u"name");
      p.SetStr = [](TObject* o, const UnicodeString& v) {
        auto* g = static_cast<TGuarded*>(o);
        g->FName = u"set:" + v;
        ++g->FSets;
      };
      return p;
    }(),
    MakeProp<&TGuarded::FPlain>(u"plain")};
constexpr rtl::TPropInfo kRenamedProps[] = {MakeProp<&TRenamed::FElem>(u"elem"),
                                            MakeProp<&TRenamed::FAttr>(u"attr", rtl::IS_ATTR),
                                            MakeProp<&TRenamed::FPlain>(u"plain")};

}  // namespace

constinit const TClass TItem::StaticClass =
    rtl::DefineClass<TItem, TRemotable>(TItem::StaticClass, u"TItem", u"Tests.Reader", kItemProps);
constinit const TClass TItemEx::StaticClass = rtl::DefineClass<TItemEx, TItem>(
    TItemEx::StaticClass, u"TItemEx", u"Tests.Reader", kItemExProps);
constinit const TClass TOther::StaticClass =
    rtl::DefineClass<TOther, TRemotable>(TOther::StaticClass, u"TOther", u"Tests.Reader");
constinit const TClass TRec::StaticClass =
    rtl::DefineClass<TRec, TRemotable>(TRec::StaticClass, u"TRec", u"Tests.Reader", kRecProps);
constinit const TClass TRenamed::StaticClass = rtl::DefineClass<TRenamed, TRemotable>(
    TRenamed::StaticClass, u"TRenamed", u"Tests.Reader", kRenamedProps);
constinit const TClass TGuarded::StaticClass = rtl::DefineClass<TGuarded, TRemotable>(
    TGuarded::StaticClass, u"TGuarded", u"Tests.Reader", kGuardedProps);
constinit const TClass TDecWithNext::StaticClass = rtl::DefineClass<TDecWithNext, TXSDecimal>(
    TDecWithNext::StaticClass, u"TDecWithNext", u"Tests.Reader");
constinit const TClass TItemAt::StaticClass = rtl::DefineClass<TItemAt, TRemotable>(
    TItemAt::StaticClass, u"TItemAt", u"Tests.Reader", kItemAtProps);
constinit const TClass TLink::StaticClass =
    rtl::DefineClass<TLink, TRemotable>(TLink::StaticClass, u"TLink", u"Tests.Reader", kLinkProps);

namespace {

constinit const rtl::TDynArrayTypeData kItemAtArrayData =
    rtl::MakeDynArrayData<TItemAtArray>(&TItemAt::StaticClass.Info);
constinit const rtl::TTypeInfo TypeInfo_TItemAtArray{rtl::tkDynArray, u"TItemAtArray",
                                                     u"Tests.Reader", &kItemAtArrayData};

constexpr char kXsi[] = "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"";

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureDOMVendor();
    RemTypeRegistry().RegisterXSClass(&TItemEx::StaticClass, u"urn:t", u"ItemEx");
    RemTypeRegistry().RegisterXSClass(&TOther::StaticClass, u"urn:t", u"Other");
    RemTypeRegistry().RegisterXSClass(&TDecWithNext::StaticClass, u"urn:t", u"DecWithNext");
    conv = new TSOAPDomConv();
    keep = IntfPtr<IObjConverter>(conv);
    conv->SetOptions({soLiteralParams, soTryAllSchema});
    TItem::live = 0;
  }
  void TearDown() override { EXPECT_EQ(TItem::live, 0) << "item objects leaked or freed twice"; }

  IntfPtr<IXMLNode> Load(const std::string& xml) {
    doc = xml::NewXMLDocument();
    doc->LoadFromXML(test::U(xml));
    return doc->GetDocumentElement();
  }
  void Encoded() { conv->SetOptions({soTryAllSchema}); }

  TSOAPDomConv* conv = nullptr;
  IntfPtr<IObjConverter> keep;
  IntfPtr<xml::IXMLDocument> doc;
};

// Read twice: straight from the DOM, and once more with the element's child
// list built beforehand, which the reader then walks instead.
TEST_F(ReaderTest, PropertiesOfEveryKindFromElementsAndAttributes) {
  for (bool listBuilt : {false, true}) {
    SCOPED_TRACE(listBuilt ? "child list built" : "read from the DOM");
    auto root = Load(std::string("<r ") + kXsi + " attr=\"A\" anum=\"12\" extra=\"x\">" +
                     "<str>s<![CDATA[c]]></str><int>-42</int><bool>TRUE</bool><dbl>1.5e3</dbl>"
                     "<when>2001-02-03T04:05:06</when><ch>xyz</ch><i64>9000000000</i64>"
                     "<ansi>abc</ansi><color>blue</color><dec>12.50</dec>"
                     "<item><name>n</name><num>7</num><junk/></item>"
                     "<ints><i>1</i><!-- c --><i>2</i></ints><bytes>AQID</bytes>"
                     "<in>5</in><in>6</in><other/><in>9</in></r>");
    if (listBuilt) root->GetChildNodes();
    TRec rec;
    std::vector<UnicodeString> missing, unhandled;
    conv->OnMemberDataNotReceived = [&](const UnicodeString& c, const UnicodeString& m) {
      missing.push_back(c + u"." + m);
    };
    conv->OnUnhandledNode = [&](const UnicodeString&, const UnicodeString& x) {
      unhandled.push_back(x);
    };
    conv->LoadObject(&rec, root.get(), root.get());

    EXPECT_EQ(rec.FStr, u"s<![CDATA[c]]>");  // mixed content reads as markup
    EXPECT_EQ(rec.FInt, -42);
    EXPECT_TRUE(rec.FBool);
    EXPECT_DOUBLE_EQ(rec.FDbl, 1500);
    EXPECT_NEAR(rec.FWhen, XMLTimeToDateTime(u"2001-02-03T04:05:06"), 1e-9);
    EXPECT_EQ(rec.FChar, u'x');
    EXPECT_EQ(rec.FI64, 9000000000LL);
    EXPECT_EQ(rec.FAnsi.Bytes(), "abc");
    EXPECT_EQ(rec.FColor, 2);
    ASSERT_NE(rec.FDec, nullptr);
    EXPECT_EQ(rec.FDec->NativeToXS(), u"12.50");
    ASSERT_NE(rec.FItem, nullptr);
    EXPECT_EQ(rec.FItem->FName, u"n");
    EXPECT_EQ(rec.FItem->FNum, 7);
    EXPECT_EQ(rec.FInts, (TIntArray{1, 2}));
    EXPECT_EQ(rec.FBytes, (TByteArray{1, 2, 3}));
    EXPECT_EQ(rec.FAttr, u"A");
    EXPECT_EQ(rec.FAttrNum, 12);
    EXPECT_EQ(rec.FInline, (TIntArray{5, 6}));  // the run ends at <other/>
    EXPECT_EQ(rec.FOpt, u"keep");
    // items is missing and not optional; opt is optional.
    EXPECT_EQ(missing, (std::vector<UnicodeString>{u"TRec.items"}));
    EXPECT_EQ(unhandled, (std::vector<UnicodeString>{u"<junk/>", u"<other/>", u"<in>9</in>"}));
  }
}

TEST_F(ReaderTest, StringPropertiesGoThroughTheirOwnSetters) {
  auto root = Load("<g><plain>a long plain text</plain><name>a long read text</name></g>");
  TGuarded g;
  conv->LoadObject(&g, root.get(), root.get());
  EXPECT_EQ(g.FName, u"set:a long read text");
  EXPECT_EQ(g.FSets, 1);
  EXPECT_EQ(g.FPlain, u"a long plain text");
}

// A plain rename, an attribute text naming the wire name and namespace, and
// a property without rename; the renames stay in force over many objects.
TEST_F(ReaderTest, PropertiesUnderTheirExternalNames) {
  TRemotableTypeRegistry& r = RemTypeRegistry();
  r.RegisterXSClass(&TRenamed::StaticClass, u"urn:t", u"Renamed");
  const std::string xml =
      "<r xmlns:q=\"urn:attribute-ns\" q:attributeOnTheWire=\"A\"><elem>not me</elem>"
      "<elementOnTheWireName>E</elementOnTheWireName><plain>P</plain></r>";
  {
    // Read before the renames: what the converter keeps between responses
    // must not outlive them.
    auto root = Load(xml);
    TRenamed rec;
    conv->LoadObject(&rec, root.get(), root.get());
    EXPECT_EQ(rec.FElem, u"not me");
    conv->ResetReadingState();
  }
  r.RegisterExternalPropName(&TRenamed::StaticClass.Info, u"elem", u"elementOnTheWireName");
  r.RegisterExternalPropName(&TRenamed::StaticClass.Info, u"attr",
                             u"[ExtName='attributeOnTheWire' Namespace='urn:attribute-ns']");
  for (int i = 0; i < 3; ++i) {
    auto root = Load(xml);
    TRenamed rec;
    conv->LoadObject(&rec, root.get(), root.get());
    EXPECT_EQ(rec.FElem, u"E");
    EXPECT_EQ(rec.FAttr, u"A");
    EXPECT_EQ(rec.FPlain, u"P");
    conv->ResetReadingState();
  }
}

TEST_F(ReaderTest, NilMarkersEmptyAndCaseOfNames) {
  auto root = Load(std::string("<r ") + kXsi + "><str xsi:nil=\"true\"/><int xsi:nil=\"1\"/>" +
                   "<dec xsi:nil=\"true\"/><item xsi:nil=\"TRUE\"/><ch/><Dbl>3</Dbl>"
                   "<str>second</str></r>");
  TRec rec;
  rec.FStr = u"old";
  rec.FInt = 5;
  rec.FDbl = 1;
  rec.FDec = new TXSDecimal();
  rec.FDec->XSToNative(u"1");
  TXSDecimal* dec = rec.FDec;
  conv->LoadObject(&rec, root.get(), root.get());
  EXPECT_EQ(rec.FStr, u"");  // the first <str> wins, nil gives the kind's default
  EXPECT_EQ(rec.FInt, 0);
  EXPECT_EQ(rec.FDec, dec);  // a nil object element leaves the property
  EXPECT_EQ(rec.FItem, nullptr);
  EXPECT_EQ(rec.FChar, u'?');     // empty text leaves a char
  EXPECT_DOUBLE_EQ(rec.FDbl, 1);  // "Dbl" is not "dbl"
}

TEST_F(ReaderTest, BadTextsFailWithConversionErrors) {
  struct Case {
    const char* xml;
  } cases[] = {{"<r><int>12x</int></r>"},      {"<r><int> 1</int></r>"},
               {"<r><dbl>1,5</dbl></r>"},      {"<r><when>2001-13-45T99:00:00</when></r>"},
               {"<r><color>pink</color></r>"}, {"<r><i64>99999999999999999999</i64></r>"},
               {"<r><bool>yes</bool></r>"},    {"<r><bytes>A*B</bytes></r>"}};
  for (const Case& c : cases) {
    auto root = Load(c.xml);
    TRec rec;
    EXPECT_THROW(conv->LoadObject(&rec, root.get(), root.get()), Exception) << c.xml;
  }
}

TEST_F(ReaderTest, XsiTypeChoosesAReplacementOnlyInsideTheClassTree) {
  TObject* keepObj = nullptr;
  for (const char* type : {"t:ItemEx", "t:Other", "t:Unknown"}) {
    auto root = Load(std::string("<p ") + kXsi + " xmlns:t=\"urn:t\" xsi:type=\"" + type +
                     "\"><name>n</name><extra>e</extra></p>");
    auto* current = new TItem();
    TObject* var = current;
    conv->ConvertSoapToNativeData(&var, &TItem::StaticClass.Info, root.get(), root.get(), true);
    auto* item = static_cast<TItem*>(var);
    EXPECT_EQ(item->FName, u"n");
    if (std::string(type) == "t:ItemEx") {
      ASSERT_EQ(item->ClassType(), &TItemEx::StaticClass);
      EXPECT_EQ(static_cast<TItemEx*>(item)->FExtra, u"e");
      EXPECT_EQ(TItem::live, 1);  // the replaced object is freed
    } else {
      EXPECT_EQ(var, current);
    }
    delete item;
  }
  // No current object: the registered class is made.
  auto root = Load(std::string("<p ") + kXsi + " xmlns:t=\"urn:t\" xsi:type=\"t:ItemEx\"/>");
  TObject* obj =
      conv->ConvertSOAPToObject(root.get(), root.get(), &TItem::StaticClass, {}, {}, &keepObj);
  EXPECT_EQ(obj->ClassType(), &TItemEx::StaticClass);
  delete obj;
}

// A holder element naming a derived class is read through the node its
// parent's child list holds, so the class's own reading finds the
// element's neighbours; a plain holder element reads the same either way.
TEST_F(ReaderTest, HolderOfADerivedClassSeesItsNeighbours) {
  auto root = Load(std::string("<r ") + kXsi +
                   " xmlns:t=\"urn:t\"><dec xsi:type=\"t:DecWithNext\">1.5</dec><int>3</int></r>");
  TRec rec;
  conv->LoadObject(&rec, root.get(), root.get());
  ASSERT_NE(rec.FDec, nullptr);
  ASSERT_EQ(rec.FDec->ClassType(), &TDecWithNext::StaticClass);
  EXPECT_EQ(static_cast<TDecWithNext*>(rec.FDec)->FNext, u"int");
  EXPECT_EQ(rec.FDec->NativeToXS(), u"1.5");
  EXPECT_EQ(rec.FInt, 3);
}

// An event may change the document being read: the children found as the
// record's reading began stay readable (the sanitizer build checks it).
TEST_F(ReaderTest, EventsThatChangeTheDocumentLeaveTheChildrenFoundReadable) {
  auto root = Load("<r><int>5</int><dbl>2.5</dbl></r>");
  TRec rec;
  conv->OnMemberDataNotReceived = [&](const UnicodeString&, const UnicodeString& member) {
    if (member != u"str") return;
    IntfPtr<xml::IDOMNode> dom = root->GetDOMNode();
    while (IntfPtr<xml::IDOMNode> c = dom->get_firstChild()) dom->removeChild(c.get());
  };
  conv->LoadObject(&rec, root.get(), root.get());
  EXPECT_EQ(rec.FInt, 5);
  EXPECT_DOUBLE_EQ(rec.FDbl, 2.5);
}

// The items of an array are the nodes its element's child list holds:
// a reading that goes on from an item to its parent's list and its
// siblings finds it there. One that empties the list as it reads leaves
// the items found readable (the sanitizer build checks it).
TEST_F(ReaderTest, ArrayItemsAreTheNodesOfTheirParentsList) {
  for (bool empty : {false, true}) {
    SCOPED_TRACE(empty ? "emptied" : "kept");
    TItemAt::emptyTheList = empty;
    auto root = Load("<a><x><num>1</num></x><!--c--><x><num>2</num></x><x><num>3</num></x></a>");
    TItemAtArray items;
    conv->ConvertSoapToNativeData(&items, &TypeInfo_TItemAtArray, root.get(), root.get(), true);
    TItemAt::emptyTheList = false;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]->FNum, 1);
    EXPECT_EQ(items[1]->FNum, 2);
    EXPECT_EQ(items[2]->FNum, 3);
    EXPECT_EQ(items[0]->FIndex, 0);
    EXPECT_EQ(items[0]->FNext, u"#comment");
    if (!empty) {
      EXPECT_EQ(items[1]->FIndex, 2);
      EXPECT_EQ(items[1]->FNext, u"x");
      EXPECT_EQ(items[2]->FIndex, 3);
      EXPECT_EQ(items[2]->FNext, u"(none)");
    }
    for (TItemAt* item : items) delete item;
  }
}

TEST_F(ReaderTest, ReplacedAndDroppedObjectsAreFreed) {
  // A nil element turns the variable nil and frees what it held.
  auto nil = Load(std::string("<p ") + kXsi + " xsi:nil=\"true\"/>");
  TObject* var = new TItem();
  conv->ConvertSoapToNativeData(&var, &TItem::StaticClass.Info, nil.get(), nil.get(), true);
  EXPECT_EQ(var, nullptr);
  EXPECT_EQ(TItem::live, 0);

  // A property object is replaced by a new one each time: the old is freed.
  auto root = Load("<r><item><num>1</num></item></r>");
  TRec rec;
  rec.FItem = new TItem();
  conv->LoadObject(&rec, root.get(), root.get());
  EXPECT_EQ(rec.FItem->FNum, 1);
  EXPECT_EQ(TItem::live, 1);

  // Three entries, a list of one: the first is refilled in place, the rest freed.
  auto list = Load(std::string("<a ") + kXsi + "><x><num>4</num></x></a>");
  TItemArray items{new TItem(), new TItem(), new TItem()};
  TItem* first = items[0];
  conv->ConvertSoapToNativeData(&items, &TypeInfo_TItemArray, list.get(), list.get(), true);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0], first);
  EXPECT_EQ(items[0]->FNum, 4);
  EXPECT_EQ(TItem::live, 2);
  delete items[0];

  // A nil item frees its entry; an empty list empties the array.
  auto nilItem = Load(std::string("<a ") + kXsi + "><x xsi:nil=\"1\"/><y/></a>");
  items = {new TItem()};
  conv->ConvertSoapToNativeData(&items, &TypeInfo_TItemArray, nilItem.get(), nilItem.get(), true);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], nullptr);
  ASSERT_NE(items[1], nullptr);
  delete items[1];
  auto empty = Load("<a/>");
  items = {new TItem()};
  conv->ConvertSoapToNativeData(&items, &TypeInfo_TItemArray, empty.get(), empty.get(), true);
  EXPECT_TRUE(items.empty());
}

TEST_F(ReaderTest, ObjectsMadeBeforeAFailureAreFreed) {
  // The second item fails: the first stays stored, the second is freed.
  auto list = Load("<a><x><num>1</num></x><x><num>bad</num></x><x/></a>");
  TItemArray items;
  EXPECT_THROW(
      conv->ConvertSoapToNativeData(&items, &TypeInfo_TItemArray, list.get(), list.get(), true),
      EConvertError);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0]->FNum, 1);
  EXPECT_EQ(items[1], nullptr);
  EXPECT_EQ(TItem::live, 1);
  delete items[0];
  // A failing property object is not stored and not leaked.
  auto root = Load("<r><item><num>x</num></item></r>");
  TRec rec;
  EXPECT_THROW(conv->LoadObject(&rec, root.get(), root.get()), EConvertError);
  EXPECT_EQ(rec.FItem, nullptr);
  // The reader's kept child lists carry nothing over: after the failures, an
  // element of many children and a nested object read as they should.
  std::string wide = "<r><str>w</str>";
  for (int i = 0; i < 100; ++i) wide += "<junk/>";
  wide += "<item><num>3</num></item><int>4</int></r>";
  for (const std::string& xml :
       {wide, std::string("<r><item><name>n</name></item><int>5</int></r>")}) {
    root = Load(xml);
    TRec again;
    conv->LoadObject(&again, root.get(), root.get());
    ASSERT_NE(again.FItem, nullptr) << xml;
    EXPECT_EQ(again.FInt, xml == wide ? 4 : 5);
    EXPECT_EQ(again.FStr, xml == wide ? u"w" : u"");
    EXPECT_EQ(again.FItem->FNum, xml == wide ? 3 : 0);
    EXPECT_EQ(again.FItem->FName, xml == wide ? u"" : u"n");
  }
}

TEST_F(ReaderTest, ArraysOfScalarsBytesAndArrays) {
  auto root = Load("<a><r><i>1</i><i>2</i></r><r/><r><i>3</i></r></a>");
  TIntMatrix m{{9, 9, 9}, {9}, {9}, {9}};
  conv->ConvertSoapToNativeData(&m, &TypeInfo_TIntMatrix, root.get(), root.get(), true);
  EXPECT_EQ(m, (TIntMatrix{{1, 2}, {}, {3}}));

  auto bytes = Load("<b>SGVs\nbG8=</b>");
  TByteArray b;
  conv->ConvertSoapToNativeData(&b, &TypeInfo_TByteArray, bytes.get(), bytes.get(), true);
  EXPECT_EQ(std::string(b.begin(), b.end()), "Hello");

  TIntArray ints;
  auto named = Load("<a><i>1</i><j>2</j><i>3</i></a>");
  conv->ConvertSoapToNativeArray(&ints, &TypeInfo_TIntArray, named.get(), named.get(), u"i");
  EXPECT_EQ(ints, (TIntArray{1, 3}));
  EXPECT_THROW(
      conv->ConvertSoapToNativeArray(&ints, &TypeInfo_NoRtti, named.get(), named.get(), {}),
      ESOAPDomConvertError);
}

TEST_F(ReaderTest, EncodedRectangularArraysAndTheirBound) {
  Encoded();
  const std::string enc = "xmlns:e=\"http://schemas.xmlsoap.org/soap/encoding/\"";
  auto ok = Load("<a " + enc +
                 " e:arrayType=\"xsd:int[2,3]\"><i>1</i><i>2</i><i>3</i>"
                 "<i>4</i><i>5</i><i>6</i></a>");
  TIntMatrix m;
  conv->ConvertSoapToNativeData(&m, &TypeInfo_TIntMatrix, ok.get(), ok.get(), true);
  EXPECT_EQ(m, (TIntMatrix{{1, 2, 3}, {4, 5, 6}}));
  for (const char* dims : {"[2,4]", "[4000000000,4000000000]", "[1000000000,0]", "[2,x]"}) {
    auto bad = Load("<a " + enc + " e:arrayType=\"xsd:int" + dims + "\"><i>1</i></a>");
    EXPECT_THROW(
        conv->ConvertSoapToNativeData(&m, &TypeInfo_TIntMatrix, bad.get(), bad.get(), true),
        ESOAPDomConvertError)
        << dims;
  }
  // One dimension: the items decide, whatever arrayType announces.
  auto one = Load("<a " + enc + " e:arrayType=\"xsd:int[1000000000]\"><i>7</i></a>");
  TIntArray ints;
  conv->ConvertSoapToNativeData(&ints, &TypeInfo_TIntArray, one.get(), one.get(), true);
  EXPECT_EQ(ints, (TIntArray{7}));
}

TEST_F(ReaderTest, EncodedReferencesResolveAndHostileOnesFail) {
  Encoded();
  auto root = Load(std::string("<b ") + kXsi + "><r><item href=\"#m1\"/><str href=\"#s\"/></r>" +
                   "<m id=\"m1\"><num>3</num></m><v id=\"s\">txt</v></b>");
  IntfPtr<IXMLNode> r = root->GetChildNodes()->Get(0);
  TRec rec;
  conv->LoadObject(&rec, root.get(), r.get());
  ASSERT_NE(rec.FItem, nullptr);
  EXPECT_EQ(rec.FItem->FNum, 3);
  EXPECT_EQ(rec.FStr, u"txt");
  conv->ResetReadingState();

  // Literal style: href is plain data, not followed.
  conv->SetOptions({soLiteralParams});
  TRec lit;
  conv->LoadObject(&lit, root.get(), r.get());
  EXPECT_EQ(lit.FItem->FNum, 0);
  Encoded();

  struct Case {
    const char* name;
    std::string xml;
  } cases[] = {
      {"dangling", "<b><r><item href=\"#nowhere\"/></r></b>"},
      {"shared", "<b><r><items><x href=\"#m\"/><x href=\"#m\"/></items></r><m id=\"m\"/></b>"},
      {"cycle",
       "<b><r><next href=\"#a\"/></r><m id=\"a\"><next href=\"#b\"/></m>"
       "<m id=\"b\"><next href=\"#a\"/></m></b>"},
      {"self", "<b><r><next href=\"#a\"/></r><m id=\"a\"><next href=\"#a\"/></m></b>"},
  };
  for (const Case& c : cases) {
    auto b = Load(c.xml);
    IntfPtr<IXMLNode> first = b->GetChildNodes()->Get(0);
    if (std::string(c.name) == "shared") {
      TRec obj;
      EXPECT_THROW(conv->LoadObject(&obj, b.get(), first.get()), ESOAPDomConvertError) << c.name;
    } else if (std::string(c.name) == "dangling") {
      TRec obj;
      EXPECT_THROW(conv->LoadObject(&obj, b.get(), first.get()), ESOAPDomConvertError) << c.name;
    } else {
      TLink obj;
      EXPECT_THROW(conv->LoadObject(&obj, b.get(), first.get()), ESOAPDomConvertError) << c.name;
    }
    conv->ResetReadingState();
  }
}

TEST_F(ReaderTest, DeepSelfNestingStopsWithAnError) {
  std::string xml;
  for (int i = 0; i < 900; ++i) xml += "<next>";
  for (int i = 0; i < 900; ++i) xml += "</next>";
  auto root = Load(xml);
  TLink link;
  EXPECT_THROW(conv->LoadObject(&link, root.get(), root.get()), ESOAPDomConvertError);
  // What was built before the limit belongs to the chain and is freed with it.
}

// Nil and type markers in each schema-instance namespace the reader takes,
// beside elements without any attribute and with unrelated ones only.
TEST_F(ReaderTest, MarkersInEverySchemaInstanceNamespace) {
  struct Case {
    std::string attrs;
    bool nil, null, typed;
  };
  std::vector<Case> cases = {
      {"", false, false, false},
      {" plain=\"true\"", false, false, false},
      {" xmlns:t=\"urn:t\"", false, false, false},
      {" type=\"t:ItemEx\" xmlns:t=\"urn:t\"", false, false, true},
  };
  for (const char* ns :
       {"http://www.w3.org/1999/XMLSchema-instance", "http://www.w3.org/2000/10/XMLSchema-instance",
        "http://www.w3.org/2001/XMLSchema-instance"}) {
    const std::string decl = std::string(" xmlns:x=\"") + ns + "\"";
    cases.push_back({decl + " x:nil=\"true\"", true, true, false});
    cases.push_back({decl + " x:nil=\"1\"", true, true, false});
    cases.push_back({decl + " x:nil=\"false\"", false, false, false});
    cases.push_back({decl + " x:NULL=\"TRUE\"", false, true, false});
    cases.push_back({decl + " x:type=\"t:ItemEx\" xmlns:t=\"urn:t\"", false, false, true});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attrs);
    // The marked element is inside one with declarations, and holds one
    // without attributes: neither takes the other's answers.
    auto root = Load(std::string("<o ") + kXsi + "><p" + c.attrs + "><name>n</name></p></o>");
    IntfPtr<IXMLNode> p = root->GetChildNodes()->Get(0);
    IntfPtr<IXMLNode> inner = p->GetChildNodes()->Get(0);
    EXPECT_EQ(conv->IsNilNode(p.get()), c.nil);
    EXPECT_EQ(conv->NodeIsNULL(p.get()), c.null);
    EXPECT_FALSE(conv->NodeIsNULL(inner.get()));
    UnicodeString uri, name;
    EXPECT_EQ(conv->GetElementType(p.get(), uri, name), c.typed);
    EXPECT_EQ(name, c.typed ? u"ItemEx" : u"");
    EXPECT_FALSE(conv->GetElementType(inner.get(), uri, name));
    TObject* obj =
        conv->ConvertSOAPToObject(root.get(), p.get(), &TItem::StaticClass, {}, {}, nullptr);
    if (c.nil) {
      EXPECT_EQ(obj, nullptr);
    } else {
      ASSERT_NE(obj, nullptr);
      EXPECT_EQ(obj->ClassType(), c.typed ? &TItemEx::StaticClass : &TItem::StaticClass);
      EXPECT_EQ(static_cast<TItem*>(obj)->FName, u"n");
    }
    delete obj;
  }
}

// Attribute properties of an element without attributes are reported
// missing; an encoded Array element is typed by its name alone; SOAP 1.2
// references (ref and id in its encoding namespace) resolve.
TEST_F(ReaderTest, AttributePropertiesArraysAndReferencesByNamespace) {
  auto root = Load("<r><str>s</str><item><name>n</name></item></r>");
  TRec rec;
  std::vector<UnicodeString> missing;
  conv->OnMemberDataNotReceived = [&](const UnicodeString& c, const UnicodeString& m) {
    missing.push_back(c + u"." + m);
  };
  conv->LoadObject(&rec, root.get(), root.get());
  EXPECT_EQ(rec.FStr, u"s");
  ASSERT_NE(rec.FItem, nullptr);
  for (UnicodeStringView m : {u"TRec.attr", u"TRec.anum", u"TItem.num"})
    EXPECT_NE(std::find(missing.begin(), missing.end(), m), missing.end()) << test::Utf8(m);
  EXPECT_EQ(std::find(missing.begin(), missing.end(), u"TRec.str"), missing.end());
  conv->OnMemberDataNotReceived = nullptr;

  for (const char* enc :
       {"http://schemas.xmlsoap.org/soap/encoding/", "http://www.w3.org/2003/05/soap-encoding"}) {
    auto a = Load(std::string("<e:Array xmlns:e=\"") + enc + "\"><i>1</i></e:Array>");
    UnicodeString uri, name;
    ASSERT_TRUE(conv->GetElementType(a.get(), uri, name)) << enc;
    EXPECT_EQ(uri, test::U(enc));
    EXPECT_EQ(name, u"Array");
  }
  auto plain = Load("<Array><i>1</i></Array>");
  UnicodeString uri, name;
  EXPECT_FALSE(conv->GetElementType(plain.get(), uri, name));

  Encoded();
  auto b = Load(
      "<b xmlns:e=\"http://www.w3.org/2003/05/soap-encoding\"><r><item e:ref=\"m1\"/></r>"
      "<m e:id=\"m1\"><num>4</num></m></b>");
  IntfPtr<IXMLNode> r = b->GetChildNodes()->Get(0);
  TRec encoded;
  conv->LoadObject(&encoded, b.get(), r.get());
  ASSERT_NE(encoded.FItem, nullptr);
  EXPECT_EQ(encoded.FItem->FNum, 4);
  conv->ResetReadingState();
}

TEST_F(ReaderTest, NodeOperations) {
  auto root = Load(std::string("<r ") + kXsi + " xmlns:t=\"urn:t\" xmlns=\"urn:d\">" +
                   "<a xsi:type=\"t:X\"/><b xsi:type=\"Y\"/><c type=\"t:Z\"/>" +
                   "<d xmlns:x99=\"http://www.w3.org/1999/XMLSchema-instance\" x99:type=\"t:W\"/>"
                   "<e xsi:NULL=\"true\"/><f>t<g/></f><h/></r>");
  auto kids = root->GetChildNodes();
  UnicodeString uri, name;
  const std::pair<const char16_t*, const char16_t*> expected[] = {
      {u"urn:t", u"X"}, {u"urn:d", u"Y"}, {u"urn:t", u"Z"}, {u"urn:t", u"W"}};
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(conv->GetElementType(kids->Get(i).get(), uri, name)) << i;
    EXPECT_EQ(uri, expected[i].first);
    EXPECT_EQ(name, expected[i].second);
  }
  EXPECT_FALSE(conv->GetElementType(kids->Get(6).get(), uri, name));
  EXPECT_TRUE(conv->IsNilNode(nullptr));
  EXPECT_FALSE(conv->IsNilNode(kids->Get(4).get()));
  EXPECT_TRUE(conv->NodeIsNULL(kids->Get(4).get()));
  EXPECT_EQ(conv->GetNodeAsText(kids->Get(5).get()), u"t<g/>");
  EXPECT_EQ(conv->GetNodeAsText(kids->Get(6).get()), u"");
}

}  // namespace
}  // namespace delvan::soap
