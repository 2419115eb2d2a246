// Date and time texts in four picture families (Chinese, dashes, slashes, digits).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/os.h"

namespace wim {

// Days since 30 December 1899, the fraction being the time of day; nothing when the
// value lies outside the years 100 to 9999. Rounded to the nearest second.
std::optional<platform::CalendarTime> calendarFromOleDate(double oleDate);

// The date or time picture rendered: yyyy, MM, dd, hh (12-hour), HH, mm, ss with
// leading zeros; everything else copied. Empty when the result would not fit the
// 50-character buffer the system formatting fills.
std::string renderDatePicture(std::string_view picture, const platform::CalendarTime& t);
std::string renderTimePicture(std::string_view picture, const platform::CalendarTime& t);

// style 0-3 (others as 0) picks the family, part 0-5 which pieces:
// 0 date and time, 1 date, 2 month-day, 3 time, 4 hour-minute, 5 minute-second.
// Without a time, now.
std::string formatDateTime(platform::SystemInfo& system, std::optional<double> oleDate, int style, int part);

}  // namespace wim
