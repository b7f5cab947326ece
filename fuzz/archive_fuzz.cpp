// The archive readers on a damaged archive. At start-up a small archive is made
// from a generated pass, with its alarms; each input names places in the file to
// overwrite with its bytes (and where to cut it off), and the damaged copy is read
// as the history window reads it. SQLite must report what it cannot read, never
// crash the program, and an archive that cannot be opened is told why.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "alarms/alarm_archive.h"
#include "alarms/alarm_evaluator.h"
#include "alarms/alarm_records.h"
#include "decode/decode_tool.h"
#include "decode/replay_run.h"
#include "fuzz_support.h"
#include "outputs/archive/archive_reader.h"
#include "sample/sample_pass.h"
#include "views/archive_history_source.h"

namespace {

using zevrin::fuzz::Require;

// Rules the generated pass raises and clears, so the archive keeps alarms.
constexpr std::string_view kRules =
    "battery_volts > 0 for 2 records : watch \"Battery seen\"\n"
    "battery_volts outside 3.9 .. 4.0 : warning\n"
    "reset_count increases : critical\n";
constexpr std::size_t kPatchesMax = 8;
constexpr std::size_t kPatchBytesMax = 64;
// Every value's query reads the same tables: a few of them reach every page and
// keep the run fast.
constexpr std::size_t kValueStride = 16;

// The archive of a short pass, as bytes.
std::string MakeArchive(const zevrin::fuzz::ScratchFile& file) {
  file.Remove();
  {
    zevrin::ReplayOptions options;
    options.archive = file.path();
    options.start_ms = zevrin::fuzz::kFixedMs;
    std::FILE* quiet = std::fopen("/dev/null", "w");
    zevrin::ReplayRun run(options, zevrin::OutputFormat::kNone, quiet, quiet);
    std::string error;
    Require(run.Start(error), "the archive is made", error);
    zevrin::AlarmArchive kept(*run.archive());
    zevrin::AlarmEvaluator evaluator(zevrin::ParseAlarmRules(kRules, "rules"), kept);
    run.SetAlarms(&evaluator);
    run.SetAlarmArchive(&kept);
    run.SetInputs({"pass"}, {-1});
    run.BeginInput(0);
    const zevrin::fuzz::FixedClock clock;
    {
      zevrin::DecodeTool tool({zevrin::OutputFormat::kNone, false}, quiet, clock);
      tool.SetFrameSink(&run);
      tool.Feed(zevrin::sample::MakePass({.frames = 40}));
    }
    Require(run.Finish(), "the pass is archived");
    std::fclose(quiet);
  }
  std::ifstream in(file.path(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ReadEverything(const std::string& path) {
  zevrin::ArchiveReader reader;
  if (!reader.Open(path)) {
    Require(!reader.error().empty(), "an archive that cannot be opened is told why");
  } else {
    const auto columns = zevrin::ArchiveColumns();
    for (std::size_t i = 0; i < columns.size(); i += kValueStride) {
      if (!columns[i].numeric()) continue;
      reader.Series(columns[i]);
      reader.Last(columns[i]);
    }
  }
  const zevrin::ArchiveHistorySource source(path);
  const zevrin::TimeSpan all{zevrin::kBeginningOfTime, zevrin::kEndOfTime};
  std::vector<zevrin::HistoryPoint> points;
  const std::vector<zevrin::HistoryValueInfo> values = source.Values();
  for (std::size_t i = 0; i < values.size(); i += kValueStride) {
    const zevrin::HistoryValueInfo& value = values[i];
    points.clear();
    source.ReadSeries(value.field, all, points);
    source.Latest(value.field);
    source.AlarmSpans(value.field, all, zevrin::fuzz::kFixedMs);
  }
  zevrin::AlarmRecordReader alarms(path);
  alarms.Read(zevrin::kBeginningOfTime, zevrin::kEndOfTime, 1000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const zevrin::fuzz::ScratchFile file("archive.sqlite");
  static const std::string archive = MakeArchive(file);
  FuzzedDataProvider provider(data, size);
  std::string damaged = archive;
  const std::size_t patches = provider.ConsumeIntegralInRange<std::size_t>(0, kPatchesMax);
  for (std::size_t i = 0; i < patches && !damaged.empty(); ++i) {
    const std::size_t at = provider.ConsumeIntegralInRange<std::size_t>(0, damaged.size() - 1);
    const std::string bytes = provider.ConsumeRandomLengthString(kPatchBytesMax);
    damaged.replace(at, std::min(bytes.size(), damaged.size() - at), bytes);
  }
  if (provider.ConsumeBool()) {
    damaged.resize(provider.ConsumeIntegralInRange<std::size_t>(0, damaged.size()));
  }
  file.Remove();
  Require(file.Write(damaged), "scratch file written");
  ReadEverything(file.path());
  return 0;
}
