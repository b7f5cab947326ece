#pragma once
// --influx for zevrinkiss-decode: the housekeeping records that go into the
// archive are queued there, in the same transaction, and sent to an InfluxDB
// database as line protocol.

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "decode/replay_run.h"
#include "outputs/influx/influx_feed.h"
#include "outputs/influx/influx_sender.h"

namespace zevrin {

/// The --help lines of --influx.
extern const char* const kInfluxUsage;
/// Read for the token when --influx-token is not given, so that it is not shown
/// in the list of processes.
inline constexpr const char* kInfluxTokenVariable = "ZEVRIN_INFLUX_TOKEN";

/// How long the end of a run waits for a database that takes no point (--influx-wait).
struct InfluxWait {
  std::chrono::seconds patience{15};
};

/// Takes --influx URL, --influx-token TOKEN or --influx-wait S (or the "=" forms)
/// at argv[i], moving i past the value. Returns false when argv[i] is none of
/// them; `error` is set for a bad value.
bool TakeInfluxOption(int argc, char** argv, int& i, InfluxSettings& settings, InfluxWait& wait,
                      std::string& error);

class InfluxRun {
 public:
  /// Checks the settings (the token from the environment when none was given)
  /// and joins the run's archive. Null with `error` set when there is no archive
  /// to keep the queue in or the address cannot be written to.
  static std::unique_ptr<InfluxRun> Create(InfluxSettings settings, InfluxWait wait,
                                           const ReplayOptions& replay, ReplayRun& run,
                                           std::FILE* messages, std::string& error);
  /// Starts sending; call after the run has opened the archive.
  void Start();
  /// Sends what is queued without waiting for full batches, and waits (saying how
  /// it goes on `messages`) until the queue is empty or the database has taken no
  /// point for the patience of --influx-wait; then says how many points wait for
  /// the next run.
  void Finish();

 private:
  InfluxRun(InfluxTarget target, InfluxWait wait, std::string archive, std::FILE* messages)
      : target_(std::move(target)),
        wait_(wait),
        archive_(std::move(archive)),
        messages_(messages) {}

  InfluxTarget target_;
  InfluxWait wait_;
  std::string archive_;
  std::FILE* messages_;
  InfluxFeed feed_;
  std::unique_ptr<InfluxSender> sender_;
};

}  // namespace zevrin
