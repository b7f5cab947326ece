#include "link/log_files.h"

#include <cstdio>
#include <utility>

namespace zevrin {

std::string LogFileName(std::string_view directory, std::string_view station_label,
                        std::int64_t utc_seconds, std::string_view extension) {
  const CivilTime t = ToCivil(utc_seconds);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "_%02d%02d%04d_%02d%02d", t.day, t.month, t.year, t.hour,
                t.minute);
  std::string name(directory);
  if (!name.empty() && name.back() != '/') name += '/';
  name += station_label;
  name += stamp;
  name += extension;
  return name;
}

// --- FileDumpLog -------------------------------------------------------------

bool FileDumpLog::Write(std::string_view line) {
  // One write per line, so the line reaches the file at once and whole.
  line_.assign(line);
  line_ += "\r\n";
  return file_.Append(line_.data(), line_.size());
}

// --- LogHealth ---------------------------------------------------------------

void LogHealth::Failed(const std::string& path, const std::string& reason) {
  if (failing_) return;
  failing_ = true;
  if (listener_ != nullptr) {
    listener_->ShowLogProblem("The log file " + path + " cannot be written (" + reason +
                              "). Reception goes on without it.");
  }
}

void LogHealth::Succeeded(const std::string& path) {
  if (!failing_) return;
  failing_ = false;
  if (listener_ != nullptr)
    listener_->ShowLogRecovered("The log file " + path + " is written again.");
}

// --- CheckedRawLog -----------------------------------------------------------

bool CheckedRawLog::Open(const std::string& path) {
  active_ = true;
  if (!file_.Open(path)) {
    health_.Failed(path, file_.error());
    return false;
  }
  health_.Succeeded(path);
  return true;
}

bool CheckedRawLog::AppendFrame(std::span<const std::uint8_t> frame) {
  if (!active_) return false;
  const std::string path = file_.path();  // a copy: Open() assigns it anew
  // A log that could not be created is tried again, so logging resumes once the
  // directory is writable again.
  if (!file_.IsOpen() && !Open(path)) return false;
  if (file_.AppendFrame(frame)) {
    health_.Succeeded(path);
    return true;
  }
  health_.Failed(path, file_.error());
  return false;
}

bool CheckedRawLog::Close() {
  if (!active_) return true;
  active_ = false;
  return file_.Close(true);
}

// --- CheckedDumpLog ----------------------------------------------------------

bool CheckedDumpLog::Open(const std::string& path) {
  active_ = true;
  if (!file_.Open(path)) {
    health_.Failed(path, file_.error());
    return false;
  }
  health_.Succeeded(path);
  return true;
}

void CheckedDumpLog::WriteLine(std::string_view line) {
  if (!active_) return;
  const std::string path = file_.path();  // a copy: Open() assigns it anew
  if (!file_.IsOpen() && !Open(path)) return;
  if (file_.Write(line)) {
    health_.Succeeded(path);
  } else {
    health_.Failed(path, file_.error());
  }
}

bool CheckedDumpLog::Close() {
  if (!active_) return true;
  active_ = false;
  return file_.Close(true);
}

// --- LogFiles ----------------------------------------------------------------

LogFiles::LogFiles(std::string directory, LogProblemListener* listener)
    : directory_(std::move(directory)), raw_(listener), dump_(listener), hex_(listener) {}

LogFiles::~LogFiles() { CloseAll(); }

void LogFiles::OpenRawLog(std::string_view station_label, std::int64_t utc_seconds) {
  raw_.Open(LogFileName(directory_, station_label, utc_seconds, kRawLogExtension));
}

void LogFiles::OpenDumpLogs(std::string_view station_label, const Clock& clock) {
  dump_.Open(LogFileName(directory_, station_label, clock.Now().seconds, kDumpLogExtension));
  hex_.Open(LogFileName(directory_, station_label, clock.Now().seconds, kHexLogExtension));
}

std::vector<std::string> LogFiles::CloseAll() {
  std::vector<std::string> failures;
  if (!raw_.Close()) failures.push_back(raw_.path() + ": " + raw_.error());
  if (!dump_.Close()) failures.push_back(dump_.path() + ": " + dump_.error());
  if (!hex_.Close()) failures.push_back(hex_.path() + ": " + hex_.error());
  return failures;
}

}  // namespace zevrin
