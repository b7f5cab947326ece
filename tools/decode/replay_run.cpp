#include "decode/replay_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>

#include "decode/options.h"
#include "frames/capture_file.h"
#include "frames/kiss_frames.h"
#include "kiss/receive_path.h"

namespace zevrin {

namespace {

// Frames per archive transaction when reading files; the end of each read of a
// live link or standard input ends a batch too.
constexpr int kReplayBatchFrames = 1000;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr int kProgressWidth = 30;
constexpr int kMaxBaud = 10000000;
// Frames of a live link kept while the archive cannot take them.
constexpr std::size_t kLiveQueueFrames = 20000;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

// The first bytes of a file, to tell a capture from a KISS recording.
bool IsCaptureFile(int fd) {
  std::uint8_t head[4];
  const ssize_t n = ::pread(fd, head, sizeof head, 0);
  return n > 0 && IsCaptureHead(std::span<const std::uint8_t>(head, static_cast<std::size_t>(n)));
}

// Adds up the bytes of the frames a recording holds, cut as the receive path cuts
// them (time stamps left out), for timing it backwards from its end.
class FrameByteCounter final : public FrameHandler, private ReceiveView {
 public:
  explicit FrameByteCounter(const Clock& clock) : path_(state_, clock, *this) {
    path_.SetFrameHandler(this);
  }
  std::uint64_t Count(int fd) {
    std::vector<std::uint8_t> buffer(64 * 1024);
    off_t at = 0;
    for (ssize_t n; (n = ::pread(fd, buffer.data(), buffer.size(), at)) > 0; at += n) {
      path_.Assemble(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
    }
    return bytes_;
  }
  void HandOver(std::span<const std::uint8_t> frame, ReceiveState&) override {
    if (!KissTimestamp(frame)) bytes_ += frame.size();
  }

 private:
  void SetStatusText(std::string_view) override {}
  void SetReceiveCounterText(std::string_view) override {}

  ReceiveState state_;
  ReceivePath path_;
  std::uint64_t bytes_ = 0;
};

}  // namespace

const char* const kReplayUsage =
    "  --archive FILE    add every frame to the archive FILE (created when missing);\n"
    "                    nothing is printed unless --format is given too\n"
    "  --start-time T    reception time of the first frame, UTC: 2026-12-06T13:12:00Z\n"
    "                    (default: the minute in a raw log's name Label_ddmmyyyy_hhmm.kss,\n"
    "                    else the last frame at the file's modification time; standard\n"
    "                    input is live; KISS time stamps and captures keep their times)\n"
    "  --baud N          line rate at which recorded frames follow (default 9600, 8N1)\n"
    "  --station LABEL   station label for the archive and the line protocol\n"
    "                    (default: the label in a raw log's name)\n";

bool TakeReplayOption(int argc, char** argv, int& i, ReplayOptions& options, std::string& error) {
  const auto taken =
      OneOfOptions(argc, argv, i, {"--archive", "--start-time", "--baud", "--station"}, error);
  if (!taken) return false;
  if (!error.empty()) return true;
  const auto& [name, value] = *taken;
  if (name == "--archive") {
    if (value.empty()) error = "--archive needs a file name";
    options.archive = value;
  } else if (name == "--start-time") {
    options.start_ms = ParseUtcTime(value);
    if (!options.start_ms) error = "--start-time takes a UTC time like 2026-12-06T13:12:00Z";
  } else if (name == "--baud") {
    int baud = 0;
    const auto r = std::from_chars(value.data(), value.data() + value.size(), baud);
    if (r.ec != std::errc() || r.ptr != value.data() + value.size() || baud <= 0 ||
        baud > kMaxBaud) {
      error = "--baud takes a line rate in bits per second, like 9600";
    }
    options.baud = baud;
  } else {
    options.station = value;
  }
  return true;
}

ReplayRun::ReplayRun(const ReplayOptions& options, OutputFormat format, std::FILE* out,
                     std::FILE* messages)
    : options_(options), format_(format), messages_(messages) {
  if (!options_.archive.empty()) {
    ArchiveWriterOptions archive_options;
    archive_options.batch_frames = kReplayBatchFrames;
    archive_options.background_checkpoints = true;
    // A live link's frames are stamped as they are read: they wait for the
    // archive in memory, never the other way round.
    if (options_.live) archive_options.queue_frames = kLiveQueueFrames;
    archive_ = std::make_unique<ArchiveThread>(this, archive_options);
  }
  if (format == OutputFormat::kInflux) lines_ = std::make_unique<LineProtocolWriter>(out);
  if (format == OutputFormat::kPcap) pcap_ = std::make_unique<PcapWriter>(out);
}

ReplayRun::~ReplayRun() = default;

bool ReplayRun::Start(std::string& error) {
  if (archive_ == nullptr) return true;
  if (archive_->Open(options_.archive)) {
    archive_open_ = true;
    return true;
  }
  error = "cannot use the archive " + options_.archive + ": " + archive_->open_error();
  return false;
}

void ReplayRun::SetInputs(const std::vector<std::string>& names, const std::vector<int>& fds) {
  inputs_.clear();
  bool all_files = true;
  for (std::size_t k = 0; k < names.size() && k < fds.size(); ++k) {
    Input in;
    in.name = names[k];
    struct stat st {};
    const bool is_file = names[k] != "-" && ::fstat(fds[k], &st) == 0 && S_ISREG(st.st_mode);
    in.link = names[k] == "-" ? "stdin" : BaseName(names[k]);
    if (is_file) {
      in.fd = fds[k];
      in.capture = IsCaptureFile(fds[k]);
      in.size = static_cast<std::uint64_t>(st.st_size);
      in.start_ms =
          static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    } else {
      all_files = false;
      in.live = names[k] == "-" || !options_.start_ms;
    }
    if (const std::optional<LogNameParts> parts = ParseLogFileName(names[k])) {
      in.station = parts->station_label;
      in.start_ms = parts->utc_seconds * 1000;
      in.source = TimeSource::kName;
    }
    if (options_.station) in.station = *options_.station;
    if (options_.start_ms) {
      in.live = false;
      in.source = TimeSource::kStartTime;
    }
    total_bytes_ += in.size;
    inputs_.push_back(std::move(in));
  }
  progress_ = archive_ != nullptr && all_files && ::isatty(::fileno(messages_)) == 1;
  started_ = std::chrono::steady_clock::now();
}

void ReplayRun::SetLiveInput(const std::string& link) {
  Input in;
  in.name = link;
  in.link = link;
  in.live = true;
  if (options_.station) in.station = *options_.station;
  inputs_.assign(1, std::move(in));
  progress_ = false;
  BeginInput(0);
}

void ReplayRun::BeginInput(std::size_t index) {
  if (index >= inputs_.size()) return;
  if (index > 0) done_before_ += inputs_[current_].size;
  if (index > 0 && !options_.start_ms) NoteTimesTaken();
  done_ = 0;
  current_ = index;
  const Input& in = inputs_[index];
  times_source_ = in.source;
  if (in.live || in.capture) {
    // Each packet of a capture comes with its time.
    times_.reset();
  } else if (options_.start_ms) {
    // One stream: the first input starts at the given time, the others follow.
    if (!times_) times_.emplace(*options_.start_ms, options_.baud);
  } else if (in.source == TimeSource::kMtime) {
    // A recording is last written when its last frame arrives.
    const SystemClock clock;
    const std::uint64_t bytes = FrameByteCounter(clock).Count(in.fd);
    StartTimes(in, in.start_ms - LineDurationMs(bytes, options_.baud), bytes);
  } else {
    StartTimes(in, in.start_ms, in.size);
  }
}

void ReplayRun::StartTimes(const Input& in, std::int64_t start, std::uint64_t bytes) {
  const auto taken = taken_.find(in.station);
  // The recording's frames lie between its start and the time its bytes take.
  const std::int64_t end = start + LineDurationMs(bytes, options_.baud);
  const bool overlaps =
      taken != taken_.end() && start <= taken->second.last_ms && end >= taken->second.first_ms;
  if (overlaps) start = taken->second.last_ms;
  times_.emplace(start, options_.baud);
  if (overlaps) times_->FollowOn(start);
  times_start_ms_ = start;
}

void ReplayRun::NoteTimesTaken() {
  if (!times_ || !times_->last_ms() || current_ >= inputs_.size()) return;
  const std::int64_t last = *times_->last_ms();
  const auto [at, added] =
      taken_.try_emplace(inputs_[current_].station, Taken{times_start_ms_, last});
  if (added) return;
  at->second.first_ms = std::min(at->second.first_ms, times_start_ms_);
  at->second.last_ms = std::max(at->second.last_ms, last);
}

void ReplayRun::TimeFrame(DecodedFrame& frame) {
  if (current_ < inputs_.size()) {
    const Input& in = inputs_[current_];
    frame.station = in.station;
    frame.link = in.link;
  }
  if (!times_) return;
  // The line runs on under frames that came with their own time.
  const std::int64_t line_ms = times_->Next(frame.bytes.size());
  if (frame.time_source != TimeSource::kLive) return;
  frame.received_ms = line_ms;
  frame.replayed = true;
  frame.time_source = times_source_;
}

void ReplayRun::FrameDecoded(const DecodedFrame& frame) {
  if (archive_ != nullptr) archive_->FrameDecoded(frame);
  if (lines_ != nullptr) lines_->FrameDecoded(frame);
  if (pcap_ != nullptr) pcap_->FrameDecoded(frame);
  if (alarms_ != nullptr) alarms_->FrameDecoded(frame);
  for (FrameSink* sink : feeds_) sink->FrameDecoded(frame);
  last_frame_ms_ = frame.received_ms;
  ++frames_;
  done_ += frame.bytes.size();
  if (progress_ && (frames_ & 63) == 0) DrawProgress(false);
}

void ReplayRun::Flush() {
  if (archive_ != nullptr) archive_->Flush();
  if (lines_ != nullptr) lines_->Flush();
  for (FrameSink* sink : feeds_) sink->Flush();
  if (pcap_ != nullptr) pcap_->Flush();
}

void ReplayRun::DrawProgress(bool last) {
  const auto now = std::chrono::steady_clock::now();
  if (!last && now < next_draw_) return;
  next_draw_ = now + kProgressInterval;
  const std::uint64_t done = last ? total_bytes_ : std::min(done_before_ + done_, total_bytes_);
  const double fraction = total_bytes_ > 0 ? static_cast<double>(done) / total_bytes_ : 1.0;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const int filled = static_cast<int>(fraction * kProgressWidth);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(kProgressWidth, '.');
  std::fprintf(messages_, "\r[%s] %3d%%  %s of %s  %.0f frames/s ", bar.c_str(),
               static_cast<int>(fraction * 100), Megabytes(done).c_str(),
               Megabytes(total_bytes_).c_str(), seconds > 0 ? frames_ / seconds : 0.0);
  if (last) std::fputc('\n', messages_);
  std::fflush(messages_);
}

bool ReplayRun::Finish() {
  if (alarm_archive_ != nullptr && frames_ > 0) alarm_archive_->EndWatching(last_frame_ms_);
  Flush();
  if (archive_ == nullptr) return true;
  archive_->Close();
  if (progress_) DrawProgress(true);
  if (!archive_complete_) {
    std::fprintf(messages_, "zevrinkiss-decode: %s\n", LogNoticeText(last_notice_).c_str());
  }
  std::fprintf(messages_, "zevrinkiss-decode: %llu frames added to %s, %llu already there",
               static_cast<unsigned long long>(archive_->added()), options_.archive.c_str(),
               static_cast<unsigned long long>(archive_->duplicates()));
  if (archive_->lost() > 0) {
    std::fprintf(messages_, ", %llu could not be written",
                 static_cast<unsigned long long>(archive_->lost()));
  }
  std::fputc('\n', messages_);
  return archive_->lost() == 0;
}

// A failure is told at once without a count, which would be out of date before
// the end; the count is told when the archive is written again, and at the end
// when it is not, so every count shown is the one of the summary.
void ReplayRun::LogNoticeChanged(const LogNotice& notice) {
  if (!archive_open_) return;  // Start() reports it as the reason to stop
  last_notice_ = notice;
  if (notice.complete_now == archive_complete_) return;
  archive_complete_ = notice.complete_now;
  if (progress_) std::fputc('\n', messages_);
  if (notice.complete_now) {
    std::fprintf(messages_, "zevrinkiss-decode: %s\n", LogNoticeText(notice).c_str());
  } else {
    std::fprintf(messages_,
                 "zevrinkiss-decode: the archive %s cannot be written (%s); the frames it "
                 "misses are counted at the end\n",
                 notice.path.c_str(), notice.error.c_str());
  }
}

}  // namespace zevrin
