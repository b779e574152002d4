#include "soap/InvokeRegistry.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "TestSupport.h"
#include "soap/SOAPHeader.h"
#include "soap/TypeRegistry.h"

namespace delvan::soap {
namespace {

using rtl::TTypeInfo;

// ---- GetRegInfo ---------------------------------------------------------------------

struct RegInfoCase {
  const char16_t* text;
  const char16_t* key;
  const char16_t* value;  // null: not found
};

// clang-format off
const RegInfoCase kRegInfoCases[] = {
    {u"[Namespace=\"urn:a\"]", u"Namespace", u"urn:a"},
    {u"[Namespace='urn:a']", u"Namespace", u"urn:a"},
    {u"[Namespace=`urn:a`]", u"Namespace", u"urn:a"},
    {u"[Namespace=\"n\", ArrayItemName=\"A\"]", u"Namespace", u"n"},
    {u"[Namespace=\"n\", ArrayItemName=\"A\"]", u"ArrayItemName", u"A"},
    {u"[ \tNamespace\r\n=  'n' ]", u"Namespace", u"n"},
    {u"[Name=\"a\", Namespace=\"n\"]", u"Namespace", u"n"},
    {u"[Namespace=\"n\"]", u"Name", nullptr},
    {u"[NamespaceX=\"a\", Namespace=\"n\"]", u"Namespace", u"n"},
    {u"[A=\"1\",,, ,B=\"2\"]", u"B", u"2"},
    {u"[Namespace=\"a'b]c\"]", u"Namespace", u"a'b]c"},
    {u"[Namespace=\"\"]", u"Namespace", u""},
    {u"[ExtName=\"[x]\"]", u"ExtName", u"[x]"},
    // Keys are case-sensitive.
    {u"[namespace=\"n\"]", u"Namespace", nullptr},
    // A digit ends the key scan, and then the parse stops.
    {u"[Ns1=\"x\", Namespace=\"n\"]", u"Namespace", nullptr},
    // Malformed lists.
    {u"[Namespace=\"n\"", u"Namespace", nullptr},
    {u"[Namespace=\"n\"] ", u"Namespace", nullptr},
    {u"Namespace=\"n\"]", u"Namespace", nullptr},
    {u"[Namespace=\"n]", u"Namespace", nullptr},
    {u"[Namespace=n]", u"Namespace", nullptr},
    {u"[Namespace \"n\"]", u"Namespace", nullptr},
    {u"[ArrayItemName=\"A\"]", u"Namespace", nullptr},
    {u"[A=\"1\" B=\"2\"]", u"B", u"2"},
    {u"[]", u"Namespace", nullptr},
    {u"[=]", u"", nullptr},
    {u"[=\"v\"]", u"", u"v"},
    {u"[", u"Namespace", nullptr},
    {u"", u"Namespace", nullptr},
};
// clang-format on

TEST(GetRegInfo, AttributeTexts) {
  for (const RegInfoCase& c : kRegInfoCases) {
    SCOPED_TRACE(test::Utf8(c.text) + " / " + test::Utf8(c.key));
    UnicodeString value = u"unchanged";
    const bool found = GetRegInfo(c.text, c.key, value);
    EXPECT_EQ(found, c.value != nullptr);
    if (c.value) {
      EXPECT_EQ(value, c.value);
    }
  }
  UnicodeString value;
  EXPECT_TRUE(GetRegInfo(u"[ArrayItemNS=\"urn:i\"]", iaArrayItemNamespace, value));
  EXPECT_EQ(value, u"urn:i");
}

// Every cut of well-formed and malformed texts, and random texts over the
// characters the scan reacts to: nothing is read outside the text (the
// sanitizer build would stop), and a value found is a piece of the text.
TEST(GetRegInfo, HostileTextsStayInsideTheText) {
  std::vector<UnicodeString> texts;
  for (const RegInfoCase& c : kRegInfoCases) {
    const UnicodeString t = c.text;
    for (std::size_t b = 0; b <= t.size(); ++b)
      for (std::size_t e = b; e <= t.size(); ++e) texts.push_back(t.substr(b, e - b));
  }
  std::mt19937 rng(12345);
  const UnicodeString alphabet = u"[]=\"'`, \t\x01aN9]";
  for (int i = 0; i < 20000; ++i) {
    UnicodeString t;
    const std::size_t n = rng() % 16;
    for (std::size_t k = 0; k < n; ++k) t += alphabet[rng() % alphabet.size()];
    texts.push_back(t);
  }
  const UnicodeString keys[] = {u"",  u"a", u"aN", u"Namespace",
                                u"[", u"]", u"=",  u"aaaaaaaaaaaaaaaaaa"};
  for (const UnicodeString& t : texts)
    for (const UnicodeString& key : keys) {
      // Exactly-sized copy, so that a read past the end is a heap overflow.
      auto copy = std::make_unique<char16_t[]>(t.size() ? t.size() : 1);
      std::copy(t.begin(), t.end(), copy.get());
      UnicodeString value;
      if (GetRegInfo(UnicodeStringView(copy.get(), t.size()), key, value)) {
        EXPECT_NE(t.find(value), UnicodeString::npos) << test::Utf8(t);
      }
    }
}

// ---- Test interfaces ------------------------------------------------------------------

constexpr rtl::TMethodInfo kMethods[] = {{u"DoIt", rtl::ccStdCall, {}, nullptr}};

constexpr TGUID kFooIID = TGUID::Parse("{11111111-2222-3333-4444-555555555555}");
constinit const rtl::TInterfaceTypeData kFooData{&rtl::TypeInfo_IInvokable, kFooIID, true,
                                                 kMethods};
constinit const TTypeInfo TypeInfo_IFoo{rtl::tkInterface, u"IFoo", u"Bar", &kFooData};

constexpr TGUID kBazIID = TGUID::Parse("{11111111-2222-3333-4444-666666666666}");
constinit const rtl::TInterfaceTypeData kBazData{&rtl::TypeInfo_IInvokable, kBazIID, true,
                                                 kMethods};
constinit const TTypeInfo TypeInfo_IBaz{rtl::tkInterface, u"IBaz", u"Bar", &kBazData};

// Sets AppNameSpacePrefix for one scope.
class ScopedPrefix {
 public:
  explicit ScopedPrefix(UnicodeStringView p) : FOld(AppNameSpacePrefix()) {
    SetAppNameSpacePrefix(p);
  }
  ~ScopedPrefix() { SetAppNameSpacePrefix(FOld); }

 private:
  UnicodeString FOld;
};

TEST(InvokableRegistry, InterfaceRegistration) {
  {
    TInvokableClassRegistry r;
    r.RegisterInterface(&TypeInfo_IFoo);
    EXPECT_EQ(r.GetNamespaceByGUID(kFooIID), u"urn:Bar-IFoo");
    EXPECT_FALSE(r.GetIntfInvokeOptions(&TypeInfo_IFoo).Contains(ioHasNamespace));
  }
  {
    ScopedPrefix prefix(u"P");
    TInvokableClassRegistry r;
    r.RegisterInterface(&TypeInfo_IFoo);
    EXPECT_EQ(r.GetNamespaceByGUID(kFooIID), u"urn:P-Bar-IFoo");
    EXPECT_TRUE(r.GetIntfInvokeOptions(kFooIID).IsEmpty());
  }
  TInvokableClassRegistry r;
  // Only interfaces register; a repeated registration keeps the first.
  r.RegisterInterface(&rtl::TypeInfo_Integer, u"urn:int");
  r.RegisterInterface(nullptr, u"urn:null");
  r.RegisterInterface(&TypeInfo_IFoo, u"urn:first", u"UTF-8");
  r.RegisterInterface(&TypeInfo_IFoo, u"urn:second", u"UTF-16");
  EXPECT_EQ(r.InterfaceCount(), 1u);
  EXPECT_EQ(r.GetNamespaceByGUID(kFooIID), u"urn:first");
  EXPECT_EQ(r.GetWSDLEncoding(&TypeInfo_IFoo), u"UTF-8");
  EXPECT_EQ(r.GetIntfInvokeOptions(&TypeInfo_IFoo), TIntfInvokeOptions{ioHasNamespace});
  EXPECT_EQ(r.GetInterfaceTypeInfo(kFooIID), &TypeInfo_IFoo);
  EXPECT_EQ(r.GetInterfaceTypeInfo(kBazIID), nullptr);
  EXPECT_EQ(r.GetInterfaceExternalName(&TypeInfo_IFoo), u"IFoo");

  // Registrations for an interface that is not registered change nothing.
  r.RegisterDefaultSOAPAction(&TypeInfo_IBaz, u"urn:x");
  r.RegisterInvokeOptions(&TypeInfo_IBaz, ioLiteral);
  r.RegisterParamInfo(&TypeInfo_IBaz, u"DoIt", u"p", u"q", u"[]", 1);
  EXPECT_EQ(r.InterfaceCount(), 1u);
  EXPECT_EQ(r.GetActionURIOfInfo(&TypeInfo_IBaz, u"DoIt", 0), u"");
  EXPECT_TRUE(r.GetIntfInvokeOptions(&TypeInfo_IBaz).IsEmpty());
  EXPECT_EQ(r.GetParamExternalName(&TypeInfo_IBaz, u"DoIt", u"p"), u"p");
  EXPECT_EQ(r.GetReturnParamNames(&TypeInfo_IBaz), u"Result;Return");

  // Options: one at a time adds, a set replaces (its first 16 members).
  r.RegisterInvokeOptions(&TypeInfo_IFoo, ioLiteral);
  r.RegisterInvokeOptions(&TypeInfo_IFoo, static_cast<TIntfInvokeOption>(16));
  EXPECT_EQ(r.GetIntfInvokeOptions(&TypeInfo_IFoo).Bits(), 4u + 32u);
  r.RegisterInvokeOptions(
      &TypeInfo_IFoo, TIntfInvokeOptions{ioDocument, ioSOAP12, static_cast<TIntfInvokeOption>(20)});
  EXPECT_EQ(r.GetIntfInvokeOptions(kFooIID).Bits(), 2u + 512u);

  r.RegisterReturnParamNames(&TypeInfo_IFoo, u"R1;R2");
  EXPECT_EQ(r.GetReturnParamNames(&TypeInfo_IFoo), u"R1;R2");

  UnicodeString op = u"x", key = u"y";
  EXPECT_FALSE(r.GetUDDIInfo(kFooIID, op, key));
  r.RegisterUDDIInfo(&TypeInfo_IFoo, u"http://uddi.example", u"key-1");
  EXPECT_TRUE(r.GetUDDIInfo(kFooIID, op, key));
  EXPECT_EQ(op, u"http://uddi.example");
  EXPECT_EQ(key, u"key-1");
}

struct ActionCase {
  const char16_t* template_;  // registered default action, or null
  const char16_t* list;       // registered list of all actions, or null
  const char16_t* method;
  int index;
  const char16_t* expected;
};

// clang-format off
const ActionCase kActionCases[] = {
    {u"urn:s/%operationName%", nullptr, u"op", 0, u"urn:s/op"},
    {u"urn:s/%operationName%", nullptr, u"", -1, u"urn:s/%operationName%"},
    {u"%operationName%/%operationName%", nullptr, u"op", 0, u"op/%operationName%"},
    {u"urn:s/%OperationName%", nullptr, u"op", 0, u"urn:s/%OperationName%"},
    {u"urn:fixed", nullptr, u"op", 3, u"urn:fixed"},
    {nullptr, u"|a||b", u"op", 0, u"a"},
    {nullptr, u"|a||b", u"op", 1, u"b"},
    {nullptr, u"|a||b", u"op", 2, u""},
    {nullptr, u"|a||b", u"op", -1, u""},
    {nullptr, u"a;b;c", u"op", 0, u";b;c"},  // "a" is the separator
    {nullptr, u";a;b;;", u"op", 1, u"b"},
    {nullptr, u"", u"op", 0, u""},
    {nullptr, nullptr, u"op", 0, u"urn:ns#op"},
    {nullptr, nullptr, u"", -1, u"urn:ns#"},
};
// clang-format on

TEST(InvokableRegistry, SOAPActions) {
  for (const ActionCase& c : kActionCases) {
    SCOPED_TRACE(test::Utf8(c.template_ ? c.template_
                            : c.list    ? c.list
                                        : u"(none)") +
                 " " + std::to_string(c.index));
    TInvokableClassRegistry r;
    r.RegisterInterface(&TypeInfo_IFoo, u"urn:ns");
    if (c.template_) r.RegisterDefaultSOAPAction(&TypeInfo_IFoo, c.template_);
    if (c.list) r.RegisterAllSOAPActions(&TypeInfo_IFoo, c.list);
    EXPECT_EQ(r.GetActionURIOfInfo(&TypeInfo_IFoo, c.method, c.index), c.expected);
    if (c.method[0] == 0 && c.index == -1) {
      EXPECT_EQ(r.GetActionURIOfIID(kFooIID), c.expected);
    }
  }
  TInvokableClassRegistry r;
  EXPECT_EQ(r.GetActionURIOfIID(kFooIID), u"");
}

TEST(InvokableRegistry, MethodAndParameterNames) {
  TInvokableClassRegistry r;
  r.RegisterInterface(&TypeInfo_IFoo, u"urn:ns");
  // A parameter registration creates its method, with an empty external name.
  r.RegisterParamInfo(&TypeInfo_IFoo, u"doIt", u"Count", u"", u"[Namespace=\"urn:p\"]", 1);
  EXPECT_EQ(r.GetMethExternalName(&TypeInfo_IFoo, u"DOIT"), u"DOIT");
  r.RegisterParamInfo(&TypeInfo_IFoo, u"DOIT", u"count", u"n", u"[Namespace=\"urn:q\"]", 4);
  const TParamRegInfo p = r.GetParamInfo(&TypeInfo_IFoo, u"DoIt", u"COUNT");
  EXPECT_EQ(p.ExtName, u"n");
  EXPECT_EQ(p.InfoString, u"[Namespace=\"urn:q\"]");
  EXPECT_EQ(p.XMLOptions, 5);  // ORed
  EXPECT_EQ(r.GetInterfaceInfo(&TypeInfo_IFoo)->Methods.size(), 1u);
  EXPECT_EQ(r.GetParamInternalName(&TypeInfo_IFoo, u"doit", u"N"),
            u"Count");  // first spelling kept
  EXPECT_EQ(r.GetParamInternalName(&TypeInfo_IFoo, u"doit", u""), u"");

  // Defaults of a parameter and a method that are not registered.
  const TParamRegInfo none = r.GetParamInfo(&TypeInfo_IFoo, u"DoIt", u"Other");
  EXPECT_EQ(none.ExtName, u"Other");
  EXPECT_EQ(none.InfoString, u"");
  EXPECT_EQ(none.XMLOptions, 0);
  const TMethodRegInfo m0 = r.GetMethodInfo(&TypeInfo_IFoo, u"Missing");
  EXPECT_EQ(m0.ExtName, u"Missing");
  EXPECT_EQ(m0.ReturnName, u"");
  EXPECT_EQ(m0.XMLOptions, 0);

  r.RegisterMethodInfo(&TypeInfo_IFoo, u"DoIt", u"do-it", u"Answer", 7);
  r.RegisterMethodInfo(&TypeInfo_IFoo, u"DoIt", u"do-it", u"Answer", 2);  // replaces
  const TMethodRegInfo m = r.GetMethodInfo(&TypeInfo_IFoo, u"doit");
  EXPECT_EQ(m.ExtName, u"do-it");
  EXPECT_EQ(m.ReturnName, u"Answer");
  EXPECT_EQ(m.XMLOptions, 2);
  EXPECT_EQ(r.GetMethExternalName(&TypeInfo_IFoo, u"DOIT"), u"do-it");
  EXPECT_EQ(r.GetMethInternalName(&TypeInfo_IFoo, u"DO-IT"), u"doIt");
  EXPECT_EQ(r.GetMethInternalName(&TypeInfo_IFoo, u"other"), u"other");
  // The method's parameters survive the method registration.
  EXPECT_EQ(r.GetParamExternalName(&TypeInfo_IFoo, u"DoIt", u"Count"), u"n");

  r.RegisterExternalMethName(&TypeInfo_IFoo, u"Second", u"second-ext");
  r.RegisterExternalParamName(&TypeInfo_IFoo, u"Second", u"x", u"x-ext");
  EXPECT_EQ(r.GetMethExternalName(&TypeInfo_IFoo, u"second"), u"second-ext");
  EXPECT_EQ(r.GetParamExternalName(&TypeInfo_IFoo, u"SECOND", u"X"), u"x-ext");
}

// ---- Server-side bindings -----------------------------------------------------------

class THeaderA : public TSOAPHeader {
  DELVAN_CLASS()
};
class TImplBase : public TObject {
  DELVAN_CLASS()
};
class TImpl : public TImplBase {
  DELVAN_CLASS()
};
constexpr TGUID kImplInterfaces[] = {kBazIID, kFooIID};
constinit const TClass THeaderA::StaticClass =
    rtl::DefineClass<THeaderA, TSOAPHeader>(THeaderA::StaticClass, u"THeaderA", u"Tests");
constinit const TClass TImplBase::StaticClass = rtl::DefineClass<TImplBase, TObject>(
    TImplBase::StaticClass, u"TImplBase", u"Tests", {}, kImplInterfaces);
constinit const TClass TImpl::StaticClass =
    rtl::DefineClass<TImpl, TImplBase>(TImpl::StaticClass, u"TImpl", u"Tests");

TEST(InvokableRegistry, HeadersAndImplementations) {
  TInvokableClassRegistry r;
  // The class lists no interfaces, so its parent's table counts.
  r.RegisterInvokableClass(&TImpl::StaticClass);
  r.RegisterInterface(&TypeInfo_IFoo, u"urn:ns");
  EXPECT_EQ(r.GetClassFromIntfInfo(&TypeInfo_IFoo), &TImpl::StaticClass);
  std::unique_ptr<TObject> made(r.GetInvokableObjectFromClass(&TImpl::StaticClass));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->ClassType(), &TImpl::StaticClass);
  EXPECT_EQ(r.GetInvokableObjectFromClass(&TImplBase::StaticClass), nullptr);

  EXPECT_EQ(r.GetHeaderClass(u"H", u"urn:h"), nullptr);
  r.RegisterHeaderClass(&TypeInfo_IFoo, &THeaderA::StaticClass, u"H", u"urn:h");
  r.RegisterHeaderClass(&TypeInfo_IFoo, &THeaderA::StaticClass, u"H2", u"urn:h2");  // ignored
  r.RegisterHeaderMethod(&TypeInfo_IFoo, &THeaderA::StaticClass, u"DoIt", hmtRequest, true);
  EXPECT_EQ(r.GetHeaderClass(u"H", u"urn:h"), &THeaderA::StaticClass);
  EXPECT_EQ(r.GetHeaderClass(u"h", u"urn:h"), nullptr);
  EXPECT_EQ(r.GetHeaderClass(u"H2", u"urn:h2"), nullptr);
  EXPECT_EQ(r.GetHeaderNamespace(&THeaderA::StaticClass), u"urn:h");
  EXPECT_EQ(r.GetHeaderNamespace(&TypeInfo_IFoo, &THeaderA::StaticClass), u"urn:h");
  const std::optional<InterfaceMapItem> intf = r.GetInterfaceInfo(&TypeInfo_IFoo);
  const IntfHeaderItem& h = intf->IntfHeaders.at(0);
  EXPECT_EQ(h.MethodNames, std::vector<UnicodeString>{u"DoIt"});
  EXPECT_EQ(h.HeaderRequired, std::vector<bool>{true});

  // A class that is no bound header answers with its URI in the type
  // registry, which registers it on the way.
  TInvokableClassRegistry empty;
  EXPECT_EQ(empty.GetHeaderNamespace(&THeaderA::StaticClass), u"urn:Tests");
  UnicodeString uri, name;
  EXPECT_TRUE(RemClassRegistry().ClassToURI(&THeaderA::StaticClass, uri, name, nullptr, false));
}

}  // namespace
}  // namespace delvan::soap
