#include "rtl/DateUtils.h"

#include <gtest/gtest.h>

#include <array>

#include "rtl/Exception.h"

namespace delvan::rtl {
namespace {

TEST(DateUtils, EncodesAndDecodesDates) {
  const std::array<std::array<int, 4>, 6> cases{{{1899, 12, 30, 0},
                                                 {1900, 3, 1, 61},
                                                 {2001, 3, 15, 36965},
                                                 {2000, 2, 29, 36585},
                                                 {1, 1, 1, -693593},
                                                 {9999, 12, 31, 2958465}}};
  for (const auto& [y, m, d, days] : cases) {
    EXPECT_EQ(EncodeDate(y, m, d), days);
    int dy, dm, dd;
    DecodeDate(days < 0 ? days - 0.75 : days + 0.75, dy, dm, dd);  // 18:00 that day
    EXPECT_EQ((std::array{dy, dm, dd}), (std::array{y, m, d}));
  }
}

TEST(DateUtils, RaisesForImpossibleParts) {
  // year, month, day, hour, minute, second, ms; the first date part is invalid, or the time.
  const std::array<std::array<int, 7>, 12> cases{{{2001, 2, 29, 0, 0, 0, 0},
                                                  {1900, 2, 29, 0, 0, 0, 0},
                                                  {0, 1, 1, 0, 0, 0, 0},
                                                  {10000, 1, 1, 0, 0, 0, 0},
                                                  {2001, 13, 1, 0, 0, 0, 0},
                                                  {2001, 0, 1, 0, 0, 0, 0},
                                                  {2001, 4, 31, 0, 0, 0, 0},
                                                  {2001, 1, 1, 24, 0, 0, 0},
                                                  {2001, 1, 1, 0, 60, 0, 0},
                                                  {2001, 1, 1, 0, 0, 60, 0},
                                                  {2001, 1, 1, 0, 0, 0, 1000},
                                                  {2001, 1, 1, -1, 0, 0, 0}}};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [y, m, d, h, n, s, ms] = cases[i];
    try {
      EncodeDateTime(y, m, d, h, n, s, ms);
      ADD_FAILURE() << "case " << i << " passed";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(),
                i < 7 ? u"Invalid argument to date encode" : u"Invalid argument to time encode");
    }
  }
}

TEST(DateUtils, DecodesWithCarryAndNegativeDays) {
  int h, n, s, ms, y, m, d;
  // Rounds up to midnight: the date moves with the time.
  DecodeTime(36965.9999999999, h, n, s, ms);
  DecodeDate(36965.9999999999, y, m, d);
  EXPECT_EQ((std::array{y, m, d, h, n, s, ms}), (std::array{2001, 3, 16, 0, 0, 0, 0}));
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(h, 6);
  EXPECT_DOUBLE_EQ(IncMinute(0.25, -36 * 60), -2.75);
  EXPECT_DOUBLE_EQ(IncMinute(-2.75, 36 * 60), 0.25);
  EXPECT_THROW(DecodeDate(-693594.5, y, m, d), EConvertError);
}

}  // namespace
}  // namespace delvan::rtl
