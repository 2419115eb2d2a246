#include "wim/date_time.h"

#include <cmath>

#include "platform/gbk.h"

namespace wim {

namespace {

struct Pictures {
  const char* date;
  const char* time;
  const char* monthDay;
  const char* hourMinute;
  const char* minuteSecond;
};

const Pictures kStyles[4] = {
    {"yyyy年MM月dd日 ", "hh时mm分ss秒", "MM月dd日", "hh时mm分", "mm分ss秒"},
    {"yyyy-MM-dd ", "hh:mm:ss", "MM-dd", "hh:mm", "mm:ss"},
    {"yyyy/MM/dd ", "hh/mm/ss", "MM/dd", "hh/mm", "mm/ss"},
    {"yyyyMMdd", "hhmmss", "MMdd", "hhmm", "mmss"},
};

// The system formatting writes into 50 characters, the terminating NUL included.
constexpr std::size_t kBufferChars = 50;

std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// Days from 1 January 1970 to the civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, int& year, int& month, int& day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (month <= 2));
}

// Replaces runs of one picture letter; a run of another length than the letters
// known here is copied as it stands.
template <typename Field>
std::string render(std::string_view picture, Field field) {
  std::string out;
  for (std::size_t i = 0; i < picture.size();) {
    const std::size_t n = gbk::charLength(picture, i);
    if (n == 1) {
      std::size_t run = 1;
      while (i + run < picture.size() && picture[i + run] == picture[i]) ++run;
      std::optional<std::string> value = field(picture[i], run);
      if (value) {
        out += *value;
        i += run;
        continue;
      }
    }
    out.append(picture.substr(i, n));
    i += n;
  }
  return out.size() + 1 > kBufferChars ? std::string() : out;
}

}  // namespace

std::optional<platform::CalendarTime> calendarFromOleDate(double oleDate) {
  // 1 January 100 and 31 December 9999, the limits of the system conversion.
  if (!(oleDate >= -657434.0 && oleDate < 2958466.0)) return std::nullopt;
  // Before 1899-12-30 the fraction still counts forward from midnight.
  double days = std::trunc(oleDate);
  double fraction = std::fabs(oleDate - days);
  long long seconds = std::llround(fraction * 86400.0);
  long long day = static_cast<long long>(days);
  if (seconds >= 86400) {
    seconds -= 86400;
    day += oleDate < 0 ? -1 : 1;
  }
  platform::CalendarTime t;
  civilFromDays(day + daysFromCivil(1899, 12, 30), t.year, t.month, t.day);
  t.hour = static_cast<int>(seconds / 3600);
  t.minute = static_cast<int>(seconds / 60 % 60);
  t.second = static_cast<int>(seconds % 60);
  return t;
}

std::string renderDatePicture(std::string_view picture, const platform::CalendarTime& t) {
  return render(picture, [&t](char c, std::size_t run) -> std::optional<std::string> {
    if (c == 'y' && run == 4) return std::to_string(t.year);
    if (c == 'M' && run == 2) return twoDigits(t.month);
    if (c == 'd' && run == 2) return twoDigits(t.day);
    return std::nullopt;
  });
}

std::string renderTimePicture(std::string_view picture, const platform::CalendarTime& t) {
  return render(picture, [&t](char c, std::size_t run) -> std::optional<std::string> {
    if (run != 2) return std::nullopt;
    if (c == 'H') return twoDigits(t.hour);
    if (c == 'h') return twoDigits(t.hour % 12 == 0 ? 12 : t.hour % 12);
    if (c == 'm') return twoDigits(t.minute);
    if (c == 's') return twoDigits(t.second);
    return std::nullopt;
  });
}

std::string formatDateTime(platform::SystemInfo& system, std::optional<double> oleDate, int style, int part) {
  const Pictures& p = kStyles[style >= 0 && style <= 3 ? style : 0];
  std::string date = p.date;
  std::string time = p.time;
  if (part == 3 || part == 4 || part == 5) date.clear();
  if (part == 1) date = gbk::trimAsciiSpaces(date);
  if (part == 2) date = p.monthDay;
  if (part == 1 || part == 2) time.clear();
  if (part == 4) time = p.hourMinute;
  if (part == 5) time = p.minuteSecond;
  if (system.uses24HourClock()) time = gbk::replaceAll(time, "hh", "HH");

  platform::CalendarTime t;
  if (oleDate) {
    std::optional<platform::CalendarTime> converted = calendarFromOleDate(*oleDate);
    if (!converted) return {};
    t = *converted;
  } else {
    t = system.localTime();
  }
  std::string result;
  if (date.size() >= 3) result += renderDatePicture(date, t);
  if (time.size() >= 3) result += renderTimePicture(time, t);
  return result;
}

}  // namespace wim
