#include "outputs/log_notices.h"

#include <cstdio>
#include <utility>

#include "base/time_of_day.h"

namespace zevrin {

namespace {

struct LogWords {
  std::string_view name;   // "raw log"
  std::string_view piece;  // what it counts as missed, plural
};

constexpr LogWords kLogWords[] = {
    {"raw log", "frames"},
    {"dump log", "lines"},
    {"hex log", "lines"},
    {"archive", "frames"},
};

std::string UtcClockText(std::int64_t utc_seconds) {
  const CivilTime t = ToCivil(utc_seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return text;
}

}  // namespace

std::string LogNoticeText(const LogNotice& notice) {
  const LogWords& words = kLogWords[static_cast<std::size_t>(notice.kind)];
  std::string text = "The ";
  text += words.name;
  text += ' ';
  text += notice.path;
  const std::string count = std::to_string(notice.missed) + " " + std::string(words.piece);
  if (!notice.complete_now) {
    text += " is incomplete: it cannot be written (" + notice.error + "). ";
    if (notice.missed == 0) {
      text += "Nothing has been missed yet; reception goes on.";
    } else {
      text += count + " missed since " + UtcClockText(notice.first_missed) +
              " UTC; reception goes on without them.";
    }
    return text;
  }
  text += " is written again since " + UtcClockText(notice.written_again) + " UTC. ";
  if (notice.missed == 0) {
    text += "Nothing has been missed.";
  } else {
    text += "It misses " + count + ", received from " + UtcClockText(notice.first_missed) + " to " +
            UtcClockText(notice.last_missed) + " UTC.";
  }
  return text;
}

void LogNoticeKeeper::Restart(std::string path) {
  const LogKind kind = notice_.kind;
  notice_ = LogNotice{};
  notice_.kind = kind;
  notice_.path = std::move(path);
}

void LogNoticeKeeper::Failed(std::string_view error) {
  if (RecordFailure(error)) Tell();
}

void LogNoticeKeeper::Missed(std::uint64_t count, std::int64_t utc_seconds) {
  if (count == 0) return;
  RecordMissed(count, utc_seconds);
  Tell();
}

void LogNoticeKeeper::FailedMissingOne(std::string_view error, std::int64_t utc_seconds) {
  RecordFailure(error);
  RecordMissed(1, utc_seconds);
  Tell();
}

void LogNoticeKeeper::WrittenAgain(std::int64_t utc_seconds) {
  if (notice_.complete_now) return;
  notice_.complete_now = true;
  notice_.written_again = utc_seconds;
  Tell();
}

bool LogNoticeKeeper::RecordFailure(std::string_view error) {
  // A failure goes on as long as the same error comes back; a new one is news.
  if (!notice_.complete_now && notice_.error == error) return false;
  notice_.complete_now = false;
  notice_.error = error;
  return true;
}

void LogNoticeKeeper::RecordMissed(std::uint64_t count, std::int64_t utc_seconds) {
  if (notice_.missed == 0) notice_.first_missed = utc_seconds;
  notice_.missed += count;
  notice_.last_missed = utc_seconds;
}

void LogNoticeKeeper::Tell() const {
  if (listener_ != nullptr) listener_->LogNoticeChanged(notice_);
}

}  // namespace zevrin
