#include "base/time_of_day.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace zevrin {

namespace {
constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}
}  // namespace

CivilTime ToCivil(std::int64_t seconds) {
  using namespace std::chrono;
  const std::int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const std::int64_t rest = seconds - days * kSecondsPerDay;
  const year_month_day ymd{sys_days{std::chrono::days{days}}};
  CivilTime t;
  t.year = static_cast<int>(ymd.year());
  t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

std::int64_t FromCivil(const CivilTime& t) {
  using namespace std::chrono;
  const sys_days d{year{t.year} / month{static_cast<unsigned>(t.month)} /
                   day{static_cast<unsigned>(t.day)}};
  return static_cast<std::int64_t>(d.time_since_epoch().count()) * kSecondsPerDay + t.hour * 3600 +
         t.minute * 60 + t.second;
}

std::string UtcText(std::int64_t utc_ms) {
  const std::int64_t seconds = FloorDiv(utc_ms, kMillisPerSecond);
  const CivilTime c = ToCivil(seconds);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", c.year, c.month, c.day,
                c.hour, c.minute, c.second, static_cast<int>(utc_ms - seconds * kMillisPerSecond));
  return text;
}

std::int16_t UtcOffsetMinutes() {
  // tm_gmtoff already folds in daylight saving time when the C library's zone
  // rules say it is in effect, in seconds east of Greenwich.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return static_cast<std::int16_t>(local.tm_gmtoff / 60);
}

std::int64_t UtcNow() { return SystemClock().Now().seconds; }

UtcInstant SystemClock::Now() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return UtcInstant{static_cast<std::int64_t>(ts.tv_sec), static_cast<int>(ts.tv_nsec / 1000000)};
}

}  // namespace zevrin
