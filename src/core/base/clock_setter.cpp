#include "base/clock_setter.h"

#include <chrono>

#include "base/time_of_day.h"

namespace zevrin {

std::optional<timespec> ClockRecordToTimespec(const ClockRecord& record) {
  using namespace std::chrono;
  const year_month_day date{year{record.year}, month{record.month}, day{record.day}};
  if (!date.ok() || record.hour > 23 || record.minute > 59 || record.second > 59 ||
      record.milliseconds > 999) {
    return std::nullopt;
  }
  const CivilTime civil{record.year, record.month,  record.day,
                        record.hour, record.minute, record.second};
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(FromCivil(civil));
  ts.tv_nsec = static_cast<long>(record.milliseconds) * 1000000L;
  return ts;
}

bool SystemClockSetter::SetSystemTime(const ClockRecord& record) {
  const std::optional<timespec> ts = ClockRecordToTimespec(record);
  return ts.has_value() && clock_settime(CLOCK_REALTIME, &*ts) == 0;
}

}  // namespace zevrin
