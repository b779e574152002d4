#include "soap/InvContext.h"

#include <gtest/gtest.h>

#include <cstring>

#include "rtl/DynArrayTypes.h"
#include "rtl/Exception.h"

namespace delvan::soap {
namespace {

int gDestroyed = 0;
struct TCounted : TRemotable {
  ~TCounted() override { ++gDestroyed; }
};

TEST(InvContext, PointersStayInsideTheMethod) {
  TInvContext ctx;
  const rtl::TParamInfo params[2] = {};
  ctx.SetMethodInfo(rtl::TMethodInfo{u"M", rtl::ccStdCall, params, nullptr});
  int a = 0, b = 0;
  ctx.SetParamPointer(0, &a);
  ctx.SetParamPointer(2, &b);  // parameter count plus one slots
  EXPECT_EQ(ctx.GetParamPointer(0), &a);
  EXPECT_EQ(ctx.GetParamPointer(1), nullptr);
  EXPECT_EQ(ctx.GetParamPointer(2), &b);
  EXPECT_THROW(ctx.SetParamPointer(3, &a), EListError);
  try {
    ctx.GetParamPointer(7);
    ADD_FAILURE() << "no exception";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), u"List index out of bounds (7)");
  }
  ctx.SetResultPointer(&a);
  EXPECT_EQ(ctx.GetResultPointer(), &a);
  ctx.SetMethodInfo(0);
  EXPECT_EQ(ctx.GetResultPointer(), nullptr);
  EXPECT_EQ(ctx.GetParamPointer(0), nullptr);
  EXPECT_THROW(ctx.GetParamPointer(1), EListError);
}

// Far more than the buffer of a one-parameter method (40 bytes): every block
// is distinct, aligned and stays valid (the sanitizer build checks each
// write), also across a new SetMethodInfo.
TEST(InvContext, AllocDataNeverRunsPastItsStorage) {
  TInvContext ctx;
  ctx.SetMethodInfo(1);
  std::vector<std::pair<unsigned char*, std::size_t>> blocks;
  for (std::size_t i = 0; i < 64; ++i) {
    const std::size_t size = (i * 7) % 50 + 1;
    auto* p = static_cast<unsigned char*>(ctx.AllocData(size));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u);
    std::memset(p, static_cast<int>(i), size);
    blocks.emplace_back(p, size);
    if (i == 30) ctx.SetMethodInfo(2);
  }
  for (std::size_t i = 0; i < blocks.size(); ++i)
    for (std::size_t k = 0; k < blocks[i].second; ++k)
      ASSERT_EQ(blocks[i].first[k], static_cast<unsigned char>(i)) << i;
  EXPECT_NE(ctx.AllocData(0), ctx.AllocData(0));
}

TEST(DataContext, DestructionReleasesWhatIsListed) {
  gDestroyed = 0;
  Variant v(u"value");
  rtl::TStringDynArray array{u"a", u"b"};
  UnicodeString text = u"text";
  auto* removed = new TCounted();
  {
    TDataContext ctx;
    auto* owned = new TCounted();
    ctx.AddObjectToDestroy(owned);
    ctx.AddObjectToDestroy(owned);  // listed twice, destroyed once
    ctx.AddObjectToDestroy(removed);
    ctx.RemoveObjectToDestroy(removed);
    ctx.AddVariantToClear(&v);
    ctx.AddDynArrayToClear(&array, &rtl::TypeInfo_TStringDynArray);
    ctx.AddStrToClear(&text);
  }
  EXPECT_EQ(gDestroyed, 1);
  EXPECT_TRUE(v.IsEmpty());
  EXPECT_TRUE(array.empty());
  EXPECT_TRUE(text.empty());
  delete removed;
}

}  // namespace
}  // namespace delvan::soap
