#pragma once
// Reading the computer's clock and time zone.

#include <cstdint>
#include <string>

namespace zevrin {

/// A moment in UTC: whole seconds since 1970-01-01 00:00:00 and the milliseconds
/// of that second (0 to 999), taken from one reading of the clock.
struct UtcInstant {
  std::int64_t seconds = 0;
  int milliseconds = 0;
};

inline constexpr std::int64_t kMillisPerSecond = 1000;

/// Milliseconds since 1970 of a moment.
constexpr std::int64_t ToUtcMillis(UtcInstant t) {
  return t.seconds * kMillisPerSecond + t.milliseconds;
}

/// The moment of `ms` milliseconds since 1970 (before 1970 too).
constexpr UtcInstant FromUtcMillis(std::int64_t ms) {
  std::int64_t seconds = ms / kMillisPerSecond;
  std::int64_t rest = ms % kMillisPerSecond;
  if (rest < 0) {
    rest += kMillisPerSecond;
    --seconds;
  }
  return {seconds, static_cast<int>(rest)};
}

/// A UTC date and time broken down into its calendar parts.
struct CivilTime {
  int year = 1970;
  int month = 1;   // 1 to 12
  int day = 1;     // 1 to 31
  int hour = 0;    // 0 to 23
  int minute = 0;  // 0 to 59
  int second = 0;  // 0 to 59
};

/// Breaks seconds since 1970 (UTC) into calendar parts; works for any 64-bit value
/// within the proleptic Gregorian calendar's representable years.
CivilTime ToCivil(std::int64_t seconds);

/// Seconds since 1970 (UTC) of the given calendar parts.
std::int64_t FromCivil(const CivilTime& t);

/// "YYYY-MM-DD HH:MM:SS.mmm" of a UTC time in milliseconds (times before 1970 too).
std::string UtcText(std::int64_t utc_ms);

/// The local time zone's current offset from UTC in whole minutes
/// (local time = UTC + offset), daylight saving time included when in effect.
std::int16_t UtcOffsetMinutes();

/// The current UTC date and time in whole seconds since 1970.
std::int64_t UtcNow();

/// Source of the current time; the program uses SystemClock, tests a fixed one.
class Clock {
 public:
  virtual ~Clock() = default;
  /// The current UTC time with milliseconds, from one reading of the clock.
  virtual UtcInstant Now() const = 0;
};

/// The computer's real-time clock.
class SystemClock final : public Clock {
 public:
  UtcInstant Now() const override;
};

}  // namespace zevrin
