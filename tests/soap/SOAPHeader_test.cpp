#include "soap/SOAPHeader.h"

#include <gtest/gtest.h>

#include "soap/TypeRegistry.h"

namespace delvan::soap {
namespace {

int gDestroyed = 0;

class THdrA : public TSOAPHeader {
  DELVAN_CLASS()
 public:
  ~THdrA() override { ++gDestroyed; }
};
class THdrB : public THdrA {
  DELVAN_CLASS()
};
constinit const TClass THdrA::StaticClass =
    rtl::DefineClass<THdrA, TSOAPHeader>(THdrA::StaticClass, u"THdrA", u"Tests.Headers");
constinit const TClass THdrB::StaticClass =
    rtl::DefineClass<THdrB, THdrA>(THdrB::StaticClass, u"THdrB", u"Tests.Headers");

TEST(HeaderList, OwnershipFollowsTheFlag) {
  gDestroyed = 0;
  auto* kept = new THdrA();
  {
    THeaderList owning;
    EXPECT_EQ(owning.Add(new THdrA()), 0u);
    EXPECT_EQ(owning.Add(kept), 1u);
    owning.Add(new THdrB());
    EXPECT_EQ(owning.IndexOf(kept), 1);
    EXPECT_EQ(owning.Extract(kept), kept);  // taken out, not destroyed
    EXPECT_EQ(owning.Extract(kept), nullptr);
    EXPECT_EQ(owning.IndexOf(kept), -1);
    EXPECT_EQ(owning.Count(), 2u);
    EXPECT_EQ(gDestroyed, 0);
    try {
      owning.GetHeader(2);
      ADD_FAILURE() << "no exception";
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), u"List index out of bounds (2)");
    }
    owning.Clear();
    EXPECT_EQ(gDestroyed, 2);
    owning.Add(new THdrA());
  }  // the list's destruction destroys what it still holds
  EXPECT_EQ(gDestroyed, 3);
  {
    THeaderList borrowing(false);
    borrowing.Add(kept);
    borrowing.Clear();
    borrowing.Add(kept);
  }
  EXPECT_EQ(gDestroyed, 3);
  delete kept;
}

// A controller that counts the references the header object hands out.
class TController : public TInterfacedObject {};

TEST(SOAPHeaders, SendGetAndTheSharedCount) {
  gDestroyed = 0;
  IntfPtr<TController> controller(new TController());
  THeaderList inbound, outbound(false);
  TSOAPHeaders headers(*controller, inbound, outbound);

  {
    IntfPtr<ISOAPHeaders> intf = QueryIntf<ISOAPHeaders>(&headers);
    ASSERT_TRUE(intf);
    EXPECT_EQ(controller->RefCount(), 2);  // counted on the controller
    EXPECT_EQ(QueryIntf<IInterface>(intf).get(), static_cast<IInterface*>(controller.get()));
    THdrA sent;
    intf->Send(&sent);
    intf->Send(&sent);  // that very object is in the list already
    intf->Send(nullptr);
    EXPECT_EQ(outbound.Count(), 1u);
    EXPECT_FALSE(intf->GetOwnsSentHeaders());
    intf->SetOwnsSentHeaders(true);
    EXPECT_TRUE(outbound.OwnsObjects());
    intf->SetOwnsSentHeaders(false);
    outbound.Clear();
  }
  EXPECT_EQ(controller->RefCount(), 1);
  EXPECT_EQ(gDestroyed, 1);  // the stack object only

  // Get takes the first instance of the class (a derived one counts) out of
  // the incoming list; the caller owns it.
  auto* a = new THdrA();
  auto* b = new THdrB();
  inbound.Add(a);
  inbound.Add(b);
  std::unique_ptr<TSOAPHeader> got(headers.Get(&THdrB::StaticClass));
  EXPECT_EQ(got.get(), b);
  EXPECT_EQ(headers.Get(&THdrB::StaticClass), nullptr);
  EXPECT_EQ(headers.Get(nullptr), nullptr);
  EXPECT_EQ(inbound.Count(), 1u);

  // By XML name, through the type registry.
  EXPECT_EQ(headers.Get(u"THdrA", u"urn:nowhere"), nullptr);
  RemClassRegistry().RegisterXSClass(&THdrA::StaticClass, u"urn:headers", u"A");
  std::unique_ptr<TSOAPHeader> byName(headers.Get(u"A", u"urn:headers"));
  EXPECT_EQ(byName.get(), a);
  EXPECT_EQ(inbound.Count(), 0u);
  EXPECT_EQ(byName->HeaderNamespace(), u"urn:headers");
}

}  // namespace
}  // namespace delvan::soap
