// Time-zone services of the platform. One backend per platform implements
// this header; nothing outside src/platform includes system time headers.
#pragma once

namespace delvan::platform {

// The machine's offset from UTC at this moment, in minutes, positive east of
// UTC (local time = UTC + offset). Follows changes of the TZ variable.
int CurrentUtcOffsetMinutes();

}  // namespace delvan::platform
