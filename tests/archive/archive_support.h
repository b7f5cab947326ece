#pragma once
// A station's frame road into an archive, for tests: receive path, decoding,
// recorder, and a sink that keeps what the store said about every frame.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "outputs/archive/archive_writer.h"
#include "outputs/frame_recorder.h"
#include "support/archive_db.h"
#include "support/fakes.h"
#include "support/station_view.h"

namespace zevrin::testing {

/// Runs `sql` on the database at `path` in a connection of its own; its error, or "".
inline std::string Exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  char* error = nullptr;
  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string said = error != nullptr ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  return said;
}

/// Another program's connection to the database at `path`, holding it locked (an
/// exclusive transaction, with `lock`) until it is closed.
inline std::unique_ptr<sqlite3, int (*)(sqlite3*)> LockArchive(const std::string& path,
                                                               bool lock = true) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  EXPECT_EQ(sqlite3_exec(db, lock ? "BEGIN EXCLUSIVE" : "", nullptr, nullptr, nullptr), SQLITE_OK);
  return {db, &sqlite3_close};
}

/// A clock that moves on by `step_ms` at every reading.
class SteppingClock final : public Clock {
 public:
  explicit SteppingClock(std::int64_t start_ms, int step_ms) : ms_(start_ms), step_(step_ms) {}
  UtcInstant Now() const override {
    ms_ += step_;
    return {ms_ / 1000, static_cast<int>(ms_ % 1000)};
  }

 private:
  mutable std::int64_t ms_;
  int step_;
};

/// When a frame came and what the store showed for it, kept independently of the
/// archive's own column table.
struct SeenFrame {
  std::int64_t ms = 0;
  RecordKind record = RecordKind::kNone;
  std::map<int, std::string> fields;  // written fields and their texts
};

struct SeeingSink final : FrameSink {
  void FrameDecoded(const DecodedFrame& f) override {
    SeenFrame& s = frames.emplace_back(SeenFrame{f.received_ms, f.record, {}});
    for (const int i : f.fields->Writes().fields) s.fields[i] = f.fields->Field(i);
  }
  std::vector<SeenFrame> frames;
};

/// The station side: bytes in, every frame to the recorder's sinks, `sinks` first.
struct Receiver {
  explicit Receiver(const Clock& clock, std::initializer_list<FrameSink*> sinks = {})
      : path(state, clock, view), analysis(clock), recorder(analysis, decoder, fields, clock) {
    for (FrameSink* sink : sinks) recorder.AddSink(sink);
    path.SetFrameHandler(&recorder);
    analysis.SetSatelliteDecoder(&decoder);
    recorder.SetSource("Lab", "COM1");
  }
  void Receive(std::span<const std::uint8_t> bytes) { path.Receive(bytes); }

  RecordingView view;
  ReceiveState state;
  ReceivePath path;
  FrameAnalysis analysis;
  DisplayFields fields;
  TelemetryDecoder decoder{fields};
  FrameRecorder recorder;
};

}  // namespace zevrin::testing
