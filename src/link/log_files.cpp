#include "link/log_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

FileDumpLog::~FileDumpLog() { Close(false); }

bool FileDumpLog::Open(const std::string& path) {
  Close(false);
  path_ = path;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  error_.clear();
  return true;
}

bool FileDumpLog::Close(bool delete_if_empty) {
  if (fd_ < 0) return true;
  bool ok = true;
  struct stat st {};
  const bool empty = ::fstat(fd_, &st) == 0 && st.st_size == 0;
  if (::close(fd_) != 0) {
    error_ = std::strerror(errno);
    ok = false;
  }
  fd_ = -1;
  if (delete_if_empty && empty && ::unlink(path_.c_str()) != 0) {
    error_ = std::strerror(errno);
    ok = false;
  }
  return ok;
}

bool FileDumpLog::Write(std::string_view line) {
  if (fd_ < 0) return false;
  // One write per line, so the line reaches the file at once and whole.
  std::string text(line);
  text += "\r\n";
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = std::strerror(errno);
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
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

namespace {

// The size of the file at `path`, -1 when unknown.
off_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

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
  const off_t before = FileSize(path);
  if (file_.AppendFrame(frame)) {
    health_.Succeeded(path);
    return true;
  }
  // Part of the frame may have reached the file (a full disk); cut it off so the
  // file stays a valid KISS stream of whole frames.
  if (before >= 0) {
    [[maybe_unused]] const int ignored = ::truncate(path.c_str(), before);
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
