#include "rtl/DateUtils.h"

#include <cmath>

#include "rtl/Exception.h"

namespace delvan::rtl {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
// Day numbers of 0001-01-01 and of the day after 9999-12-31.
constexpr std::int64_t kFirstDay = -693593;
constexpr std::int64_t kEndDay = 2958466;
// Day number of 1970-01-01, the origin of the civil-day arithmetic below.
constexpr std::int64_t kUnixEpochDay = 25569;

bool IsLeapYear(int y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

[[noreturn]] void RaiseDecode() { throw EConvertError(u"Invalid argument to date decode"); }

// A value as milliseconds on one straight line from 1899-12-30 00:00.
std::int64_t ToLinearMs(TDateTime value) {
  // A margin of a day on each side keeps the conversion below in range;
  // the day itself is checked afterwards.
  if (!std::isfinite(value) || value <= double(kFirstDay - 1) || value >= double(kEndDay + 1))
    RaiseDecode();
  const double whole = std::trunc(value);
  const std::int64_t day = static_cast<std::int64_t>(whole);
  const std::int64_t ms = std::llround(std::fabs(value - whole) * double(kMsPerDay));
  return day * kMsPerDay + ms;
}

TDateTime FromLinearMs(std::int64_t linear) {
  const std::int64_t day = FloorDiv(linear, kMsPerDay);
  const double time = double(linear - day * kMsPerDay) / double(kMsPerDay);
  return day < 0 ? double(day) - time : double(day) + time;
}

void SplitLinearMs(TDateTime value, std::int64_t& day, std::int64_t& msOfDay) {
  const std::int64_t linear = ToLinearMs(value);
  day = FloorDiv(linear, kMsPerDay);
  msOfDay = linear - day * kMsPerDay;
  if (day < kFirstDay || day >= kEndDay) RaiseDecode();
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    throw EConvertError(u"Invalid argument to date encode");
  return double(DaysFromCivil(year, month, day) + kUnixEpochDay);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      millisecond < 0 || millisecond > 999)
    throw EConvertError(u"Invalid argument to time encode");
  const std::int64_t ms = ((std::int64_t(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  return double(ms) / double(kMsPerDay);
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  const TDateTime date = EncodeDate(year, month, day);
  const TDateTime time = EncodeTime(hour, minute, second, millisecond);
  return date < 0 ? date - time : date + time;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  std::int64_t d = 0, ms = 0;
  SplitLinearMs(value, d, ms);
  CivilFromDays(d - kUnixEpochDay, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  std::int64_t d = 0, ms = 0;
  SplitLinearMs(value, d, ms);
  millisecond = static_cast<int>(ms % 1000);
  second = static_cast<int>(ms / 1000 % 60);
  minute = static_cast<int>(ms / 60000 % 60);
  hour = static_cast<int>(ms / 3600000);
}

TDateTime IncMinute(TDateTime value, std::int64_t minutes) {
  // Far more than the span of years 1 to 9999; keeps the sum below in range.
  constexpr std::int64_t kMaxShift = std::int64_t(1) << 40;
  if (minutes > kMaxShift || minutes < -kMaxShift)
    throw EConvertError(u"Invalid argument to date encode");
  return FromLinearMs(ToLinearMs(value) + minutes * 60000);
}

}  // namespace delvan::rtl
