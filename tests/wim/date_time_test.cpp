#include "wim/date_time.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"
#include "tests/support/gbk_text.h"

namespace {

// 3 July 2017, 14:05:09 as an automation date.
constexpr double kJuly3 = 42919.0 + (14 * 3600 + 5 * 60 + 9) / 86400.0;

TEST(DateTime, EveryStyleAndPart) {
  fake::System system;
  const struct {
    int style, part;
    bool clock24;
    const char* text;
  } cases[] = {
      {1, 0, true, "2017-07-03 14:05:09"},
      {1, 0, false, "2017-07-03 02:05:09"},
      {0, 0, true, "2017年07月03日 14时05分09秒"},
      {0, 1, true, "2017年07月03日"},  // no trailing blank
      {0, 2, true, "07月03日"},
      {0, 3, false, "02时05分09秒"},
      {0, 4, true, "14时05分"},
      {0, 5, true, "05分09秒"},
      {2, 0, true, "2017/07/03 14/05/09"},
      {2, 2, true, "07/03"},
      {3, 0, true, "2017070314050" "9"},  // no blank between date and time
      {3, 3, true, "140509"},
      {3, 4, false, "0205"},
      {3, 5, true, "0509"},
      {1, 1, true, "2017-07-03"},
      {1, 4, true, "14:05"},
      {7, 0, true, "2017年07月03日 14时05分09秒"},   // unknown style: style 0
      {-1, 3, true, "14时05分09秒"},
  };
  for (const auto& c : cases) {
    system.clock24 = c.clock24;
    EXPECT_GBK_EQ(c.text, wim::formatDateTime(system, kJuly3, c.style, c.part)) << c.style << "/" << c.part;
  }
}

TEST(DateTime, NowAndTwelveHourEdges) {
  fake::System system;
  system.now = {2026, 12, 8, 0, 30, 0};
  system.clock24 = false;
  // Midnight and noon read 12 on a 12-hour clock, without a marker.
  EXPECT_EQ(wim::formatDateTime(system, std::nullopt, 1, 3), "12:30:00");
  system.now.hour = 12;
  EXPECT_EQ(wim::formatDateTime(system, std::nullopt, 1, 0), "2026-12-08 12:30:00");
  system.clock24 = true;
  system.now.hour = 0;
  EXPECT_EQ(wim::formatDateTime(system, std::nullopt, 1, 0), "2026-12-08 00:30:00");
}

TEST(DateTime, AutomationDates) {
  const struct {
    double date;
    bool valid;
    int y, m, d, h, mi, s;
  } cases[] = {
      {0.0, true, 1899, 12, 30, 0, 0, 0},
      {2.5, true, 1900, 1, 1, 12, 0, 0},
      {-1.25, true, 1899, 12, 29, 6, 0, 0},  // before the epoch the fraction still counts forward
      {42919.99999999, true, 2017, 7, 4, 0, 0, 0},  // rounds to the next second, the next day
      {60.0, true, 1900, 2, 28, 0, 0, 0},
      {2958465.0, true, 9999, 12, 31, 0, 0, 0},
      {2958466.0, false},
      {-657435.0, false},
  };
  for (const auto& c : cases) {
    auto t = wim::calendarFromOleDate(c.date);
    ASSERT_EQ(t.has_value(), c.valid) << c.date;
    if (!t) continue;
    EXPECT_EQ(std::vector<int>({t->year, t->month, t->day, t->hour, t->minute, t->second}),
              std::vector<int>({c.y, c.m, c.d, c.h, c.mi, c.s}))
        << c.date;
  }
  fake::System system;
  EXPECT_EQ(wim::formatDateTime(system, 3e6, 1, 0), "");
}

// The system formatting fills 50 characters: a longer result is no result.
TEST(DateTime, FiftyCharacterBuffer) {
  const platform::CalendarTime t{2017, 7, 3, 14, 5, 9};
  EXPECT_EQ(wim::renderDatePicture(std::string(49, '-'), t), std::string(49, '-'));
  EXPECT_EQ(wim::renderDatePicture(std::string(50, '-'), t), "");
  EXPECT_EQ(wim::renderTimePicture("HH" + std::string(47, '.'), t), "14" + std::string(47, '.'));
}

}  // namespace
