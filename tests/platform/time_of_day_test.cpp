#include "base/time_of_day.h"

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

namespace zevrin {
namespace {

TEST(TimeOfDayTest, CalendarConversionRoundTripsAcrossCenturiesAndLeapDays) {
  // Compared with the C library's own conversion over a wide range, before 1970 too.
  for (std::int64_t s = -2208988800; s < 4102444800; s += 86400 * 37 + 3601) {
    const std::time_t tt = static_cast<std::time_t>(s);
    std::tm tm{};
    ASSERT_NE(gmtime_r(&tt, &tm), nullptr);
    const CivilTime c = ToCivil(s);
    ASSERT_EQ(
        std::tuple(c.year, c.month, c.day, c.hour, c.minute, c.second),
        std::tuple(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec))
        << s;
    ASSERT_EQ(FromCivil(c), s);
  }
}

}  // namespace
}  // namespace zevrin
