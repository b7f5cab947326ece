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

// --- CheckedLogFile ----------------------------------------------------------

bool CheckedLogFile::Open(const std::string& path) {
  active_ = true;
  if (!file_.Open(path)) {
    Failed();
    return false;
  }
  Succeeded();
  return true;
}

bool CheckedLogFile::Append(const void* data, std::size_t size) {
  if (!active_) return false;
  if (!file_.IsOpen() && !Open(std::string(file_.path()))) return false;
  if (!file_.Append(data, size)) {
    Failed();
    return false;
  }
  Succeeded();
  return true;
}

bool CheckedLogFile::Close() {
  if (!active_) return true;
  active_ = false;
  return file_.Close(true);
}

void CheckedLogFile::Failed() {
  if (failing_) return;
  failing_ = true;
  if (listener_ != nullptr) {
    listener_->ShowLogProblem("The log file " + file_.path() + " cannot be written (" +
                              file_.error() + "). Reception goes on without it.");
  }
}

void CheckedLogFile::Succeeded() {
  if (!failing_) return;
  failing_ = false;
  if (listener_ != nullptr) {
    listener_->ShowLogRecovered("The log file " + file_.path() + " is written again.");
  }
}

void CheckedDumpLog::WriteLine(std::string_view line) {
  // One write per line, so the line reaches the file at once and whole.
  line_.assign(line);
  line_ += "\r\n";
  Append(line_.data(), line_.size());
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
