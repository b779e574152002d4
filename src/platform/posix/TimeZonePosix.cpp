#include <time.h>

#include "platform/TimeZone.h"

namespace delvan::platform {

int CurrentUtcOffsetMinutes() {
  // localtime_r need not read TZ again by itself; tzset makes it follow a
  // changed variable.
  tzset();
  time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return static_cast<int>(local.tm_gmtoff / 60);
}

}  // namespace delvan::platform
