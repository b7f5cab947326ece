#include "outputs/logs/log_files.h"

#include <cstdio>
#include <utility>

namespace zevrin {

namespace {

bool IsFileNameCharacter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

// Bytes of the UTF-8 sequence that starts with `lead`, when `text` holds them all
// from `pos`; 1 for anything else, so a stray byte is one character of its own.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  const std::size_t length = lead >= 0xF0 && lead < 0xF8   ? 4
                             : lead >= 0xE0 && lead < 0xF0 ? 3
                             : lead >= 0xC2 && lead < 0xE0 ? 2
                                                           : 1;
  if (pos + length > text.size()) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

}  // namespace

std::string FileNameLabel(std::string_view station_label) {
  std::string name;
  name.reserve(station_label.size());
  for (std::size_t pos = 0; pos < station_label.size();) {
    const auto c = static_cast<unsigned char>(station_label[pos]);
    if (IsFileNameCharacter(c)) {
      name.push_back(static_cast<char>(c));
      ++pos;
    } else {
      name.push_back('_');
      pos += Utf8SequenceLength(station_label, pos);
    }
  }
  if (!name.empty() && name.front() == '.') name.front() = '_';
  return name;
}

std::string LogFileName(std::string_view directory, std::string_view station_label,
                        std::int64_t utc_seconds, std::string_view extension) {
  const CivilTime t = ToCivil(utc_seconds);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "_%02d%02d%04d_%02d%02d", t.day, t.month, t.year, t.hour,
                t.minute);
  std::string name(directory);
  if (!name.empty() && name.back() != '/') name += '/';
  name += FileNameLabel(station_label);
  name += stamp;
  name += extension;
  return name;
}

// --- CheckedLogFile ----------------------------------------------------------

bool CheckedLogFile::Open(const std::string& path) {
  active_ = true;
  notices_.Restart(path);
  written_since_failure_ = 0;
  if (!OpenFile(path)) {
    Failed(false);
    return false;
  }
  return true;
}

// A raw log is a KISS stream: a frame cut short by a kill is cut off before more
// frames follow it.
bool CheckedLogFile::OpenFile(const std::string& path) {
  if (notices_.notice().kind == LogKind::kRaw) return file_.OpenDelimited(path, kFend);
  return file_.Open(path);
}

bool CheckedLogFile::Append(const void* data, std::size_t size) {
  if (!active_) return false;
  if (!file_.IsOpen() && !OpenFile(notices_.notice().path)) {
    Failed(true);
    return false;
  }
  if (!file_.Append(data, size)) {
    Failed(true);
    return false;
  }
  Succeeded(size);
  return true;
}

bool CheckedLogFile::Close() {
  if (!active_) return true;
  active_ = false;
  return file_.Close(true);
}

void CheckedLogFile::Failed(bool piece_missed) {
  written_since_failure_ = 0;
  if (piece_missed) {
    notices_.FailedMissingOne(file_.error(), clock_.Now().seconds);
  } else {
    notices_.Failed(file_.error());
  }
}

void CheckedLogFile::Succeeded(std::size_t size) {
  if (notices_.complete_now()) return;
  // A few small pieces may still fit a full disk; only a run of bytes that needs
  // new room proves that the log is written again.
  written_since_failure_ += size;
  if (written_since_failure_ < kRecoveryBytes) return;
  notices_.WrittenAgain(clock_.Now().seconds);
}

void CheckedDumpLog::WriteLine(std::string_view line) {
  // One write per line, so the line reaches the file at once and whole.
  line_.assign(line);
  line_ += "\r\n";
  Append(line_.data(), line_.size());
}

// --- LogFiles ----------------------------------------------------------------

LogFiles::LogFiles(std::string directory, LogProblemListener* listener, const Clock& clock)
    : directory_(std::move(directory)),
      raw_(listener, clock),
      dump_(LogKind::kDump, listener, clock),
      hex_(LogKind::kHex, listener, clock) {}

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
