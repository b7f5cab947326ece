#pragma once
// Every raise, clear and acknowledgement of an alarm, kept in the station's
// archive beside the frames, as people query it:
//   alarms(id, rule, severity, message, value, raised_ms, raised, cleared_ms,
//          cleared, clear_value, acknowledged_ms, acknowledged, frame_id)
// `rule` is the rule as written; `value` the value that raised it (the rate, the
// count, the minutes of silence for those rules); `frame_id` the row of the frame
// that raised it in `frames`, NULL for a silence. An alarm still raised when its
// rules stop being evaluated (the program or the recording ends) is cleared then,
// without a `clear_value`: nobody knows how long it lasted after. The times are milliseconds
// since 1970 and, beside them, UTC text. The rows are in stored_alarms.

#include <cstdint>
#include <string>
#include <vector>

#include "alarms/alarm_evaluator.h"
#include "outputs/archive/archive_thread.h"

namespace zevrin {

/// Writes the changes of alarms into the archive, on the archive's thread, so
/// that an alarm never holds up reception. A recording replayed again raises its
/// alarms at the same times: they are kept once.
class AlarmArchive final : public AlarmListener {
 public:
  /// `archive` must outlive this.
  explicit AlarmArchive(ArchiveThread& archive) : archive_(archive) {}

  void AlarmChanged(const AlarmEvent& event) override;
  /// The rules are no longer evaluated from `when_ms` on (the last frame seen, or
  /// now): every alarm still raised ends there.
  void EndWatching(std::int64_t when_ms);

 private:
  // By rule: the alarm now raised, if any, and when it was raised (its row).
  struct Open {
    bool raised = false;
    std::int64_t raised_ms = 0;
    std::string rule;
  };
  ArchiveThread& archive_;
  std::vector<Open> open_;
};

}  // namespace zevrin
