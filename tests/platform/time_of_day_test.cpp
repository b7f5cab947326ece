#include "platform/time_of_day.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace zevrin {
namespace {

TEST(TimeOfDayTest, CalendarConversionRoundTripsAcrossCenturiesAndLeapDays) {
  const CivilTime t = ToCivil(1245506709);
  EXPECT_EQ(t.year, 2009);
  EXPECT_EQ(t.month, 6);
  EXPECT_EQ(t.day, 20);
  EXPECT_EQ(t.hour, 14);
  EXPECT_EQ(t.minute, 5);
  EXPECT_EQ(t.second, 9);

  // Compared with the C library's own conversion over a wide range, before 1970 too.
  for (std::int64_t s = -2208988800; s < 4102444800; s += 86400 * 37 + 3601) {
    const std::time_t tt = static_cast<std::time_t>(s);
    std::tm tm{};
    ASSERT_NE(gmtime_r(&tt, &tm), nullptr);
    const CivilTime c = ToCivil(s);
    ASSERT_EQ(c.year, tm.tm_year + 1900) << s;
    ASSERT_EQ(c.month, tm.tm_mon + 1) << s;
    ASSERT_EQ(c.day, tm.tm_mday) << s;
    ASSERT_EQ(c.hour * 3600 + c.minute * 60 + c.second,
              tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
    ASSERT_EQ(FromCivil(c), s);
  }
  EXPECT_EQ(ToCivil(FromCivil({2000, 2, 29, 23, 59, 59})).day, 29);
}

TEST(TimeOfDayTest, OffsetFollowsTheTimeZone) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  EXPECT_EQ(UtcOffsetMinutes(), 0);
  setenv("TZ", "XST-5:30", 1);  // POSIX sign: five and a half hours east of Greenwich
  tzset();
  EXPECT_EQ(UtcOffsetMinutes(), 330);
  setenv("TZ", "YST3", 1);
  tzset();
  EXPECT_EQ(UtcOffsetMinutes(), -180);
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
}  // namespace zevrin
