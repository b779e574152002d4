#include "rtl/Stream.h"

#include <gtest/gtest.h>

#include "rtl/Exception.h"

namespace delvan {
namespace {

TEST(MemoryStream, WriteSeekReadAndGrow) {
  TMemoryStream s;
  s.WriteBytes("hello");
  EXPECT_EQ(s.Position(), 5);
  EXPECT_EQ(s.Size(), 5);
  s.SetPosition(0);
  EXPECT_EQ(s.ReadRest(), "hello");
  EXPECT_EQ(s.Read(nullptr, 10), 0);  // at the end

  // Overwrite in the middle, then write past the end after a seek: the gap is zeros.
  s.Seek(-3, TSeekOrigin::soEnd);
  s.WriteBytes("LP");
  s.Seek(2, TSeekOrigin::soEnd);
  s.WriteBytes("!");
  EXPECT_EQ(s.View(), std::string_view("heLPo\0\0!", 8));
  s.Seek(-100, TSeekOrigin::soCurrent);
  EXPECT_EQ(s.Position(), 0);

  // Growth keeps every byte (many small writes, across reallocations).
  TMemoryStream big;
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    char c = static_cast<char>('a' + i % 26);
    big.WriteBuffer(&c, 1);
    expected.push_back(c);
  }
  EXPECT_EQ(big.View(), expected);

  big.SetSize(3);
  EXPECT_EQ(big.Position(), 3);
  EXPECT_EQ(big.View(), "abc");
  char buf[4];
  big.SetPosition(1);
  EXPECT_THROW(big.ReadBuffer(buf, 4), EStreamError);

  TMemoryStream copy;
  copy.CopyFrom(big, 0);
  EXPECT_EQ(copy.View(), "abc");
  big.Clear();
  EXPECT_EQ(big.Size(), 0);
}

}  // namespace
}  // namespace delvan
