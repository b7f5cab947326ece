#pragma once
// The registry of the program's open history windows: it opens them on the
// archive in use, brings forward one already showing a value, and moves them to
// another archive or closes them when the archive goes.

#include <QPointer>
#include <cstdint>
#include <vector>

#include "base/time_of_day.h"
#include "views/history_source.h"

namespace zevrin {

class HistoryWindow;

/// The open history windows of the program.
class HistoryWindows final {
 public:
  HistoryWindows(const Clock& clock, std::int64_t run_start_ms)
      : clock_(clock), run_start_ms_(run_start_ms) {}
  ~HistoryWindows() { CloseAll(); }
  HistoryWindows(const HistoryWindows&) = delete;
  HistoryWindows& operator=(const HistoryWindows&) = delete;

  /// The archive to read from; open windows switch to it. Null closes them and
  /// lets Open do nothing. It must outlive its use here.
  void SetSource(const HistorySource* source);
  const HistorySource* source() const { return source_; }
  /// Opens a window with the trend of `field`, or brings forward an open one that
  /// shows it alone. Null when there is no source or the field has no history.
  HistoryWindow* Open(int field);
  void CloseAll();
  /// The open windows, oldest first.
  std::vector<HistoryWindow*> windows();

 private:
  const Clock& clock_;
  std::int64_t run_start_ms_;
  const HistorySource* source_ = nullptr;
  std::vector<QPointer<HistoryWindow>> windows_;
};

}  // namespace zevrin
