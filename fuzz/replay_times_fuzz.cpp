// Raw-log names and the decode tool's --start-time: where a recording's frame
// times come from. A name or time either is refused (the option with a message
// saying what it takes) or reads back the same from the form the program writes:
// the name of a raw log it opens, the UTC text it shows.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/time_of_day.h"
#include "decode/replay_run.h"
#include "fuzz_support.h"
#include "input/replay_times.h"
#include "outputs/logs/log_files.h"

namespace {

using zevrin::fuzz::Require;

void CheckLogName(std::string_view path) {
  const auto parts = zevrin::ParseLogFileName(path);
  if (!parts) return;
  const std::string name = zevrin::LogFileName("logs", parts->station_label, parts->utc_seconds,
                                               zevrin::kRawLogExtension);
  const auto again = zevrin::ParseLogFileName(name);
  Require(again.has_value(), "the program's own raw-log name is read", name);
  Require(again->utc_seconds == parts->utc_seconds, "the same start minute", name);
  Require(again->station_label == zevrin::FileNameLabel(parts->station_label),
          "the same station label, made safe", name);
}

void CheckStartTime(std::string_view text) {
  std::string option = "--start-time=" + std::string(text);
  char* argv[] = {option.data()};
  int i = 0;
  zevrin::ReplayOptions options;
  std::string error;
  Require(zevrin::TakeReplayOption(1, argv, i, options, error), "--start-time is an option");
  const auto ms = zevrin::ParseUtcTime(text);
  Require(options.start_ms == ms, "the option takes what the time parser takes");
  if (!ms) {
    Require(error.find("--start-time") != std::string::npos, "a refused time names the option");
    return;
  }
  Require(error.empty(), "an accepted time gives no error", error);
  const std::string shown = zevrin::UtcText(*ms);
  Require(zevrin::ParseUtcTime(shown) == ms, "the shown time reads back the same", shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = zevrin::fuzz::AsText(data, size);
  // Command-line arguments end at a NUL byte.
  const std::string_view argument = text.substr(0, text.find('\0'));
  CheckLogName(text);
  CheckStartTime(argument);
  return 0;
}
