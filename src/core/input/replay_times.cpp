#include "input/replay_times.h"

#include "base/time_of_day.h"

namespace zevrin {

namespace {

constexpr std::string_view kRawLogSuffix = ".kss";
// "_ddmmyyyy_hhmm" before the extension.
constexpr std::size_t kStampLength = 14;

// The number written by exactly `text`, all digits; -1 otherwise.
int Digits(std::string_view text) {
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return text.empty() ? -1 : value;
}

bool ValidCivil(const CivilTime& t) {
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 || t.second > 59) {
    return false;
  }
  // The day must exist in that month: it survives the round trip.
  const CivilTime back = ToCivil(FromCivil(t));
  return back.day == t.day && back.month == t.month;
}

}  // namespace

std::optional<LogNameParts> ParseLogFileName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (!name.ends_with(kRawLogSuffix)) return std::nullopt;
  name.remove_suffix(kRawLogSuffix.size());
  if (name.size() < kStampLength) return std::nullopt;
  const std::string_view stamp = name.substr(name.size() - kStampLength);
  if (stamp[0] != '_' || stamp[9] != '_') return std::nullopt;
  CivilTime t;
  t.day = Digits(stamp.substr(1, 2));
  t.month = Digits(stamp.substr(3, 2));
  t.year = Digits(stamp.substr(5, 4));
  t.hour = Digits(stamp.substr(10, 2));
  t.minute = Digits(stamp.substr(12, 2));
  if (t.day < 0 || t.month < 0 || t.year < 0 || t.hour < 0 || t.minute < 0 || !ValidCivil(t)) {
    return std::nullopt;
  }
  return LogNameParts{std::string(name.substr(0, name.size() - kStampLength)), FromCivil(t)};
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
  if (text.ends_with('Z')) text.remove_suffix(1);
  // yyyy-mm-dd?hh:mm, then optionally :ss and .fff
  if (text.size() < 16 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':') {
    return std::nullopt;
  }
  CivilTime t;
  t.year = Digits(text.substr(0, 4));
  t.month = Digits(text.substr(5, 2));
  t.day = Digits(text.substr(8, 2));
  t.hour = Digits(text.substr(11, 2));
  t.minute = Digits(text.substr(14, 2));
  t.second = 0;
  int ms = 0;
  std::string_view rest = text.substr(16);
  if (!rest.empty()) {
    if (rest.size() < 3 || rest[0] != ':') return std::nullopt;
    t.second = Digits(rest.substr(1, 2));
    rest.remove_prefix(3);
    if (!rest.empty()) {
      if (rest.size() < 2 || rest.size() > 4 || rest[0] != '.') return std::nullopt;
      std::string fraction(rest.substr(1));
      fraction.resize(3, '0');
      ms = Digits(fraction);
    }
  }
  if (t.year < 0 || t.month < 0 || t.day < 0 || t.hour < 0 || t.minute < 0 || t.second < 0 ||
      ms < 0 || !ValidCivil(t)) {
    return std::nullopt;
  }
  return FromCivil(t) * 1000 + ms;
}

}  // namespace zevrin
