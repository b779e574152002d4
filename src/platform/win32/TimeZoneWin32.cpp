// Windows backend of the time-zone services: the system's time-zone
// information (the TZ variable plays no part on Windows).
#include "platform/TimeZone.h"

// clang-format off
#include <windows.h>
// clang-format on

namespace delvan::platform {

int CurrentUtcOffsetMinutes() {
  TIME_ZONE_INFORMATION zone{};
  const DWORD which = ::GetTimeZoneInformation(&zone);
  // Bias is UTC minus local time, in minutes.
  LONG bias = zone.Bias;
  if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (which == TIME_ZONE_ID_INVALID) return 0;
  return static_cast<int>(-bias);
}

}  // namespace delvan::platform
