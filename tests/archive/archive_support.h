#pragma once
// A station's frame road into an archive, for tests: receive path, decoding,
// recorder, and a sink that keeps what the store said about every frame.

#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
#include "archive/frame_recorder.h"
#include "support/fakes.h"

namespace zevrin::testing {

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

/// What one frame was and what the store showed for it, kept independently of
/// the archive's own column table.
struct SeenFrame {
  Bytes bytes;
  std::int64_t ms = 0;
  RecordKind record = RecordKind::kNone;
  std::map<int, std::string> fields;   // written fields and their texts
  std::map<int, FieldColour> colours;  // coloured fields
  std::map<Box, std::string> boxes;
  std::map<Gauge, std::string> gauges;
};

struct SeeingSink final : FrameSink {
  void FrameDecoded(const DecodedFrame& f) override {
    SeenFrame s;
    s.bytes.assign(f.bytes.begin(), f.bytes.end());
    s.ms = f.received_ms;
    s.record = f.record;
    const FrameWrites& w = f.fields->Writes();
    for (const int i : w.fields) s.fields[i] = f.fields->Field(i);
    for (const int i : w.coloured) s.colours[i] = f.fields->Colour(i);
    for (const Box b : w.boxes) s.boxes[b] = f.fields->BoxText(b);
    for (const Gauge g : w.gauges) s.gauges[g] = f.fields->GaugeText(g);
    frames.push_back(std::move(s));
  }
  std::vector<SeenFrame> frames;
};

/// The station side: bytes in, every frame to the recorder's sinks.
struct Receiver {
  explicit Receiver(const Clock& clock)
      : clock_(clock),
        path(state, clock, view),
        analysis(clock),
        recorder(analysis, decoder, fields, clock) {
    path.SetFrameHandler(&recorder);
    analysis.SetSatelliteDecoder(&decoder);
    recorder.SetSource("Lab", "COM1");
  }
  void Receive(std::span<const std::uint8_t> bytes) { path.Receive(bytes); }

  const Clock& clock_;
  RecordingView view;
  ReceiveState state;
  ReceivePath path;
  FrameAnalysis analysis;
  DisplayFields fields;
  TelemetryDecoder decoder{fields};
  FrameRecorder recorder;
};

struct CountingListener final : LogProblemListener {
  void ShowLogProblem(std::string_view m) override { problems.emplace_back(m); }
  void ShowLogRecovered(std::string_view m) override { recovered.emplace_back(m); }
  std::vector<std::string> problems;
  std::vector<std::string> recovered;
};

/// A read connection for checks.
class Db {
 public:
  explicit Db(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
  }
  ~Db() { sqlite3_close(db_); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  /// Every row of a query, each value as text ("NULL" for NULL).
  std::vector<std::vector<std::string>> Rows(const std::string& sql) const {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
      rows.push_back({std::string("error: ") + sqlite3_errmsg(db_)});
      return rows;
    }
    while (sqlite3_step(s) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int c = 0; c < sqlite3_column_count(s); ++c) {
        if (sqlite3_column_type(s, c) == SQLITE_BLOB) {
          const auto* b = static_cast<const char*>(sqlite3_column_blob(s, c));
          row.emplace_back(b, static_cast<std::size_t>(sqlite3_column_bytes(s, c)));
        } else {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
          row.emplace_back(text != nullptr ? text : "NULL");
        }
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(s);
    return rows;
  }
  std::string One(const std::string& sql) const {
    const auto rows = Rows(sql);
    return rows.empty() || rows[0].empty() ? "" : rows[0][0];
  }
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace zevrin::testing
