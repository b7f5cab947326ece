// zevrinkiss-decode: decodes recorded raw logs (.kss) or a live KISS stream.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "alarms/alarm_archive.h"
#include "base/version.h"
#include "decode/alarm_run.h"
#include "decode/decode_tool.h"
#include "decode/feed_run.h"
#include "decode/influx_run.h"
#include "decode/live_input.h"
#include "decode/options.h"
#include "decode/replay_run.h"
#include "decode/share_run.h"
#include "frames/capture_file.h"
#include "outputs/archive/archive_writer.h"

namespace {

constexpr const char* kUsage =
    "usage: zevrinkiss-decode [--format monitor|json|csv|influx|pcap] [--output FILE] "
    "[--raw-view]\n"
    "                         [--raw-log FILE [--kiss-timestamps]]\n"
    "                         [--archive FILE [--share FILE] [--influx URL]] [--start-time T]\n"
    "                         [--baud N] [--station LABEL] [--alarms FILE|default [--notify]]\n"
    "                         [--serve-kiss [HOST:]PORT] [--mqtt URL [--mqtt-ca FILE]]\n"
    "                         [FILE... | --connect HOST:PORT | --serial DEVICE [--speed N]]\n"
    "\n"
    "Decodes KISS frames from the files, read in order as one stream, or from\n"
    "standard input when no file or \"-\" is given, or from a live TNC, and prints\n"
    "each frame as it completes. A file may also be a capture (pcap or pcapng, link\n"
    "type 202 or 3): its packets are decoded as frames at their times.\n"
    "\n"
    "  --format monitor  each frame as the frame monitor shows it (default)\n"
    "  --format json     one JSON object per frame, with the values it decoded\n"
    "  --format csv      one row per housekeeping record: every value after it\n"
    "  --format influx   one InfluxDB line-protocol line per housekeeping record\n"
    "  --format pcap     a capture for Wireshark: each frame at its reception time\n"
    "  --output FILE     write the output to FILE instead of standard output\n"
    "  --raw-view        monitor format: dump the whole frame as received\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n";

// Where frames get their reception times and where they are archived.
zevrin::ReplayOptions replay;
// The sharing settings file of --share; empty: nothing is shared.
std::string share_file;
// --output: where the format is written; empty: standard output.
std::string output_file;
// The InfluxDB feed of --influx; off without it.
zevrin::InfluxSettings influx;
zevrin::InfluxWait influx_wait;
// The alarm rules of --alarms ("default" for the default rules); empty: none.
std::string alarms_file;
// --notify: a replay posts its alarms to the webhooks too.
bool notify = false;
// --serve-kiss and --mqtt.
zevrin::FeedRun feeds(stderr);

int Fail(const std::string& message) {
  std::fprintf(stderr, "zevrinkiss-decode: %s\n", message.c_str());
  return 2;
}

// What went through the output's own buffer (the line-protocol records, the
// capture) is written out; a failure is a failed write like any other.
void FlushOutput(std::FILE* out) {
  if (std::fflush(out) != 0 || std::ferror(out)) {
    throw zevrin::OutputError(std::string("cannot write output: ") + std::strerror(errno));
  }
}

// True when a read from `fd` would return at once.
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

// Reads the whole of `fd` through the decoder, chunk by chunk, as it arrives.
// A file is decoded in large blocks of output; a live source (a pipe, terminal,
// socket or serial line) may pause, so before each read that would wait, all
// that is decoded is written out and every complete frame shows at once.
bool Pump(int fd, zevrin::DecodeTool& tool, std::string& error) {
  struct stat st {};
  const bool live = ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
  std::vector<std::uint8_t> buffer(64 * 1024);
  for (;;) {
    if (live && !Readable(fd)) tool.Flush();
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      return false;
    }
    tool.Feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
  }
}

// What the command line asks for beside the replay, share and live options.
struct Arguments {
  zevrin::DecodeToolOptions options;
  std::vector<std::string> files;
  bool format_given = false;
};

// Takes --format VALUE or --format=VALUE at argv[i]; the exit status when it is bad.
std::optional<int> TakeFormat(int argc, char** argv, int& i, Arguments& args) {
  const std::string arg = argv[i];
  args.format_given = true;
  std::string value;
  if (arg == "--format") {
    if (i + 1 >= argc) return Fail("--format needs a value: monitor, json, csv, influx or pcap");
    value = argv[++i];
  } else {
    value = arg.substr(std::strlen("--format="));
  }
  if (value == "monitor") {
    args.options.format = zevrin::OutputFormat::kMonitor;
  } else if (value == "json") {
    args.options.format = zevrin::OutputFormat::kJson;
  } else if (value == "csv") {
    args.options.format = zevrin::OutputFormat::kCsv;
  } else if (value == "influx") {
    args.options.format = zevrin::OutputFormat::kInflux;
  } else if (value == "pcap") {
    args.options.format = zevrin::OutputFormat::kPcap;
  } else {
    return Fail("unknown format '" + value + "' (use monitor, json, csv, influx or pcap)");
  }
  return std::nullopt;
}

void PrintUsage() {
  std::fputs(kUsage, stdout);
  std::fputs(zevrin::LiveInput::kUsage, stdout);
  std::fputs(zevrin::kReplayUsage, stdout);
  std::fputs(zevrin::kShareUsage, stdout);
  std::fputs(zevrin::kInfluxUsage, stdout);
  std::fputs(zevrin::kAlarmsUsage, stdout);
  std::fputs(zevrin::kFeedUsage, stdout);
}

// Reads the command line into `args`, `live` and the replay and share options.
// Returns the exit status when the program ends here: --help, --version or a bad
// argument.
std::optional<int> ParseArguments(int argc, char** argv, zevrin::LiveInput& live, Arguments& args) {
  bool only_files = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string error;
    if (!only_files && (zevrin::TakeReplayOption(argc, argv, i, replay, error) ||
                        zevrin::TakeShareOption(argc, argv, i, share_file, error) ||
                        zevrin::TakeInfluxOption(argc, argv, i, influx, influx_wait, error) ||
                        zevrin::TakeAlarmsOption(argc, argv, i, alarms_file, error) ||
                        feeds.TakeOption(argc, argv, i, error))) {
      if (!error.empty()) return Fail(error);
    } else if (only_files || arg == "-" || arg.empty() || arg[0] != '-') {
      args.files.push_back(arg);
    } else if (arg == "--") {
      only_files = true;
    } else if (arg == "--help" || arg == "-h") {
      PrintUsage();
      return 0;
    } else if (arg == "--version") {
      std::fputs(zevrin::VersionText("zevrinkiss-decode").c_str(), stdout);
      return 0;
    } else if (arg == zevrin::kNotifyOption) {
      notify = true;
    } else if (std::optional<std::string> file =
                   zevrin::OptionValue(argc, argv, i, "--output", error)) {
      if (file->empty()) return Fail("--output needs a file name");
      output_file = std::move(*file);
    } else if (arg == "--raw-view") {
      args.options.raw_view = true;
    } else if (arg == "--format" || arg.starts_with("--format=")) {
      if (const std::optional<int> status = TakeFormat(argc, argv, i, args)) return status;
    } else if (live.TakeOption(argc, argv, i)) {
      if (!live.error().empty()) return Fail(live.error());
    } else {
      return Fail("unknown option '" + arg + "' (see --help)");
    }
  }
  if (live.live() && !args.files.empty()) return Fail("a live input reads no files");
  if (notify && alarms_file.empty()) return Fail("--notify needs --alarms");
  if (const std::optional<std::string> error = feeds.Check()) return Fail(*error);
  if (args.files.empty() && !live.live()) args.files.push_back("-");
  return std::nullopt;
}

// Opens every file first, so a typo in the last name fails before any output.
std::optional<int> OpenInputs(const std::vector<std::string>& files, std::vector<int>& fds) {
  for (const std::string& name : files) {
    if (name == "-") {
      fds.push_back(STDIN_FILENO);
      continue;
    }
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail("cannot read " + name + ": " + std::strerror(errno));
    fds.push_back(fd);
  }
  return std::nullopt;
}

// The feeds behind the archive, each null when not asked for.
struct ArchiveFeeds {
  zevrin::ShareRun* share = nullptr;
  zevrin::InfluxRun* influx = nullptr;
};

// The end of every run that read its input: all output written, the archive
// closed, the sharing and the InfluxDB feed told. `status` unless frames could not
// be archived.
int Finish(zevrin::DecodeTool& tool, zevrin::ReplayRun& run, ArchiveFeeds archive_feeds,
           int status) {
  tool.Flush();
  const bool archived = run.Finish();
  if (archive_feeds.share != nullptr) archive_feeds.share->Finish();
  if (archive_feeds.influx != nullptr) archive_feeds.influx->Finish();
  FlushOutput(tool.stream());
  return archived ? status : 1;
}

// Reads a capture's packets through the decoder as KISS frames at their times.
bool PumpCapture(int fd, zevrin::DecodeTool& tool, std::string& error) {
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  zevrin::CaptureReader reader;
  const bool open = reader.Open(file);
  // A frame cut off before the capture is not closed by its first packet.
  tool.AbandonFrame();
  zevrin::CapturedFrame frame;
  while (open && reader.Next(frame)) tool.FeedCaptured(frame.kiss, frame.received_ms);
  tool.Feed({});  // the end of the capture ends the sink's batch
  error = reader.error();
  return error.empty();
}

// Reads the files, in order, as one stream.
int ReadFiles(const Arguments& args, const std::vector<int>& fds, zevrin::DecodeTool& tool,
              zevrin::ReplayRun& run, ArchiveFeeds archive_feeds) {
  for (std::size_t i = 0; i < fds.size(); ++i) {
    std::string error;
    run.BeginInput(i);
    // A time stamp at the end of one file is not for the first frame of the next.
    tool.ForgetNextFrameTime();
    bool ok = false;
    if (run.IsCapture(i)) {
      ok = PumpCapture(fds[i], tool, error);  // closes the file
    } else {
      ok = Pump(fds[i], tool, error);
      if (fds[i] != STDIN_FILENO) ::close(fds[i]);
    }
    if (!ok) return Fail("cannot read " + args.files[i] + ": " + error);
  }
  return Finish(tool, run, archive_feeds, 0);
}

// Decodes the input into the output format, the archive and the sharing.
int Decode(const Arguments& args, const std::vector<int>& fds, zevrin::LiveInput& live,
           std::FILE* out) {
  // Standard input is read as it comes, unless given a start time.
  replay.live = live.live() || (!replay.start_ms && std::ranges::count(args.files, "-") > 0);
  zevrin::ReplayRun run(replay, args.options.format, out, stderr);
  std::unique_ptr<zevrin::ShareRun> share;
  std::unique_ptr<zevrin::InfluxRun> influx_run;
  std::unique_ptr<zevrin::AlarmRun> alarms;
  std::string error;
  if (!share_file.empty() &&
      !(share = zevrin::ShareRun::Create(share_file, replay, run, stderr, error)))
    return Fail(error);
  if ((influx.enabled || !influx.token.empty()) &&
      !(influx_run = zevrin::InfluxRun::Create(influx, influx_wait, replay, run, stderr, error)))
    return Fail(error);
  if (!alarms_file.empty() && !(alarms = zevrin::AlarmRun::Create(alarms_file, stderr, error)))
    return Fail(error);
  if (!run.Start(error)) return Fail(error);
  if (share) share->Start();
  if (influx_run) influx_run->Start();
  const ArchiveFeeds archive_feeds{share.get(), influx_run.get()};
  run.SetInputs(args.files, fds);
  feeds.Start(run.FirstStation(), run);

  const zevrin::SystemClock clock;
  zevrin::DecodeTool tool(args.options, out, clock);
  std::unique_ptr<zevrin::AlarmArchive> alarm_archive;
  if (alarms) {
    run.SetAlarms(&alarms->sink());
    if (run.archive() != nullptr) {
      alarm_archive = std::make_unique<zevrin::AlarmArchive>(*run.archive());
      alarms->AlsoTell(alarm_archive.get());
      run.SetAlarmArchive(alarm_archive.get());
    }
    if (args.options.format == zevrin::OutputFormat::kJson) alarms->SetJsonOutput(&tool.output());
    live.SetTicker([&alarms](bool link_up) { alarms->Tick(link_up); });
    // A replay raises old alarms: nobody is told of them unless asked.
    if (live.live() || notify) alarms->StartWebhooks(replay.station.value_or(""));
  }
  if (run.times_used()) tool.SetFrameTimer(&run);
  tool.SetFrameSink(run.frame_sink());
  if (const std::optional<std::string> error = live.Start(tool)) return Fail(*error);
  int status = 0;
  if (live.live()) {
    // A live link's frames are archived at the times they are decoded.
    run.SetLiveInput(live.link_name());
    status = Finish(tool, run, archive_feeds, live.Run(tool));
  } else {
    status = ReadFiles(args, fds, tool, run, archive_feeds);
  }
  feeds.Finish();
  if (alarms) alarms->Finish();
  return status;
}

}  // namespace

// A failed write of the output (OutputError) ends the program with status 1.
int main(int argc, char** argv) try {
  zevrin::TuneSqliteForArchiving();
  zevrin::LiveInput live;
  Arguments args;
  if (const std::optional<int> status = ParseArguments(argc, argv, live, args)) return *status;
  std::vector<int> fds;
  if (const std::optional<int> status = OpenInputs(args.files, fds)) return *status;
  // Filling an archive prints nothing unless a format is asked for.
  if (!replay.archive.empty() && !args.format_given) {
    args.options.format = zevrin::OutputFormat::kNone;
  }
  std::FILE* out = stdout;
  if (!output_file.empty() && (out = std::fopen(output_file.c_str(), "wb")) == nullptr) {
    return Fail("cannot write " + output_file + ": " + std::strerror(errno));
  }
  const int status = Decode(args, fds, live, out);
  if (out != stdout && std::fclose(out) != 0) return Fail("cannot write " + output_file);
  return status;
} catch (const zevrin::OutputError& e) {
  std::fprintf(stderr, "zevrinkiss-decode: %s\n", e.what());
  return 1;
}
