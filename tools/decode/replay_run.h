#pragma once
// What zevrinkiss-decode does with its frames beside printing them: adds them to
// an archive and writes the housekeeping records as line protocol, each frame
// with a reception time, station label and link worked out from its input.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "alarms/alarm_archive.h"
#include "decode/decode_tool.h"
#include "input/replay_times.h"
#include "outputs/archive/archive_thread.h"
#include "outputs/export/line_protocol.h"
#include "outputs/export/pcap_writer.h"
#include "outputs/frame_sink.h"

namespace zevrin {

inline constexpr int kDefaultReplayBaud = 9600;

struct ReplayOptions {
  std::string archive;                   ///< --archive FILE; empty for none
  std::optional<std::int64_t> start_ms;  ///< --start-time
  int baud = kDefaultReplayBaud;         ///< --baud
  std::optional<std::string> station;    ///< --station
  bool live = false;                     ///< reading a live link: never wait for the archive
};

/// The --help lines of the options below.
extern const char* const kReplayUsage;

/// Takes the option at argv[i] if it is one of --archive, --start-time, --baud
/// or --station (as "--opt VALUE" or "--opt=VALUE", moving i past the value).
/// Returns false when it is none of them; `error` is set for a bad value.
bool TakeReplayOption(int argc, char** argv, int& i, ReplayOptions& options, std::string& error);

/// The frame timer and sink of a decode run. Reception times: a frame after a
/// KISS time stamp, and a packet of a capture, keep the time they came with.
/// Otherwise a raw log named "Label_ddmmyyyy_hhmm.kss" starts at that minute
/// and its frames follow at the line rate of the baud rate; any other file ends
/// at its modification time, its last frame then and the others at the line rate
/// before; --start-time sets the start of the first input instead, the later ones
/// following on as one stream. A recording whose times would overlap those of an
/// earlier recording of the same station in the run follows on after them, so
/// that no two records of a station get the same time (in the archive, the line
/// protocol and the InfluxDB feed alike). Standard input without --start-time is
/// a live stream: each frame gets the time it was decoded.
class ReplayRun final : public FrameTimer, public FrameSink, public LogProblemListener {
 public:
  /// `messages` gets problems, the progress bar and the closing summary.
  ReplayRun(const ReplayOptions& options, OutputFormat format, std::FILE* out, std::FILE* messages);
  ~ReplayRun() override;

  /// Keeps `extension`'s tables in the archive; call before Start().
  void AddArchiveExtension(ArchiveExtension* extension) {
    if (archive_ != nullptr) archive_->AddExtension(extension);
  }
  /// Opens the archive; false with `error` set when it cannot be used.
  bool Start(std::string& error);
  /// Gives every frame, with its time, to `alarms` after the archive; null for none.
  void SetAlarms(FrameSink* alarms) { alarms_ = alarms; }
  /// Where the alarms are kept: their evaluation ends with the last frame, at
  /// Finish().
  void SetAlarmArchive(AlarmArchive* kept) { alarm_archive_ = kept; }
  /// Gives every frame, with its time, to `sink` after the others; it must
  /// outlive the run.
  void AddSink(FrameSink* sink) { feeds_.push_back(sink); }
  /// The archive of --archive, open after Start(); null without one.
  ArchiveThread* archive() const { return archive_.get(); }
  /// True when frames need to go anywhere beside the tool's own output.
  bool active() const {
    return archive_ != nullptr || lines_ != nullptr || pcap_ != nullptr || alarms_ != nullptr ||
           !feeds_.empty();
  }
  /// Where the tool gives its frames: the run, or only the alarms when they are
  /// all the run would pass them to (no archive, hence no progress); null when
  /// the frames need to go nowhere beside the tool's own output.
  FrameSink* frame_sink() {
    if (archive_ != nullptr || lines_ != nullptr || pcap_ != nullptr || !feeds_.empty()) {
      return this;
    }
    return alarms_;
  }
  /// True when the frames' times go anywhere: into the sinks above or the JSON
  /// output. Otherwise no frame needs timing (nor a recording its frames counted).
  bool times_used() const { return active() || format_ == OutputFormat::kJson; }

  /// Declares the inputs before reading: their names ("-" is standard input)
  /// and open descriptors. Turns the progress bar on when they are all files,
  /// an archive is being filled and `messages` is a terminal.
  void SetInputs(const std::vector<std::string>& names, const std::vector<int>& fds);
  /// The next input (in the order given to SetInputs) begins.
  void BeginInput(std::size_t index);
  /// The station label of the first input: --station, else the label in its raw
  /// log's name, else none (also when there is no input yet).
  std::string FirstStation() const {
    return inputs_.empty() ? options_.station.value_or("") : inputs_.front().station;
  }
  /// True when input `index` is a capture (pcap or pcapng) rather than KISS.
  bool IsCapture(std::size_t index) const {
    return index < inputs_.size() && inputs_[index].capture;
  }
  /// The input is one live link instead: every frame is archived at the time it
  /// is decoded, under `link` and the --station label.
  void SetLiveInput(const std::string& link);

  void TimeFrame(DecodedFrame& frame) override;
  void FrameDecoded(const DecodedFrame& frame) override;
  // Passed on to the feeds, which serve frames as they came.
  void TimeStampReceived(std::span<const std::uint8_t> frame) override {
    for (FrameSink* sink : feeds_) sink->TimeStampReceived(frame);
  }
  void Flush() override;

  /// Commits and closes the archive and prints the summary. Returns false when
  /// frames could not be archived.
  bool Finish();

  /// Archive problems, told on `messages`.
  void LogNoticeChanged(const LogNotice& notice) override;

 private:
  void DrawProgress(bool last);

  ReplayOptions options_;
  OutputFormat format_;
  std::FILE* messages_;
  std::unique_ptr<ArchiveThread> archive_;
  AlarmArchive* alarm_archive_ = nullptr;
  std::int64_t last_frame_ms_ = 0;
  std::unique_ptr<LineProtocolWriter> lines_;
  std::unique_ptr<PcapWriter> pcap_;
  FrameSink* alarms_ = nullptr;
  std::vector<FrameSink*> feeds_;
  bool archive_open_ = false;
  bool archive_complete_ = true;  // as last told
  LogNotice last_notice_;         // of the archive, with the frames missed so far

  struct Input {
    std::string name;
    std::string link;
    std::string station;
    bool live = false;
    bool capture = false;
    int fd = -1;  // a file's, for counting its frames
    TimeSource source = TimeSource::kMtime;
    std::int64_t start_ms = 0;  // kMtime: the modification time, where it ends
    std::uint64_t size = 0;
  };
  // The times taken so far in this run by the recordings of a station: from the
  // first frame of the earliest to the last frame of the latest.
  struct Taken {
    std::int64_t first_ms = 0;
    std::int64_t last_ms = 0;
  };
  // Starts the times of a recording at `start`, or after the times an earlier
  // recording of its station took when its `bytes` would overlap them.
  void StartTimes(const Input& in, std::int64_t start, std::uint64_t bytes);
  // Adds the times the current recording took to its station's.
  void NoteTimesTaken();
  std::vector<Input> inputs_;
  std::size_t current_ = 0;
  std::optional<LineRateTimes> times_;
  TimeSource times_source_ = TimeSource::kLive;  // of the times of times_
  std::map<std::string, Taken> taken_;           // by station label
  std::int64_t times_start_ms_ = 0;              // where the current recording's times began

  // Progress bar.
  bool progress_ = false;
  std::uint64_t total_bytes_ = 0;
  std::uint64_t done_before_ = 0;  // bytes of the inputs already read
  std::uint64_t done_ = 0;         // frame bytes of the current input
  std::uint64_t frames_ = 0;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point next_draw_;
};

}  // namespace zevrin
