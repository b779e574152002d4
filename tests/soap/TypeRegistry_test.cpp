#include "soap/TypeRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "rtl/DynArrayTypes.h"
#include "soap/InvokeRegistry.h"
#include "soap/RemotableException.h"
#include "soap/SOAPAttachment.h"
#include "soap/SOAPConst.h"
#include "soap/XMLData.h"
#include "soap/XSBuiltIns.h"

namespace delvan::soap {
namespace {

using rtl::TTypeInfo;

// ---- Test types ---------------------------------------------------------------------

class TBase : public TRemotable {
  DELVAN_CLASS()
};
class TMid : public TBase {
  DELVAN_CLASS()
};
class TLeaf : public TMid {
  DELVAN_CLASS()
};
class TNeverRegistered : public TRemotable {
  DELVAN_CLASS()
};
class EMyFault : public ERemotableException {
  DELVAN_CLASS()
};
constinit const TClass TBase::StaticClass =
    rtl::DefineClass<TBase, TRemotable>(TBase::StaticClass, u"TBase", u"Tests");
constinit const TClass TMid::StaticClass =
    rtl::DefineClass<TMid, TBase>(TMid::StaticClass, u"TMid", u"Tests");
constinit const TClass TLeaf::StaticClass =
    rtl::DefineClass<TLeaf, TMid>(TLeaf::StaticClass, u"TLeaf", u"Tests");
constinit const TClass TNeverRegistered::StaticClass =
    rtl::DefineClass<TNeverRegistered, TRemotable>(TNeverRegistered::StaticClass,
                                                   u"TNeverRegistered", u"Tests.Auto");
constinit const TClass EMyFault::StaticClass =
    rtl::DefineClass<EMyFault, ERemotableException>(EMyFault::StaticClass, u"EMyFault", u"Tests");

// An enumeration declared in one module and a subrange of it in another.
constexpr std::u16string_view kColourNames[] = {u"red", u"green"};
extern const TTypeInfo TypeInfo_TColour;
constinit const rtl::TOrdinalTypeData kColour{rtl::otUByte, 0, 1, &TypeInfo_TColour, kColourNames};
constinit const TTypeInfo TypeInfo_TColour{rtl::tkEnumeration, u"TColour", u"Colours", &kColour};
constinit const rtl::TOrdinalTypeData kRed{rtl::otUByte, 0, 0, &TypeInfo_TColour, kColourNames};
constinit const TTypeInfo TypeInfo_TRed{rtl::tkEnumeration, u"TRed", u"Reds", &kRed};
// A second record of the Integer type, as a separately built module has.
constinit const rtl::TOrdinalTypeData kOtherInteger{
    rtl::otSLong, INT32_MIN, INT32_MAX, nullptr, {}};
constinit const TTypeInfo TypeInfo_OtherInteger{rtl::tkInteger, u"Integer", u"Elsewhere",
                                                &kOtherInteger};

struct Answer {
  UnicodeString URI, Name;
  bool IsScalar = false;
  bool found = false;
};
Answer InfoAnswer(TRemotableTypeRegistry& r, const TTypeInfo* info) {
  Answer a;
  a.found = r.InfoToURI(info, a.URI, a.Name, &a.IsScalar);
  return a;
}
Answer ClassAnswer(TRemotableTypeRegistry& r, const TClass* cls, bool tryToRegister = true) {
  Answer a;
  a.found = r.ClassToURI(cls, a.URI, a.Name, &a.IsScalar, tryToRegister);
  return a;
}

// ---- Registration and lookup --------------------------------------------------------------

TEST(TypeRegistry, DefaultNamespacesAndNames) {
  struct Case {
    const TTypeInfo* info;
    const char16_t* prefix;
    const char16_t* uri;
  };
  const Case cases[] = {
      {&TBase::StaticClass.Info, u"", u"urn:Tests"},
      {&TBase::StaticClass.Info, u"P", u"urn:P-Tests"},
      {&TypeInfo_TRed, u"", u"urn:Colours"},  // the base type's module
      {&rtl::TypeInfo_TIntegerDynArray, u"", u"urn:System.Types"},
      {&rtl::TypeInfo_Integer, u"", u"urn:"},
      {&rtl::TypeInfo_Integer, u"P", u"urn:P-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Utf8(c.info->Name) + " " + test::Utf8(c.prefix));
    const UnicodeString old = AppNameSpacePrefix();
    SetAppNameSpacePrefix(c.prefix);
    TRemotableTypeRegistry r;
    r.RegisterXSInfo(c.info);
    SetAppNameSpacePrefix(old);
    const Answer a = InfoAnswer(r, c.info);
    EXPECT_EQ(a.URI, c.uri);
    EXPECT_EQ(a.Name, c.info->Name);
    EXPECT_EQ(r.Entries().size(), 1u);
  }
  // The type information of a class fills the class.
  TRemotableTypeRegistry r;
  r.RegisterXSInfo(&TBase::StaticClass.Info, u"urn:b", u"Base");
  EXPECT_EQ(r.URIToClass(u"urn:b", u"Base"), &TBase::StaticClass);
}

TEST(TypeRegistry, RepeatedRegistrationsAndNames) {
  TRemotableTypeRegistry r;
  r.RegisterXSClass(&TBase::StaticClass, u"urn:a", u"A", u"", true, ocNoMultiRef);
  r.RegisterXSClass(&TBase::StaticClass, u"urn:b", u"A");  // same name: ignored
  r.RegisterXSClass(&TBase::StaticClass, u"urn:c");        // no name: ignored
  r.RegisterXSClass(&TBase::StaticClass, u"urn:d", u"D");  // another name: kept
  r.RegisterXSClass(&TMid::StaticClass, u"urn:m", u"Mid", u"MidExt");
  r.RegisterXSClass(nullptr, u"urn:x", u"X");
  EXPECT_EQ(r.Entries().size(), 3u);

  // The first name is written, every name is read.
  const Answer a = ClassAnswer(r, &TBase::StaticClass);
  EXPECT_EQ(a.URI, u"urn:a");
  EXPECT_EQ(a.Name, u"A");
  EXPECT_TRUE(a.IsScalar);
  bool scalar = false;
  EXPECT_EQ(r.URIToClass(u"urn:d", u"D", &scalar), &TBase::StaticClass);
  EXPECT_FALSE(scalar);
  EXPECT_EQ(r.URIToClass(u"urn:b", u"A"), nullptr);
  EXPECT_EQ(r.URIToClass(u"urn:a", u"a"), nullptr);  // names are case-sensitive
  EXPECT_EQ(r.URIToClass(u"URN:A", u"A"), nullptr);

  // The external name is written and matched by class; the stored name by type.
  EXPECT_EQ(ClassAnswer(r, &TMid::StaticClass).Name, u"MidExt");
  EXPECT_EQ(r.URIToClass(u"urn:m", u"MidExt"), &TMid::StaticClass);
  EXPECT_EQ(r.URIToClass(u"urn:m", u"Mid"), nullptr);
  EXPECT_EQ(r.URIToInfo(u"urn:m", u"Mid"), &TMid::StaticClass.Info);
  EXPECT_EQ(r.URIToInfo(u"urn:m", u"MidExt"), nullptr);

  // A matching entry that is not a class yields no class.
  r.RegisterXSInfo(&rtl::TypeInfo_Integer, u"urn:a", u"I");
  r.RegisterXSClass(&TLeaf::StaticClass, u"urn:a", u"I");
  EXPECT_EQ(r.URIToClass(u"urn:a", u"I"), nullptr);

  // Options of the first entry of a class; defaults for others.
  EXPECT_TRUE(r.IsClassScalar(&TBase::StaticClass));
  EXPECT_EQ(r.ClassOptions(&TBase::StaticClass), ocNoMultiRef);
  EXPECT_FALSE(r.IsClassScalar(&TNeverRegistered::StaticClass));
  EXPECT_EQ(r.ClassOptions(&TNeverRegistered::StaticClass), ocDefault);
  r.RegisterSerializeOptions(&TMid::StaticClass, {xoInlineArrays, xoLiteralParam});
  r.RegisterSerializeOptions(&TNeverRegistered::StaticClass, {xoHolderClass});
  EXPECT_EQ(r.SerializeOptions(&TMid::StaticClass).Bits(), 4u + 8u);
  EXPECT_TRUE(r.SerializeOptions(&TNeverRegistered::StaticClass).IsEmpty());
  EXPECT_TRUE(r.SerializeOptions(&rtl::TypeInfo_Integer).IsEmpty());
  EXPECT_EQ(r.Entries().size(), 5u);  // the options made no entry

  r.UnRegisterXSClass(&TBase::StaticClass);
  EXPECT_EQ(r.URIToClass(u"urn:d", u"D"), nullptr);
  EXPECT_EQ(r.Entries().size(), 3u);
}

TEST(TypeRegistry, AutomaticRegistration) {
  TRemotableTypeRegistry r;
  // Not found and not registered when asked not to or when switched off.
  EXPECT_FALSE(ClassAnswer(r, &TNeverRegistered::StaticClass, false).found);
  r.SetAutoRegisterNativeTypes(false);
  EXPECT_FALSE(ClassAnswer(r, &TNeverRegistered::StaticClass).found);
  UnicodeString uri = u"x", name = u"y";
  EXPECT_FALSE(r.TypeInfoToXSD(&rtl::TypeInfo_Integer, uri, name));
  EXPECT_EQ(uri, u"");
  EXPECT_EQ(name, u"");
  EXPECT_TRUE(r.Entries().empty());
  r.SetAutoRegisterNativeTypes(true);

  const Answer a = ClassAnswer(r, &TNeverRegistered::StaticClass);
  EXPECT_TRUE(a.found);
  EXPECT_EQ(a.URI, u"urn:Tests.Auto");
  EXPECT_EQ(a.Name, u"TNeverRegistered");
  EXPECT_FALSE(a.IsScalar);
  EXPECT_EQ(ClassAnswer(r, &TNeverRegistered::StaticClass).URI, u"urn:Tests.Auto");
  EXPECT_EQ(r.Entries().size(), 1u);
  EXPECT_EQ(r.URIToClass(u"urn:Tests.Auto", u"TNeverRegistered"), &TNeverRegistered::StaticClass);
  EXPECT_EQ(r.URIToClass(u"urn:Tests.Auto", u"tneverregistered"), nullptr);

  // Other types through TypeInfoToXSD; a record of the same type found by
  // kind and name answers for another.
  EXPECT_TRUE(r.TypeInfoToXSD(&rtl::TypeInfo_Integer, uri, name));
  EXPECT_EQ(uri, u"urn:");
  EXPECT_EQ(name, u"Integer");
  EXPECT_EQ(InfoAnswer(r, &TypeInfo_OtherInteger).URI, u"urn:");
  EXPECT_EQ(r.Entries().size(), 2u);
  EXPECT_FALSE(ClassAnswer(r, nullptr).found);
  EXPECT_FALSE(InfoAnswer(r, nullptr).found);
}

// Answers handed out by reference stay valid and unchanged while the entries
// behind them move (many registrations) or go (removal).
TEST(TypeRegistry, StoredAnswersOutliveLaterRegistrations) {
  TRemotableTypeRegistry r;
  r.RegisterXSClass(&TBase::StaticClass, u"urn:a-namespace-long-enough-to-be-on-the-heap",
                    u"TheBaseTypeWithALongName");
  const UnicodeString *uri = nullptr, *name = nullptr;
  bool scalar = true;
  ASSERT_TRUE(r.ClassToURI(&TBase::StaticClass, uri, name, &scalar));
  EXPECT_FALSE(scalar);
  RegisterBuiltInTypes(r);  // grows the entry list well past its first size
  r.UnRegisterXSClass(&TBase::StaticClass);
  EXPECT_EQ(*uri, u"urn:a-namespace-long-enough-to-be-on-the-heap");
  EXPECT_EQ(*name, u"TheBaseTypeWithALongName");

  // A miss answers empty texts, also for a class that is not registered.
  EXPECT_FALSE(r.ClassToURI(&TBase::StaticClass, uri, name, nullptr, false));
  EXPECT_EQ(*uri, u"");
  EXPECT_EQ(*name, u"");
  EXPECT_FALSE(r.TypeInfoToXSD(nullptr, uri, name));
  EXPECT_EQ(*name, u"");
  // The written name is the external one when set, as the copying answer gives.
  r.RegisterXSClass(&TMid::StaticClass, u"urn:m", u"Mid", u"MidOnTheWire");
  ASSERT_TRUE(r.TypeInfoToXSD(&TMid::StaticClass.Info, uri, name));
  EXPECT_EQ(*name, u"MidOnTheWire");
  EXPECT_EQ(ClassAnswer(r, &TMid::StaticClass).Name, u"MidOnTheWire");
}

TEST(TypeRegistry, PropertyNames) {
  TRemotableTypeRegistry r;
  for (const TClass* c :
       {&TRemotable::StaticClass, &TBase::StaticClass, &TMid::StaticClass, &TLeaf::StaticClass})
    r.RegisterXSClass(c);
  r.RegisterExternalPropName(&TBase::StaticClass.Info, u"a", u"A");
  r.RegisterExternalPropName(&TMid::StaticClass.Info, u"b", u"B");
  r.RegisterExternalPropName(&TMid::StaticClass.Info, u"b", u"B2");  // the first stays in force
  r.RegisterExternalPropName(&TRemotable::StaticClass.Info, u"x", u"X");
  r.RegisterExternalPropName(&TNeverRegistered::StaticClass.Info, u"n", u"N");  // no entry
  const TTypeInfo* leaf = &TLeaf::StaticClass.Info;
  EXPECT_EQ(r.GetExternalPropName(leaf, u"a"), u"A");  // from the grandparent
  EXPECT_EQ(r.GetExternalPropName(leaf, u"b"), u"B");
  EXPECT_EQ(r.GetExternalPropName(leaf, u"B"), u"B");  // case-sensitive
  EXPECT_EQ(r.GetExternalPropName(leaf, u"x"), u"x");  // TRemotable is not walked
  EXPECT_EQ(r.GetExternalPropName(&TRemotable::StaticClass.Info, u"x"), u"X");
  EXPECT_EQ(r.GetExternalPropName(&TNeverRegistered::StaticClass.Info, u"n"), u"n");
  EXPECT_EQ(r.GetExternalPropName(nullptr, u"p"), u"p");
  EXPECT_EQ(r.GetInternalPropName(&TBase::StaticClass.Info, u"A"), u"a");
  EXPECT_EQ(r.GetInternalPropName(leaf, u"A"), u"A");  // no parent walk

  // The stored form: null where the name stays, and a rename that stays
  // valid while further renames are appended.
  EXPECT_EQ(r.FindExternalPropName(leaf, u"x"), nullptr);
  r.RegisterExternalPropName(&TMid::StaticClass.Info, u"long", u"a-long-name-on-the-wire");
  const UnicodeString* ext = r.FindExternalPropName(leaf, u"long");
  ASSERT_NE(ext, nullptr);
  for (int i = 0; i < 40; ++i)
    r.RegisterExternalPropName(&TMid::StaticClass.Info, u"more", u"yet-another-long-name");
  EXPECT_EQ(*ext, u"a-long-name-on-the-wire");
}

// ---- The built-in registrations ---------------------------------------------------------

TEST(TypeRegistry, BuiltInTypesAreWrittenUnderTheirFirstName) {
  struct Case {
    const TTypeInfo* info;
    UnicodeStringView uri;
    const char16_t* name;
  };
  const UnicodeStringView xsd = XMLSchemaNameSpace, lib = SOAPLibraryTypesNamespace;
  const Case cases[] = {
      {&rtl::TypeInfo_Boolean, xsd, u"boolean"},
      {&rtl::TypeInfo_ShortInt, xsd, u"byte"},
      {&rtl::TypeInfo_Byte, xsd, u"unsignedByte"},
      {&rtl::TypeInfo_SmallInt, xsd, u"short"},
      {&rtl::TypeInfo_Word, xsd, u"unsignedShort"},
      {&rtl::TypeInfo_Cardinal, xsd, u"unsignedInt"},
      {&rtl::TypeInfo_Integer, xsd, u"int"},
      {&rtl::TypeInfo_Int64, xsd, u"long"},
      {&rtl::TypeInfo_Single, xsd, u"float"},
      {&rtl::TypeInfo_Double, xsd, u"double"},
      {&rtl::TypeInfo_Extended, xsd, u"double"},
      {&rtl::TypeInfo_Currency, xsd, u"double"},
      {&rtl::TypeInfo_Comp, xsd, u"double"},
      {&rtl::TypeInfo_Real, xsd, u"double"},
      {&rtl::TypeInfo_AnsiString, xsd, u"string"},
      {&rtl::TypeInfo_WideString, xsd, u"string"},
      {&rtl::TypeInfo_UnicodeString, xsd, u"string"},
      {&rtl::TypeInfo_ShortString, xsd, u"string"},
      {&rtl::TypeInfo_Char, xsd, u"string"},
      {&rtl::TypeInfo_WideChar, xsd, u"string"},
      {&rtl::TypeInfo_TByteDynArray, xsd, u"base64Binary"},
      {&rtl::TypeInfo_Variant, xsd, u"anyType"},
      {&rtl::TypeInfo_OleVariant, xsd, u"anyType"},
      {&TXMLData::StaticClass.Info, xsd, u"schema"},
      {&rtl::TypeInfo_TIntegerDynArray, lib, u"TIntegerDynArray"},
      {&rtl::TypeInfo_TLongWordDynArray, lib, u"TLongWordDynArray"},
      {&rtl::TypeInfo_TWideStringDynArray, lib, u"TWideStringDynArray"},
      {&TSOAPAttachment::StaticClass.Info, xsd, u"base64Binary"},
      {&TXSTime::StaticClass.Info, xsd, u"time"},
      {&TXSDate::StaticClass.Info, xsd, u"date"},
      {&TXSDateTime::StaticClass.Info, xsd, u"dateTime"},
      {&TXSDuration::StaticClass.Info, xsd, u"duration"},
      {&TXSDecimal::StaticClass.Info, xsd, u"decimal"},
      {&TXSHexBinary::StaticClass.Info, xsd, u"hexBinary"},
      {&TXSString::StaticClass.Info, xsd, u"string"},
      {&TXSBoolean::StaticClass.Info, xsd, u"boolean"},
      {&TXSInteger::StaticClass.Info, xsd, u"int"},
      {&TXSLong::StaticClass.Info, xsd, u"long"},
      {&rtl::TypeInfo_TDateTime, xsd, u"dateTime"},
      {&rtl::TypeInfo_ByteBool, xsd, u"boolean"},
      {&rtl::TypeInfo_WordBool, xsd, u"boolean"},
      {&rtl::TypeInfo_LongBool, xsd, u"boolean"},
  };
  TRemotableTypeRegistry& r = RemClassRegistry();
  const std::size_t before = r.Entries().size();
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Utf8(c.info->Name));
    UnicodeString uri, name;
    EXPECT_TRUE(r.TypeInfoToXSD(c.info, uri, name));
    EXPECT_EQ(uri, c.uri);
    EXPECT_EQ(name, c.name);
  }
  EXPECT_EQ(r.Entries().size(), before);  // all were there already

  // Holder classes are scalar; the XML fragment and attachment classes are
  // never multi-reference.
  EXPECT_TRUE(r.IsClassScalar(&TXSDateTime::StaticClass));
  EXPECT_TRUE(r.IsClassScalar(&TXSLong::StaticClass));
  EXPECT_FALSE(r.IsClassScalar(&TXMLData::StaticClass));
  EXPECT_EQ(r.ClassOptions(&TXMLData::StaticClass), ocNoMultiRef);
  EXPECT_EQ(r.ClassOptions(&TSOAPAttachment::StaticClass), ocNoMultiRef);

  // The head and the tail of the built-in order.
  const std::vector<TRemRegEntry> entries = r.Entries();
  const char16_t* head[] = {u"boolean",       u"byte",        u"unsignedByte", u"short",
                            u"unsignedShort", u"unsignedInt", u"int",          u"long",
                            u"unsignedLong",  u"integer"};
  for (std::size_t i = 0; i < std::size(head); ++i) EXPECT_EQ(entries[i].Name, head[i]);
  auto tail = std::find_if(entries.begin(), entries.end(), [](const TRemRegEntry& e) {
    return e.ClassType == &TXSLong::StaticClass;
  });
  ASSERT_LE(tail + 5, entries.end());
  EXPECT_EQ(tail[1].Info, &rtl::TypeInfo_TDateTime);
  EXPECT_EQ(tail[2].Info, &rtl::TypeInfo_ByteBool);
  EXPECT_EQ(tail[3].Info, &rtl::TypeInfo_WordBool);
  EXPECT_EQ(tail[4].Info, &rtl::TypeInfo_LongBool);
}

TEST(TypeRegistry, XMLTypesToTypes) {
  struct Case {
    UnicodeStringView uri;
    const char16_t* name;
    const TTypeInfo* info;  // XSDToTypeInfo
    const TClass* cls;      // URIToClass
  };
  const UnicodeStringView xsd = XMLSchemaNameSpace, enc = SOAPEncodingNamespaces[0],
                          lib = SOAPLibraryTypesNamespace;
  const Case cases[] = {
      {xsd, u"unsignedLong", &rtl::TypeInfo_Int64, nullptr},
      {xsd, u"integer", &rtl::TypeInfo_Int64, nullptr},
      {xsd, u"double", &rtl::TypeInfo_Double, nullptr},
      {xsd, u"string", &rtl::TypeInfo_AnsiString, nullptr},  // the holder class comes later
      {xsd, u"token", &rtl::TypeInfo_AnsiString, nullptr},
      {xsd, u"ur-type", &rtl::TypeInfo_Variant, nullptr},
      {xsd, u"base64Binary", &rtl::TypeInfo_TByteDynArray, nullptr},
      {xsd, u"bin.base64", &rtl::TypeInfo_TByteDynArray, nullptr},
      {enc, u"base64", &rtl::TypeInfo_TByteDynArray, nullptr},
      {enc, u"bin.base64", nullptr, nullptr},
      {xsd, u"dateTime", &TXSDateTime::StaticClass.Info, &TXSDateTime::StaticClass},
      {xsd, u"timeInstant", &TXSDateTime::StaticClass.Info, &TXSDateTime::StaticClass},
      {xsd, u"positiveInteger", &TXSDecimal::StaticClass.Info, &TXSDecimal::StaticClass},
      {xsd, u"timeDuration", &TXSDuration::StaticClass.Info, &TXSDuration::StaticClass},
      {xsd, u"schema", &TXMLData::StaticClass.Info, &TXMLData::StaticClass},
      {xsd, u"boolean", &rtl::TypeInfo_Boolean, nullptr},
      {xsd, u"Boolean", nullptr, nullptr},
      {lib, u"TSOAPAttachment", &TSOAPAttachment::StaticClass.Info, &TSOAPAttachment::StaticClass},
      {lib, u"TStringDynArray", &rtl::TypeInfo_TStringDynArray, nullptr},
      {XMLSchemaNamespaces[0], u"int", nullptr, nullptr},
  };
  const TRemotableTypeRegistry& r = RemClassRegistry();
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Utf8(c.uri) + " " + test::Utf8(c.name));
    EXPECT_EQ(r.XSDToTypeInfo(c.uri, c.name), c.info);
    EXPECT_EQ(r.URIToClass(c.uri, c.name), c.cls);
  }
  EXPECT_EQ(r.GetRegisteredClassForBuiltInXSD(u"hexBinary"), &TXSHexBinary::StaticClass);
  EXPECT_EQ(r.GetRegisteredClassForBuiltInXSD(u"string"), nullptr);
  EXPECT_EQ(r.GetSimpleBuiltInXSDType(xsd, u"gYear"), &rtl::TypeInfo_AnsiString);
}

TEST(TypeRegistry, VariantTypes) {
  struct Case {
    Variant value;
    const TTypeInfo* info;    // or
    const char16_t* message;  // of the ETypeRegistryException
  };
  const Case cases[] = {
      {Variant::OfInteger(1, varSmallint), &rtl::TypeInfo_SmallInt, nullptr},
      {Variant(std::int32_t{1}), &rtl::TypeInfo_Integer, nullptr},
      {Variant::OfSingle(1), &rtl::TypeInfo_Single, nullptr},
      {Variant(1.5), &rtl::TypeInfo_Double, nullptr},
      {Variant::OfInteger(1, varCurrency), &rtl::TypeInfo_Double, nullptr},
      // The date-time value type, not the holder class registered first.
      {Variant::OfInteger(1, varDate), &rtl::TypeInfo_TDateTime, nullptr},
      {Variant::OfInteger(0, varOleStr), &rtl::TypeInfo_WideString, nullptr},
      {Variant::OfInteger(0, varString), &rtl::TypeInfo_WideString, nullptr},
      {Variant(true), &rtl::TypeInfo_Boolean, nullptr},
      {Variant::OfInteger(0, varVariant), &rtl::TypeInfo_Variant, nullptr},
      {Variant::OfInteger(1, varShortInt), &rtl::TypeInfo_ShortInt, nullptr},
      {Variant::OfInteger(1, varByte), &rtl::TypeInfo_Byte, nullptr},
      {Variant::OfInteger(1, varWord), &rtl::TypeInfo_Word, nullptr},
      {Variant(std::uint32_t{1}), &rtl::TypeInfo_Cardinal, nullptr},
      {Variant(std::int64_t{1}), &rtl::TypeInfo_Int64, nullptr},
      {Variant(u"text"), &rtl::TypeInfo_UnicodeString, nullptr},
      {Variant(), nullptr, u"Unsuppported variant type 0"},
      {Variant::Null(), nullptr, u"Unsuppported variant type 1"},
      {Variant::OfInteger(0, varUnknown), nullptr, u"Unsuppported variant type 13"},
      {Variant(std::uint64_t{1}), nullptr, u"Unsuppported variant type 21"},
      {Variant::OfInteger(0, static_cast<TVarType>(0x2011)), nullptr,
       u"Unsuppported variant type 8209"},
      {Variant::OfInteger(0, varDispatch), nullptr, u"varDispatch type not supported"},
      {Variant::OfInteger(0, varError), nullptr, u"varError type not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.value.VarType()));
    if (c.info) {
      EXPECT_EQ(RemTypeRegistry().VariantToInfo(c.value), c.info);
      continue;
    }
    try {
      RemTypeRegistry().VariantToInfo(c.value);
      ADD_FAILURE() << "no exception";
    } catch (const ETypeRegistryException& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  // Without a registered date-time type a date variant has no type.
  TRemotableTypeRegistry empty;
  EXPECT_THROW(empty.VariantToInfo(Variant::OfInteger(1, varDate)), ETypeRegistryException);
}

TEST(TypeRegistry, FaultClassesAndTheirFields) {
  TRemotableTypeRegistry r;
  r.RegisterXSClass(&EMyFault::StaticClass, u"urn:faults", u"MyFault");
  const TClass* cls = r.URIToClass(u"urn:faults", u"MyFault");
  ASSERT_NE(cls, nullptr);
  EXPECT_TRUE(cls->InheritsFrom(&ERemotableException::StaticClass));
  std::unique_ptr<TObject> made(cls->NewInstance());
  auto* fault = dynamic_cast<ERemotableException*>(made.get());
  ASSERT_NE(fault, nullptr);
  fault->SetFaultReason(u"reason");
  EXPECT_EQ(fault->Message(), u"reason");
  EXPECT_STREQ(fault->what(), "reason");

  const ERemotableException e(u"m", u"code", u"actor", u"el", u"node", u"role");
  EXPECT_EQ(e.FaultReason(), u"m");
  EXPECT_EQ(e.FaultCode(), u"code");
  EXPECT_EQ(e.FaultActor(), u"actor");
  EXPECT_EQ(e.FaultReasonLang(), u"el");
  EXPECT_EQ(e.FaultNode(), u"node");
  EXPECT_EQ(e.FaultRole(), u"role");
  EXPECT_EQ(e.FaultDetail(), u"");
}

}  // namespace
}  // namespace delvan::soap
