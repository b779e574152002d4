// Dates and times as TDateTime: a double counting days since 1899-12-30,
// its fraction the time of day. Before that day the value is negative and
// the time of day is the absolute value of the fraction (-1.25 is
// 1899-12-29 06:00). Valid years are 1 to 9999.
#pragma once

#include <cstdint>

namespace delvan {

using TDateTime = double;

namespace rtl {

// The day of y-m-d. Raises EConvertError "Invalid argument to date encode"
// for a date that does not exist or lies outside years 1 to 9999.
TDateTime EncodeDate(int year, int month, int day);

// The fraction of the day at h:n:s.ms. Raises EConvertError "Invalid
// argument to time encode" unless h < 24, n < 60, s < 60 and ms < 1000.
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);

// EncodeDate and EncodeTime joined into one value (negative days included).
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);

// The parts of a value, rounded to the nearest millisecond (a time that
// rounds up to midnight carries into the next day in both). Raises
// EConvertError "Invalid argument to date decode" for a value that is not
// finite or lies outside years 1 to 9999.
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);

// The value moved by a number of minutes, across midnight and across the
// sign change of 1899-12-30 alike. Raises EConvertError "Invalid argument
// to date decode" for a value that is not finite or lies more than a day
// outside years 1 to 9999, and "Invalid argument to date encode" for a
// shift beyond 2^40 minutes.
TDateTime IncMinute(TDateTime value, std::int64_t minutes);

}  // namespace rtl
}  // namespace delvan
