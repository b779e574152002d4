// Counted interfaces, owned components and class descriptors.
#include <gtest/gtest.h>

#include "rtl/Component.h"
#include "rtl/Exception.h"
#include "rtl/Interface.h"
#include "rtl/TypInfo.h"
#include "rtl/Variant.h"

namespace delvan {
namespace {

class IProbe : public IInterface {
 public:
  static constexpr TGUID IID = TGUID::Parse("{0D3C5A1E-7B21-4C6F-9E88-5A0F2B7C9D11}");
  virtual int Value() = 0;
};

int gProbesAlive = 0;
class TProbe : public TInterfacedObject, public IProbe {
 public:
  TProbe() { ++gProbesAlive; }
  ~TProbe() override { --gProbesAlive; }
  HRESULT QueryInterface(const TGUID& iid, void** obj) override {
    if (iid == IProbe::IID) return Answer(static_cast<IProbe*>(this), obj);
    return TInterfacedObject::QueryInterface(iid, obj);
  }
  std::int32_t _AddRef() override { return TInterfacedObject::_AddRef(); }
  std::int32_t _Release() override { return TInterfacedObject::_Release(); }
  int Value() override { return 42; }
};

TEST(Interfaces, CountedReferencesFreeTheObjectOnce) {
  {
    IntfPtr<IProbe> probe = QueryIntf<IProbe>(static_cast<TInterfacedObject*>(new TProbe()));
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->Value(), 42);
    IntfPtr<IProbe> second = probe;
    IntfPtr<IInterface> root = QueryIntf<IInterface>(probe);
    EXPECT_TRUE(root);
    EXPECT_FALSE(QueryIntf<IInvokable>(probe));
    probe.reset();
    EXPECT_EQ(gProbesAlive, 1);
  }
  EXPECT_EQ(gProbesAlive, 0);
  EXPECT_EQ(TGUID::Parse("{4F1FFC00-5636-214A-AB20-EACD347B9375}").ToString(),
            u"{4F1FFC00-5636-214A-AB20-EACD347B9375}");
}

int gComponentsFreed = 0;
class TPart : public TComponent {
 public:
  using TComponent::TComponent;
  ~TPart() override { ++gComponentsFreed; }
  TComponent* forgotten = nullptr;

 protected:
  void Notification(TComponent* c, rtl::TOperation op) override {
    if (op == rtl::TOperation::opRemove) forgotten = c;
  }
};

TEST(Components, OwnersFreeTheirPartsAndLinksAreUndone) {
  gComponentsFreed = 0;
  auto* owner = new TPart(nullptr);
  auto* a = new TPart(owner);
  auto* b = new TPart(owner);
  new TPart(a);  // a grandchild
  EXPECT_EQ(owner->ComponentCount(), 2u);
  delete b;  // a part destroyed first leaves its owner's list
  EXPECT_EQ(owner->ComponentCount(), 1u);
  EXPECT_EQ(gComponentsFreed, 1);

  TPart watcher(nullptr);
  watcher.FreeNotification(a);
  delete owner;  // frees a and its child
  EXPECT_EQ(gComponentsFreed, 4);
  EXPECT_EQ(watcher.forgotten, a);
}

TEST(ClassDescriptors, InheritanceAndVirtualConstructor) {
  EXPECT_TRUE(TComponent::StaticClass.InheritsFrom(&TObject::StaticClass));
  EXPECT_FALSE(TObject::StaticClass.InheritsFrom(&TComponent::StaticClass));
  std::unique_ptr<TObject> c(TComponent::StaticClass.NewInstance());
  EXPECT_EQ(c->ClassType(), &TComponent::StaticClass);
  EXPECT_EQ(rtl::ObjectAs<TComponent>(c.get()), c.get());
  TObject plain;
  EXPECT_EQ(rtl::ObjectAs<TComponent>(&plain), nullptr);
  EXPECT_EQ(rtl::TypeKindName(rtl::tkDynArray), u"DynArray");
  EXPECT_EQ(rtl::TypeKindName(rtl::tkClass), u"Class");
}

TEST(Variants, KindsAndText) {
  EXPECT_TRUE(Variant().IsEmpty());
  EXPECT_TRUE(Variant::Null().IsNull());
  EXPECT_EQ(Variant(true).ToString(), u"True");
  EXPECT_EQ(Variant(std::int32_t{-3}).ToString(), u"-3");
  EXPECT_EQ(Variant(2.5).ToString(), u"2.5");
  EXPECT_EQ(Variant(u"text").ToString(), u"text");
  EXPECT_EQ(Variant::Null().ToString(), u"");
  EXPECT_EQ(Variant(std::int32_t{1}).VarType(), varInteger);
  EXPECT_EQ(Variant::OfInteger(7, varByte).AsInt64(), 7);
  EXPECT_THROW(Variant(u"x").AsInt64(), Exception);
  EXPECT_EQ(Variant(u"a"), Variant(UnicodeString(u"a")));
}

}  // namespace
}  // namespace delvan
