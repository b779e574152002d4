// The registries under several threads: registrations and lookups running
// together neither deadlock nor lose an entry, and automatic registration
// racing with lookups leaves one entry per type.
#include "soap/Registries.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <latch>
#include <thread>

#include "rtl/SysUtils.h"
#include "soap/InvokeRegistry.h"
#include "soap/TypeRegistry.h"

namespace delvan::soap {
namespace {

using rtl::TTypeInfo;

constexpr int kThreads = 8;

// prefix followed by n. (Built with +=: GCC 12 warns falsely on a literal
// added to a temporary string.)
UnicodeString Numbered(UnicodeStringView prefix, std::int64_t n) {
  UnicodeString s(prefix);
  s += rtl::IntToStr(n);
  return s;
}
constexpr int kPerThread = 40;

struct IntfDesc {
  UnicodeString Name;
  rtl::TInterfaceTypeData Data;
  TTypeInfo Info;
};

// Interfaces and classes made at run time, with stable addresses.
class Descriptors {
 public:
  const TTypeInfo* NewInterface(int n) {
    IntfDesc& d = FIntfs.emplace_back();
    d.Name = Numbered(u"IConcurrent", n);
    d.Data.Parent = &rtl::TypeInfo_IInvokable;
    d.Data.Guid.D1 = static_cast<std::uint32_t>(n + 1);
    d.Info = TTypeInfo{rtl::tkInterface, d.Name, u"Concurrency", &d.Data};
    return &d.Info;
  }
  // A class derived from parent (TRemotable when null).
  const TClass* NewClass(const UnicodeString& name, const TClass* parent = nullptr) {
    FNames.push_back(name);
    TClass& c = FClasses.emplace_back();
    c.Info = TTypeInfo{rtl::tkClass, FNames.back(), u"Concurrency", &c};
    c.Parent = parent ? parent : &TRemotable::StaticClass;
    return &c;
  }

 private:
  std::deque<IntfDesc> FIntfs;
  std::deque<UnicodeString> FNames;
  std::deque<TClass> FClasses;
};

TEST(Registries, ConcurrentRegistrationAndLookup) {
  Descriptors d;
  std::vector<const TTypeInfo*> intfs;
  std::vector<const TClass*> classes;
  for (int i = 0; i < kThreads * kPerThread; ++i) {
    intfs.push_back(d.NewInterface(i));
    classes.push_back(d.NewClass(Numbered(u"TConcurrent", i)));
  }
  // A chain whose property lookups walk up through the re-entrant lock.
  const TClass* top = d.NewClass(u"TTop");
  const TClass* middle = d.NewClass(u"TMiddle", top);
  const TClass* bottom = d.NewClass(u"TBottom", middle);

  TInvokableClassRegistry inv;
  TRemotableTypeRegistry rem;
  rem.RegisterXSClass(top, u"urn:chain");
  rem.RegisterXSClass(middle, u"urn:chain");
  rem.RegisterXSClass(bottom, u"urn:chain");
  rem.RegisterExternalPropName(&top->Info, u"p", u"P");

  std::latch start(kThreads);
  std::atomic<int> wrongAnswers{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int k = 0; k < kPerThread; ++k) {
        const int i = t * kPerThread + k;
        const UnicodeString ns = Numbered(u"urn:c", i);
        inv.RegisterInterface(intfs[i], ns);
        inv.RegisterDefaultSOAPAction(intfs[i], ns + u"/%operationName%");
        inv.RegisterParamInfo(intfs[i], u"Op", Numbered(u"p", k), u"", u"[]", 1);
        rem.RegisterXSClass(classes[i], ns, u"C");
        rem.RegisterExternalPropName(&middle->Info, Numbered(u"m", i), u"M");

        // Look up what another thread registers at the same time.
        const int j = ((t + 1) % kThreads) * kPerThread + k;
        // Nothing yet, the namespace rule before the template arrives, or the template.
        const UnicodeString action = inv.GetActionURIOfInfo(intfs[j], u"Op", 0);
        const UnicodeString nsj = Numbered(u"urn:c", j);
        if (!action.empty() && action != nsj + u"#Op" && action != nsj + u"/Op") ++wrongAnswers;
        inv.GetParamInfo(intfs[j], u"op", u"P0");
        rem.URIToClass(Numbered(u"urn:c", j), u"C");
        if (rem.GetExternalPropName(&bottom->Info, u"p") != u"P") ++wrongAnswers;
        rem.GetExternalPropName(&bottom->Info, Numbered(u"m", j));
      }
    });
  for (std::thread& th : threads) th.join();

  EXPECT_EQ(wrongAnswers, 0);
  EXPECT_EQ(inv.InterfaceCount(), intfs.size());
  EXPECT_EQ(rem.Entries().size(), classes.size() + 3);
  for (int i = 0; i < kThreads * kPerThread; ++i) {
    const UnicodeString ns = Numbered(u"urn:c", i);
    ASSERT_EQ(inv.GetNamespaceByGUID(intfs[i]->Interface()->Guid), ns);
    ASSERT_EQ(inv.GetActionURIOfInfo(intfs[i], u"Op", 0), ns + u"/Op");
    const UnicodeString param = Numbered(u"p", i % kPerThread);
    ASSERT_EQ(inv.GetParamInfo(intfs[i], u"Op", param).XMLOptions, 1);
    ASSERT_EQ(rem.URIToClass(ns, u"C"), classes[i]);
    ASSERT_EQ(rem.GetExternalPropName(&bottom->Info, Numbered(u"m", i)), u"M");
  }
}

TEST(Registries, AutomaticRegistrationRacesWithLookups) {
  Descriptors d;
  std::vector<const TClass*> classes;
  for (int i = 0; i < 50; ++i) classes.push_back(d.NewClass(Numbered(u"TAuto", i)));
  TRemotableTypeRegistry rem;
  std::latch start(kThreads);
  std::atomic<int> wrongAnswers{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (std::size_t k = 0; k < classes.size(); ++k) {
        // Half the threads walk forwards, half backwards, so that each class
        // meets several first registrations at once.
        const TClass* c = classes[t % 2 ? k : classes.size() - 1 - k];
        UnicodeString uri, name;
        if (t % 4 == 3) {
          rem.URIToClass(u"urn:Concurrency", c->ClassName());
          rem.XSDToTypeInfo(u"urn:Concurrency", c->ClassName());
          continue;
        }
        if (!rem.ClassToURI(c, uri, name) || uri != u"urn:Concurrency" || name != c->ClassName())
          ++wrongAnswers;
      }
    });
  for (std::thread& th : threads) th.join();

  EXPECT_EQ(wrongAnswers, 0);
  const std::vector<TRemRegEntry> entries = rem.Entries();
  EXPECT_EQ(entries.size(), classes.size());
  for (const TClass* c : classes)
    EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                            [&](const TRemRegEntry& e) { return e.ClassType == c; }),
              1);
}

}  // namespace
}  // namespace delvan::soap
