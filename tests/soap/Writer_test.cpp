// The literal value writer: what each kind, property flag and serialization
// option puts on the wire, the xsi:type rule, nil elements, cycles, arrays,
// and the writer's failures. Test-only remotable classes cover the kinds the
// service's records lack.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "TestSupport.h"
#include "rtl/DynArrayTypes.h"
#include "soap/OPToSOAPDomConv.h"
#include "soap/SOAPConst.h"
#include "soap/SOAPEnv.h"
#include "soap/TypeRegistry.h"
#include "soap/XSBuiltIns.h"
#include "xml/XmlTestSupport.h"

namespace delvan::soap {
namespace {

using namespace rtl;
using test::Utf8;

constexpr UnicodeStringView kNs = u"urn:writer";
constexpr UnicodeStringView kUnit = u"Tests.Writer";

// ---- Test-only types ------------------------------------------------------------------

enum class TColour : std::uint8_t { Red, Green, Blue };
constexpr std::u16string_view kColourNames[] = {u"Red", u"Green", u"Blue"};
extern const TTypeInfo TypeInfo_TColour;
constinit const TOrdinalTypeData kColourData{otUByte, 0, 2, &TypeInfo_TColour, kColourNames};
constinit const TTypeInfo TypeInfo_TColour{tkEnumeration, u"TColour", kUnit, &kColourData};

constexpr TPropInfo StoredFalse(TPropInfo p) {
  p.StoredConstFalse = true;
  return p;
}

class TScalars : public TRemotable {
  DELVAN_CLASS()
 public:
  std::int32_t I = 0;
  std::int64_t L = 0;
  std::uint64_t U = 0;
  double D = 0;
  float F = 0;
  bool B = false;
  std::uint8_t C = 0;  // a TColour
  char16_t W = u' ';
  std::uint8_t Ch = 'a';
  AnsiString A;
  double Dt = 0;
  TByteDynArray Bytes;
};
// Built at start-up: the type overrides are not constant expressions.
const TPropInfo kScalarProps[] = {
    MakeProp<&TScalars::I>(u"i"),
    MakeProp<&TScalars::L>(u"l"),
    MakeProp<&TScalars::U>(u"u"),
    MakeProp<&TScalars::D>(u"d"),
    MakeProp<&TScalars::F>(u"f"),
    MakeProp<&TScalars::B>(u"b"),
    MakeProp<&TScalars::C>(u"c", kNoIndex, &TypeInfo_TColour),
    MakeProp<&TScalars::W>(u"w"),
    MakeProp<&TScalars::Ch>(u"ch", kNoIndex, &TypeInfo_Char),
    MakeProp<&TScalars::A>(u"a", kNoIndex, &TypeInfo_AnsiString),
    MakeProp<&TScalars::Dt>(u"dt", kNoIndex, &TypeInfo_TDateTime),
    MakeProp<&TScalars::Bytes>(u"bytes", kNoIndex, &TypeInfo_TByteDynArray),
};
constinit const TClass TScalars::StaticClass =
    DefineClass<TScalars, TRemotable>(TScalars::StaticClass, u"TScalars", kUnit, kScalarProps);

class TBase : public TRemotable {
  DELVAN_CLASS()
 public:
  UnicodeString Tag;
};
constexpr TPropInfo kBaseProps[] = {MakeProp<&TBase::Tag>(u"tag")};
constinit const TClass TBase::StaticClass =
    DefineClass<TBase, TRemotable>(TBase::StaticClass, u"TBase", kUnit, kBaseProps);

class TDerived : public TBase {
  DELVAN_CLASS()
 public:
  std::int32_t Extra = 7;
};
constexpr TPropInfo kDerivedProps[] = {MakeProp<&TDerived::Extra>(u"extra")};
constinit const TClass TDerived::StaticClass =
    DefineClass<TDerived, TBase>(TDerived::StaticClass, u"TDerived", kUnit, kDerivedProps);

// A descendant registered under another namespace than its ancestor.
class TForeign : public TBase {
  DELVAN_CLASS()
 public:
  UnicodeString Own = u"o";
};
constexpr TPropInfo kForeignProps[] = {MakeProp<&TForeign::Own>(u"own")};
constinit const TClass TForeign::StaticClass =
    DefineClass<TForeign, TBase>(TForeign::StaticClass, u"TForeign", kUnit, kForeignProps);

// A literal-parameter class derived from TBase: never typed.
class TLiteralDerived : public TBase {
  DELVAN_CLASS()
};
constinit const TClass TLiteralDerived::StaticClass =
    DefineClass<TLiteralDerived, TBase>(TLiteralDerived::StaticClass, u"TLiteralDerived", kUnit);

using TBaseArray = std::vector<TBase*>;
constinit const TDynArrayTypeData kBaseArrayData =
    MakeDynArrayData<TBaseArray>(&TBase::StaticClass.Info);
constinit const TTypeInfo TypeInfo_TBaseArray{tkDynArray, u"TBaseArray", kUnit, &kBaseArrayData};

// Holds other objects; the properties carry the flags under test.
class TOwner : public TRemotable {
  DELVAN_CLASS()
 public:
  ~TOwner() override {
    delete Item;
    delete Ref;
  }
  TBase* Item = nullptr;
  TBase* Ref = nullptr;
  UnicodeString Unq = u"u";
  UnicodeString Opt = u"o";
  bool HasOpt = false;
  UnicodeString Renamed = u"r";
  UnicodeString Empty;
};
constexpr TPropInfo OptionalProp(TPropInfo p) {
  p.IsStored = [](const TObject* o) { return static_cast<const TOwner*>(o)->HasOpt; };
  return p;
}
constexpr TPropInfo kOwnerProps[] = {
    MakeProp<&TOwner::Item>(u"item"),        MakeProp<&TOwner::Ref>(u"ref", IS_REF),
    MakeProp<&TOwner::Unq>(u"unq", IS_UNQL), OptionalProp(MakeProp<&TOwner::Opt>(u"opt", IS_OPTN)),
    MakeProp<&TOwner::Renamed>(u"renamed"),  MakeProp<&TOwner::Empty>(u"empty"),
};
constinit const TClass TOwner::StaticClass =
    DefineClass<TOwner, TRemotable>(TOwner::StaticClass, u"TOwner", kUnit, kOwnerProps);

// A chain of objects, for cycles.
class TLink : public TRemotable {
  DELVAN_CLASS()
 public:
  TLink* Next = nullptr;  // not owned
};
constexpr TPropInfo kLinkProps[] = {MakeProp<&TLink::Next>(u"next")};
constinit const TClass TLink::StaticClass =
    DefineClass<TLink, TRemotable>(TLink::StaticClass, u"TLink", kUnit, kLinkProps);

// Attributes, a text property and attributes on the last member.
class TAttrs : public TRemotable {
  DELVAN_CLASS()
 public:
  ~TAttrs() override { delete Stamp; }
  UnicodeString Id = u"i1";
  UnicodeString Lang = u"el";
  std::int32_t Hidden = 5;
  UnicodeString Child = u"c";
  UnicodeString Blank;
  TXSDecimal* Stamp = nullptr;
};
constexpr TPropInfo kAttrProps[] = {
    MakeProp<&TAttrs::Id>(u"id", IS_ATTR),
    MakeProp<&TAttrs::Lang>(u"lang", IS_ATTR | IS_QUAL),
    StoredFalse(MakeProp<&TAttrs::Hidden>(u"hidden")),
    MakeProp<&TAttrs::Child>(u"child"),
    MakeProp<&TAttrs::Blank>(u"blank", IS_ATTR),
    MakeProp<&TAttrs::Stamp>(u"stamp", IS_ATTR),
};
constinit const TClass TAttrs::StaticClass =
    DefineClass<TAttrs, TRemotable>(TAttrs::StaticClass, u"TAttrs", kUnit, kAttrProps);

class TLastAttr : public TAttrs {
  DELVAN_CLASS()
};
constinit const TClass TLastAttr::StaticClass =
    DefineClass<TLastAttr, TAttrs>(TLastAttr::StaticClass, u"TLastAttr", kUnit);

class TTextual : public TRemotable {
  DELVAN_CLASS()
 public:
  UnicodeString Value = u"v&";
  UnicodeString Unit = u"kg";
};
constexpr TPropInfo kTextualProps[] = {MakeProp<&TTextual::Value>(u"value", IS_TEXT),
                                       MakeProp<&TTextual::Unit>(u"unit", IS_ATTR)};
constinit const TClass TTextual::StaticClass =
    DefineClass<TTextual, TRemotable>(TTextual::StaticClass, u"TTextual", kUnit, kTextualProps);

// One class per serialization option, with two or one string properties.
class TPair : public TRemotable {
  DELVAN_CLASS()
 public:
  UnicodeString First = u"1";
  UnicodeString Second = u"2";
};
constexpr TPropInfo kPairProps[] = {MakeProp<&TPair::First>(u"first"),
                                    MakeProp<&TPair::Second>(u"second")};
constinit const TClass TPair::StaticClass =
    DefineClass<TPair, TRemotable>(TPair::StaticClass, u"TPair", kUnit, kPairProps);

class TWrapped : public TRemotable {
  DELVAN_CLASS()
 public:
  UnicodeString Value = u"w";
};
constexpr TPropInfo kWrappedProps[] = {MakeProp<&TWrapped::Value>(u"value")};
constinit const TClass TWrapped::StaticClass =
    DefineClass<TWrapped, TRemotable>(TWrapped::StaticClass, u"TWrapped", kUnit, kWrappedProps);

class TLists : public TRemotable {
  DELVAN_CLASS()
 public:
  ~TLists() override {
    for (TBase* b : Items) delete b;
  }
  TBaseArray Items;
  TIntegerDynArray Numbers{1, 2};
  TIntegerDynArray Inline{3, 4};
  TStringDynArray Loose{u"x"};
};
// Built at start-up: the type overrides are not constant expressions.
const TPropInfo kListsProps[] = {
    MakeProp<&TLists::Items>(u"items", kNoIndex, &TypeInfo_TBaseArray),
    MakeProp<&TLists::Numbers>(u"numbers", kNoIndex, &TypeInfo_TIntegerDynArray),
    MakeProp<&TLists::Inline>(u"inline", IS_UNBD, &TypeInfo_TIntegerDynArray),
    StoredFalse(MakeProp<&TLists::Loose>(u"loose", kNoIndex, &TypeInfo_TStringDynArray)),
};
constinit const TClass TLists::StaticClass =
    DefineClass<TLists, TRemotable>(TLists::StaticClass, u"TLists", kUnit, kListsProps);

// A property of a kind that has no text form.
class TWithSet : public TRemotable {
  DELVAN_CLASS()
 public:
  TSerializationOptions Opts;
};
// Built at start-up: the type overrides are not constant expressions.
const TPropInfo kWithSetProps[] = {
    MakeProp<&TWithSet::Opts>(u"opts", kNoIndex, &TypeInfo_TSerializationOptions)};
constinit const TClass TWithSet::StaticClass =
    DefineClass<TWithSet, TRemotable>(TWithSet::StaticClass, u"TWithSet", kUnit, kWithSetProps);

// A property whose type information is missing.
class TBlindProp : public TRemotable {
  DELVAN_CLASS()
 public:
  std::int32_t X = 0;
};
constexpr TPropInfo BlindProp(TPropInfo p) {
  p.PropType = nullptr;
  return p;
}
constexpr TPropInfo kBlindProps[] = {BlindProp(MakeProp<&TBlindProp::X>(u"x"))};
constinit const TClass TBlindProp::StaticClass =
    DefineClass<TBlindProp, TRemotable>(TBlindProp::StaticClass, u"TBlindProp", kUnit, kBlindProps);

// Registered late, by the test of the writer's per-message registry answers.
class TLate : public TRemotable {
  DELVAN_CLASS()
 public:
  UnicodeString P = u"x";
};
constexpr TPropInfo kLateProps[] = {MakeProp<&TLate::P>(u"p")};
constinit const TClass TLate::StaticClass =
    DefineClass<TLate, TRemotable>(TLate::StaticClass, u"TLate", kUnit, kLateProps);

class TPlain : public TObject {
  DELVAN_CLASS()
};
constinit const TClass TPlain::StaticClass =
    DefineClass<TPlain, TObject>(TPlain::StaticClass, u"TPlain", kUnit);

void RegisterTestTypes() {
  static bool done = false;
  if (done) return;
  done = true;
  TRemotableTypeRegistry& r = RemTypeRegistry();
  for (const TClass* c : {&TScalars::StaticClass, &TBase::StaticClass, &TDerived::StaticClass,
                          &TLiteralDerived::StaticClass, &TOwner::StaticClass, &TLink::StaticClass,
                          &TAttrs::StaticClass, &TLastAttr::StaticClass, &TTextual::StaticClass,
                          &TPair::StaticClass, &TWrapped::StaticClass, &TLists::StaticClass,
                          &TWithSet::StaticClass, &TBlindProp::StaticClass})
    r.RegisterXSClass(c, kNs, c->ClassName());
  r.RegisterXSClass(&TForeign::StaticClass, u"urn:foreign", u"TForeign");
  r.RegisterXSInfo(&TypeInfo_TColour, kNs, u"Colour");
  r.RegisterExternalPropName(&TypeInfo_TColour, u"Green", u"green-ish");
  r.RegisterXSInfo(&TypeInfo_TBaseArray, kNs, u"BaseArray");
  r.RegisterSerializeOptions(&TLiteralDerived::StaticClass, {xoLiteralParam});
  r.RegisterSerializeOptions(&TLastAttr::StaticClass, {xoAttributeOnLastMember});
  r.RegisterSerializeOptions(&TWrapped::StaticClass, {xoSimpleTypeWrapper});
  r.RegisterExternalPropName(&TOwner::StaticClass.Info, u"renamed",
                             u"[ExtName=\"other\", Namespace=\"urn:explicit\"]");
  r.RegisterExternalPropName(&TLists::StaticClass.Info, u"items", u"[ArrayItemName=\"entry\"]");
}

// ---- Harness --------------------------------------------------------------------------

// A converter with an envelope, a Body and an operation element in kNs;
// values are written under the operation element.
class Writer {
 public:
  explicit Writer(TSOAPConvertOptions extra = {soLiteralParams}) {
    test::EnsureDOMVendor();
    RegisterTestTypes();
    FConv = new TOPToSoapDomConvert();
    FKeep = IntfPtr<IOPConvert>(FConv);
    FConv->SetOptions(FConv->Options() | extra);
    FDoc = xml::NewXMLDocument();
    FEnv = FConv->Envelope().MakeEnvelope(FDoc.get(), FConv->Options());
    FBody = FConv->Envelope().MakeBody(FEnv.get(), FConv->Options());
    FOp = FBody->AddChild(u"op", UnicodeString(kNs), false);
  }

  TOPToSoapDomConvert& Conv() { return *FConv; }

  // The operation element's content after writing the value at p as "v" in kNs.
  std::string Write(const TTypeInfo* info, void* p, std::int32_t flags = 0,
                    const UnicodeString& typeName = {},
                    const UnicodeString& uri = UnicodeString(kNs)) {
    FConv->ConvertNativeDataToSoap2(FBody.get(), FOp.get(), u"v", uri, typeName, info, p, flags);
    return Content();
  }
  template <class T>
  std::string WriteObj(T* obj, const TTypeInfo* declared = nullptr) {
    TObject* o = obj;
    return Write(declared ? declared : &T::StaticClass.Info, &o);
  }

  std::string Content() {
    std::string xml = Utf8(FOp->GetXML());
    const std::string open = "<op xmlns=\"urn:writer\">";
    if (xml.rfind(open, 0) == 0 && xml.size() >= open.size() + 5)
      return xml.substr(open.size(), xml.size() - open.size() - 5);
    return xml;  // "<op .../>" when nothing was written
  }
  std::string BodyXml() { return Utf8(FBody->GetXML()); }

 private:
  TOPToSoapDomConvert* FConv;
  IntfPtr<IOPConvert> FKeep;
  IntfPtr<xml::IXMLDocument> FDoc;
  IntfPtr<xml::IXMLNode> FEnv, FBody, FOp;
};

template <class F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return Utf8(e.Message());
  }
  return "<no exception>";
}

// ---- Scalars --------------------------------------------------------------------------

TEST(Writer, ScalarTextByKind) {
  struct Case {
    const TTypeInfo* info;
    std::function<std::string(Writer&, const TTypeInfo*)> write;
    std::string expected;
  };
  auto value = [](auto v) {
    return [v](Writer& w, const TTypeInfo* info) mutable { return w.Write(info, &v); };
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {&TypeInfo_Integer, value(std::int32_t{-42}), "<v>-42</v>"},
      {&TypeInfo_Byte, value(std::uint8_t{255}), "<v>255</v>"},
      {&TypeInfo_SmallInt, value(std::int16_t{-32768}), "<v>-32768</v>"},
      {&TypeInfo_Cardinal, value(std::uint32_t{4294967295u}), "<v>4294967295</v>"},
      {&TypeInfo_Int64, value(std::int64_t{INT64_MIN}), "<v>-9223372036854775808</v>"},
      {&TypeInfo_UInt64, value(std::uint64_t{UINT64_MAX}), "<v>18446744073709551615</v>"},
      {&TypeInfo_Double, value(0.1), "<v>0.1</v>"},
      {&TypeInfo_Double, value(1.0 / 3), "<v>0.333333333333333</v>"},
      {&TypeInfo_Double, value(nan), "<v>NaN</v>"},
      {&TypeInfo_Double, value(inf), "<v>INF</v>"},
      {&TypeInfo_Double, value(-inf), "<v>-INF</v>"},
      {&TypeInfo_Single, value(1.5f), "<v>1.5</v>"},
      {&TypeInfo_Extended, value(2.5L), "<v>2.5</v>"},
      {&TypeInfo_Currency, value(std::int64_t{12345}), "<v>1.2345</v>"},
      {&TypeInfo_Boolean, value(true), "<v>true</v>"},
      {&TypeInfo_Boolean, value(false), "<v>false</v>"},
      {&TypeInfo_WordBool, value(std::uint16_t{2}), "<v>true</v>"},
      {&TypeInfo_TColour, value(TColour::Blue), "<v>Blue</v>"},
      // The registered external name of an enumeration member.
      {&TypeInfo_TColour, value(TColour::Green), "<v>green-ish</v>"},
      // A value outside the name table goes as its number.
      {&TypeInfo_TColour, value(std::uint8_t{9}), "<v>9</v>"},
      {&TypeInfo_Char, value(std::uint8_t{'<'}), "<v>&lt;</v>"},
      {&TypeInfo_WideChar, value(u'\u03a9'), "<v>\xce\xa9</v>"},
      {&TypeInfo_UnicodeString, value(UnicodeString(u"a&b \u0393")), "<v>a&amp;b \xce\x93</v>"},
      {&TypeInfo_UnicodeString, value(UnicodeString()), "<v></v>"},
      {&TypeInfo_AnsiString, value(AnsiString("\xc3\xa9", platform::CP_UTF8)), "<v>\xc3\xa9</v>"},
      {&TypeInfo_TByteDynArray, value(TByteDynArray{'M', 'a', 'n', 'y'}), "<v>TWFueQ==</v>"},
      {&TypeInfo_TByteDynArray, value(TByteDynArray{'M', 'a'}), "<v>TWE=</v>"},
      // Variants name their type: the reader has no declared one.
      {&TypeInfo_Variant, value(Variant(std::int32_t{5})), "<v xsi:type=\"xsd:int\">5</v>"},
      {&TypeInfo_Variant, value(Variant(u"x")), "<v xsi:type=\"xsd:string\">x</v>"},
      {&TypeInfo_Variant, value(Variant(true)), "<v xsi:type=\"xsd:boolean\">true</v>"},
      {&TypeInfo_Variant, value(Variant::Null()), "<v xsi:nil=\"true\"/>"},
      {&TypeInfo_TByteDynArray, value(TByteDynArray{}), "<v></v>"},
      {&TypeInfo_TIntegerDynArray, value(TIntegerDynArray{5, 6}),
       "<v><int>5</int><int>6</int></v>"},
  };
  for (const Case& c : cases) {
    Writer w;
    EXPECT_EQ(c.write(w, c.info), c.expected) << Utf8(c.info->Name);
  }
}

TEST(Writer, DateTimeWithLocalBias) {
  Writer w;
  double dt = 45000.5;  // 2023-03-15 12:00
  const std::string out = w.Write(&TypeInfo_TDateTime, &dt);
  EXPECT_EQ(out, "<v>" + Utf8(DateTimeToXMLTime(dt, true)) + "</v>");
  EXPECT_EQ(out.substr(0, 26), "<v>2023-03-15T12:00:00.000");
}

TEST(Writer, ScalarPropertiesOfAnObject) {
  Writer w;
  TScalars s;
  s.I = 1;
  s.L = -2;
  s.U = 3;
  s.D = 1e20;
  s.F = 0.25f;
  s.B = true;
  s.C = static_cast<std::uint8_t>(TColour::Green);
  s.W = u'z';
  s.Ch = 'q';
  s.A = AnsiString("ansi", platform::CP_UTF8);
  s.Bytes = {0, 255};
  EXPECT_EQ(w.WriteObj(&s),
            "<v><i>1</i><l>-2</l><u>3</u><d>1E20</d><f>0.25</f><b>true</b><c>green-ish</c>"
            "<w>z</w><ch>q</ch><a>ansi</a><dt>" +
                Utf8(DateTimeToXMLTime(0, true)) + "</dt><bytes>AP8=</bytes></v>");
}

// ---- Objects --------------------------------------------------------------------------

TEST(Writer, TypeAttributeOnlyWhenForced) {
  {
    Writer w;
    TBase exact;
    EXPECT_EQ(w.WriteObj(&exact, &TBase::StaticClass.Info), "<v><tag></tag></v>");
  }
  {
    // A descendant of the declared class names its type, with a prefix
    // generated for the type's namespace and declared on the Body.
    Writer w;
    TDerived derived;
    EXPECT_EQ(w.WriteObj(&derived, &TBase::StaticClass.Info),
              "<v xsi:type=\"NS1:TDerived\"><tag></tag><extra>7</extra></v>");
    EXPECT_EQ(w.BodyXml().rfind("<SOAP-ENV:Body xmlns:NS1=\"urn:writer\">", 0), 0u) << w.BodyXml();
  }
  {
    Writer w;
    TLiteralDerived literal;
    EXPECT_EQ(w.WriteObj(&literal, &TBase::StaticClass.Info), "<v><tag></tag></v>");
  }
  {
    // As a property: typed against the property's class.
    Writer w;
    TOwner owner;
    owner.Item = new TDerived();
    EXPECT_NE(w.WriteObj(&owner).find("<item xsi:type=\"NS1:TDerived\">"), std::string::npos);
  }
}

TEST(Writer, InheritedPropertiesInTheirDeclaringClassNamespace) {
  Writer w;
  TForeign f;
  EXPECT_EQ(w.WriteObj(&f), "<v><tag></tag><own xmlns=\"urn:foreign\">o</own></v>");
}

TEST(Writer, NilObjectsAndEmptyValues) {
  {
    // A nil argument: no namespace, nil attribute.
    Writer w;
    TBase* none = nullptr;
    EXPECT_EQ(w.WriteObj(none), "<v xmlns=\"\" xsi:nil=\"true\"/>");
  }
  {
    // A nil property in its namespace; a nil reference property without one;
    // optional skipped; unqualified without namespace; explicit namespace
    // and name from the attribute list.
    Writer w;
    TOwner owner;
    EXPECT_EQ(w.WriteObj(&owner),
              "<v><item xsi:nil=\"true\"/><ref xmlns=\"\" xsi:nil=\"true\"/>"
              "<unq xmlns=\"\">u</unq><other xmlns=\"urn:explicit\">r</other><empty></empty></v>");
  }
  {
    Writer w({soLiteralParams, soDontSendEmptyNodes});
    TOwner owner;
    owner.HasOpt = true;
    EXPECT_EQ(w.WriteObj(&owner),
              "<v><unq xmlns=\"\">u</unq><opt>o</opt><other xmlns=\"urn:explicit\">r</other></v>");
  }
  {
    // A decimal holding 0: its text and nothing else.
    Writer w;
    TXSDecimal dec;
    dec.XSToNative(u"0");
    EXPECT_EQ(w.WriteObj(&dec), "<v>0</v>");
  }
}

TEST(Writer, AttributesTextAndOptions) {
  struct Case {
    const char* what;
    std::function<std::string(Writer&)> write;
    std::string expected;
  };
  const Case cases[] = {
      {"attributes",
       [](Writer& w) {
         TAttrs a;
         a.Stamp = new TXSDecimal();
         a.Stamp->XSToNative(u"1.5");
         return w.WriteObj(&a);
       },
       "<v id=\"i1\" NS1:lang=\"el\" hidden=\"5\" blank=\"\" stamp=\"1.5\"><child>c</child></v>"},
      {"attributes on the last member",
       [](Writer& w) {
         TLastAttr a;
         return w.WriteObj(&a);
       },
       // Only what follows the first element child lands on it.
       "<v id=\"i1\" NS1:lang=\"el\" hidden=\"5\"><child blank=\"\">c</child></v>"},
      {"text property",
       [](Writer& w) {
         TTextual t;
         return w.WriteObj(&t);
       },
       "<v unit=\"kg\">v&amp;</v>"},
      {"simple type wrapper",
       [](Writer& w) {
         TWrapped t;
         return w.WriteObj(&t);
       },
       "<v>w</v>"},
      {"holder class",
       [](Writer& w) {
         TPair p;
         p.SetSerializationOptions({xoHolderClass});
         return w.WriteObj(&p);
       },
       "<first>1</first><second>2</second>"},
  };
  for (const Case& c : cases) {
    Writer w;
    const std::string out = c.write(w);
    // Generated prefixes are declared on the Body, outside this text.
    EXPECT_EQ(out, c.expected) << c.what;
  }
}

TEST(Writer, ArraysAndItemNames) {
  {
    // rpc/literal parameter: wrapper without namespace, items named by
    // ArrayItemName in the Namespace of the attribute text.
    Writer w;
    TBaseArray items{new TBase(), new TDerived()};
    const std::string out = w.Write(&TypeInfo_TBaseArray, &items, 0,
                                    u"[Namespace=\"urn:items\", ArrayItemName=\"it\"]", u"");
    EXPECT_EQ(out,
              "<v xmlns=\"\"><it xmlns=\"urn:items\"><tag xmlns=\"urn:writer\"></tag></it>"
              "<it xmlns=\"urn:items\" xsi:type=\"NS1:TDerived\">"
              "<tag xmlns=\"urn:writer\"></tag><extra xmlns=\"urn:writer\">7</extra></it></v>");
    for (TBase* b : items) delete b;
  }
  {
    // Empty array: the wrapper alone. Inline by flag: items directly.
    Writer w;
    TBaseArray none;
    EXPECT_EQ(w.Write(&TypeInfo_TBaseArray, &none), "<v/>");
    TIntegerDynArray ints{1, 2};
    EXPECT_EQ(w.Write(&TypeInfo_TIntegerDynArray, &ints, IS_UNBD), "<v/><v>1</v><v>2</v>");
  }
  {
    // Array properties: attribute-list item name, wrapper, unbounded, stored False.
    Writer w;
    TLists l;
    l.Items = {new TBase()};
    EXPECT_EQ(w.WriteObj(&l),
              "<v><items><entry><tag></tag></entry></items>"
              "<numbers><int>1</int><int>2</int></numbers>"
              "<inline>3</inline><inline>4</inline><loose>x</loose></v>");
  }
}

TEST(Writer, OneReferenceIdPerObject) {
  Writer w;
  TBaseArray items;
  for (int i = 0; i < 3; ++i) items.push_back(new TBase());
  w.Write(&TypeInfo_TBaseArray, &items);
  UnicodeString ref;
  TBase extra;
  w.Conv().ObjInstanceToSOAP(&extra, nullptr, xml::NewXMLDocument()->AddChild(u"x").get(), u"y",
                             u"", u"", {}, ref);
  EXPECT_EQ(ref, u"4");
  for (TBase* b : items) delete b;
}

// The registry answers a message keeps per class: objects of different
// classes in one message keep their own, and a registration made after a
// message reaches the next one.
class TCachingConvert : public TOPToSoapDomConvert {
 public:
  using TSOAPDomConv::TWriterCacheScope;
};

TEST(Writer, RegistryAnswersPerClassAndPerMessage) {
  {
    Writer w;
    TCachingConvert::TWriterCacheScope message(w.Conv());
    TBaseArray items{new TBase(), new TDerived(), new TBase(), new TDerived()};
    const std::string out = w.Write(&TypeInfo_TBaseArray, &items, 0,
                                    u"[Namespace=\"urn:items\", ArrayItemName=\"it\"]", u"");
    const std::string base = "<it xmlns=\"urn:items\"><tag xmlns=\"urn:writer\"></tag></it>";
    // Each derived item declares the prefix of its type for itself.
    auto derived = [](const std::string& prefix) {
      return "<it xmlns=\"urn:items\" xsi:type=\"" + prefix +
             ":TDerived\"><tag xmlns=\"urn:writer\"></tag><extra "
             "xmlns=\"urn:writer\">7</extra></it>";
    };
    EXPECT_EQ(out, "<v xmlns=\"\">" + base + derived("NS1") + base + derived("NS2") + "</v>");
    for (TBase* b : items) delete b;
  }
  RemTypeRegistry().RegisterXSClass(&TLate::StaticClass, kNs, u"TLate");
  TLate late;
  Writer w;
  {
    TCachingConvert::TWriterCacheScope message(w.Conv());
    EXPECT_EQ(w.WriteObj(&late), "<v><p>x</p></v>");
  }
  // The converter keeps its answers between messages, but not past a change.
  RemTypeRegistry().RegisterExternalPropName(&TLate::StaticClass.Info, u"p", u"q");
  TCachingConvert::TWriterCacheScope message(w.Conv());
  EXPECT_EQ(w.WriteObj(&late), "<v><p>x</p></v><v><q>x</q></v>");
}

// ---- Failures -------------------------------------------------------------------------

TEST(Writer, FailuresAndStateAfterThem) {
  struct Case {
    std::function<void(Writer&)> write;
    std::string message;
  };
  TLink a, b;
  const Case cases[] = {
      {[&](Writer& w) {
         a.Next = &a;
         w.WriteObj(&a);
       },
       "Must enable multiref output for objects when serializing a graph of objects - (TLink)"},
      {[&](Writer& w) {
         // A -> B -> B: caught at B's second visit.
         a.Next = &b;
         b.Next = &b;
         w.WriteObj(&a);
       },
       "Must enable multiref output for objects when serializing a graph of objects - (TLink)"},
      {[](Writer& w) {
         TPlain p;
         TObject* o = &p;
         w.Write(&TPlain::StaticClass.Info, &o);
       },
       "Conversion from class TPlain to SOAP is not supported - SOAP classes must derive from "
       "TRemotable"},
      {[](Writer& w) {
         TWithSet s;
         w.WriteObj(&s);
       },
       "Internal error: data type kind Set:(TSerializationOptions)  cannot be converted to and "
       "from text"},
      {[](Writer& w) {
         TBlindProp s;
         w.WriteObj(&s);
       },
       "Remotable Type x not registered"},
      {[](Writer& w) {
         TSerializationOptions s;
         w.Write(&TypeInfo_TSerializationOptions, &s);
       },
       "Datatype of TypeKind: Set not supported as argument for remote invocation"},
  };
  for (const Case& c : cases) {
    Writer w;
    EXPECT_EQ(MessageOf([&] { c.write(w); }), c.message);
    // The converter is ready for the next value: no object is left listed.
    a.Next = b.Next = nullptr;
    EXPECT_NO_THROW(w.WriteObj(&a));
  }
}

}  // namespace
}  // namespace delvan::soap
