#pragma once
// Setting the computer's clock.

#include <cstdint>
#include <ctime>
#include <optional>

namespace zevrin {

/// A UTC date and time as the clock setting takes it; every part an unsigned
/// 16-bit value.
struct ClockRecord {
  std::uint16_t year = 0;
  std::uint16_t month = 0;  // 1 to 12
  std::uint16_t day_of_week = 0;
  std::uint16_t day = 0;  // 1 to the month's last day
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;

  friend bool operator==(const ClockRecord&, const ClockRecord&) = default;
};

/// The record as a point on the real-time clock (seconds since 1970, UTC), or
/// nullopt when a part is out of range (month 13, 31 April, hour 24...).
/// Day of week is not checked: the date alone fixes the moment.
std::optional<timespec> ClockRecordToTimespec(const ClockRecord& record);

/// Sets the computer's clock, so the program and every other one sees a new time.
class ClockSetter {
 public:
  virtual ~ClockSetter() = default;
  /// Returns true when the clock now reads `record`; false when it was refused
  /// (invalid record, or no right to set the clock) and left unchanged.
  virtual bool SetSystemTime(const ClockRecord& record) = 0;
};

/// Sets CLOCK_REALTIME. Needs CAP_SYS_TIME; without it every call fails.
class SystemClockSetter final : public ClockSetter {
 public:
  bool SetSystemTime(const ClockRecord& record) override;
};

}  // namespace zevrin
