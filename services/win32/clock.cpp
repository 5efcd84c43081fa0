#include "services/clock.h"

#include "services/win32/win32.h"

namespace kelvarion::clock {

// The user's short date and long time (which has the seconds), as Windows formats them.
std::string NowText() {
  SYSTEMTIME now;
  GetLocalTime(&now);  // once, so that date and time belong to the same moment
  wchar_t date[128], time[128];
  const int d =
      GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 128, nullptr);
  const int t = GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &now, nullptr, time, 128);
  // The lengths count the terminating zero.
  return win32::Narrow(date, d - 1) + " " + win32::Narrow(time, t - 1);
}

}  // namespace kelvarion::clock
