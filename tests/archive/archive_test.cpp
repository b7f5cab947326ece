// The archive: what a pass leaves in it, duplicates, times, and reading it back.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdio>

#include "archive_support.h"
#include "input/replay_times.h"
#include "outputs/archive/archive_reader.h"
#include "outputs/export/line_protocol.h"
#include "sample/sample_pass.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Bytes;
using testing::Db;
using testing::SeenFrame;

constexpr std::int64_t kStartMs = 1267625220000;  // 2010-03-03 14:07:00 UTC

TEST(ArchiveNamesTest, FileNamesTimesAndLineRate) {
  const struct {
    std::string_view label, expected;
  } names[] = {
      {"Lab", "/d/Lab_archive.sqlite"},
      {"", "/d/_archive.sqlite"},
      {"../etc/x y", "/d/_._etc_x_y_archive.sqlite"},
      {".hidden", "/d/_hidden_archive.sqlite"},
      {"DL0ABC-2", "/d/DL0ABC-2_archive.sqlite"},
  };
  for (const auto& n : names) EXPECT_EQ(ArchiveFileName("/d", n.label), n.expected) << n.label;
  // No '/' survives, so the name stays inside the directory.
  EXPECT_EQ(ArchiveFileName("/d/", "a/b"), "/d/a_b_archive.sqlite");

  const struct {
    std::string_view path;
    bool valid;
    std::string_view label;
    std::int64_t seconds;
  } logs[] = {
      {"Lab_03032010_1407.kss", true, "Lab", kStartMs / 1000},
      {"/some/dir/My_Lab_03032010_1407.kss", true, "My_Lab", kStartMs / 1000},
      {"_03032010_1407.kss", true, "", kStartMs / 1000},
      {"Lab_29022012_2359.kss", true, "Lab", 1330559940},
      {"Lab_29022011_2359.kss", false, "", 0},  // no 29 February in 2011
      {"Lab_03132010_1407.kss", false, "", 0},  // month 13
      {"Lab_03032010_2407.kss", false, "", 0},
      {"Lab_03032010_1407.dmp", false, "", 0},
      {"Lab-03032010-1407.kss", false, "", 0},
      {"Lab_0303201a_1407.kss", false, "", 0},
      {"pass.kss", false, "", 0},
  };
  for (const auto& l : logs) {
    const auto parts = ParseLogFileName(l.path);
    ASSERT_EQ(parts.has_value(), l.valid) << l.path;
    if (!parts) continue;
    EXPECT_EQ(parts->station_label, l.label) << l.path;
    EXPECT_EQ(parts->utc_seconds, l.seconds) << l.path;
  }

  const struct {
    std::string_view text;
    std::optional<std::int64_t> ms;
  } times[] = {
      {"2010-03-03 14:07", kStartMs},
      {"2010-03-03T14:07:00Z", kStartMs},
      {"2010-03-03T14:07:30.25", kStartMs + 30250},
      {"2010-03-03T14:07:30.007Z", kStartMs + 30007},
      {"1969-12-31T23:59:59", -1000},
      {"2010-03-03", std::nullopt},
      {"2010-02-30 14:07", std::nullopt},
      {"2010-03-03 14:07:60", std::nullopt},
      {"2010-03-03 14:07:00.1234", std::nullopt},
      {"today", std::nullopt},
  };
  for (const auto& t : times) EXPECT_EQ(ParseUtcTime(t.text), t.ms) << t.text;

  // 9600 baud, 10 bits a byte: 960 bytes a second. A frame is timed by its last byte.
  LineRateTimes at9600(kStartMs, 9600);
  EXPECT_EQ(at9600.Next(96), kStartMs + 100);
  EXPECT_EQ(at9600.Next(3), kStartMs + 103);  // 99 bytes: 103.125 ms
  EXPECT_EQ(at9600.Next(861), kStartMs + 1000);
  LineRateTimes at1200(0, 1200);
  EXPECT_EQ(at1200.Next(120), 1000);
  // Short frames at a high rate: 4 bytes take 0.35 ms, yet each gets its own
  // millisecond, and the times catch up with the line once it is slower.
  LineRateTimes fast(0, 115200);
  std::vector<std::int64_t> got;
  for (int k = 0; k < 4; ++k) got.push_back(fast.Next(4));
  got.push_back(fast.Next(1152));  // 100 ms
  EXPECT_EQ(got, (std::vector<std::int64_t>{0, 1, 2, 3, 101}));
}

// A real column holds exactly the double from_chars reads from the window's text,
// and nothing when from_chars would not read the whole text.
TEST(ArchiveColumnsTest, RealsAreTheNumbersFromCharsReads) {
  const ArchiveColumn* volts = NumericColumnOfField(18);
  ASSERT_NE(volts, nullptr);
  ASSERT_EQ(volts->kind, ValueKind::kReal);
  std::vector<std::string> texts = {"3.49",
                                    "-56",
                                    "25.0",
                                    "-0.0",
                                    "0",
                                    "007.50",
                                    "1e3",
                                    "3.",
                                    ".5",
                                    "-",
                                    "",
                                    "+1.5",
                                    "1.2.3",
                                    "12ab",
                                    "nan",
                                    "-.25",
                                    " 1.5",
                                    "1234567890.12345",
                                    "123456789012345.6",
                                    "0.1000000000000001"};
  // Every text of three decimals from -100 to 100, in steps that hit many roundings.
  for (int k = -100000; k <= 100000; k += 37) {
    char text[16];
    std::snprintf(text, sizeof text, "%.3f", k / 1000.0);
    texts.emplace_back(text);
  }
  DisplayFields store;
  for (const std::string& text : texts) {
    store.BeginFrame();
    store.WriteField(18, text);
    const ColumnValue v = ReadColumn(*volts, store, FrameWriteSet(store.Writes()));
    double expected = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), expected);
    const bool whole = !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size();
    EXPECT_EQ(v.present, whole) << text;
    if (whole && v.present) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(v.real), std::bit_cast<std::uint64_t>(expected))
          << text;
    }
  }
}

class ArchiveTest : public ::testing::Test {
 protected:
  std::string Path() const { return (dir_ / "Lab_archive.sqlite").string(); }

  // A sample pass through a station whose clock moves 7 ms at every reading.
  void ReceivePass(int frames, ArchiveWriter& writer) {
    testing::SteppingClock clock(kStartMs, 7);
    testing::Receiver receiver(clock);
    receiver.recorder.AddSink(&writer);
    receiver.recorder.AddSink(&seen_);
    pass_ = sample::MakePass({.frames = frames});
    receiver.Receive(pass_);
  }

  testing::TempDir dir_{"archive"};
  testing::SeeingSink seen_;
  Bytes pass_;
};

// Every frame with its bytes, time, station and link; the values of each record
// against the JSON output are compared by the decode tool's test.
TEST_F(ArchiveTest, APassLeavesEveryFrameAndTheValuesTheWindowShowed) {
  {
    ArchiveWriter writer(nullptr);
    ASSERT_TRUE(writer.Open(Path()));
    ReceivePass(600, writer);
    EXPECT_EQ(writer.added(), 600u);
  }
  const std::vector<Bytes> logged = testing::LoggedFrames(pass_);
  ASSERT_EQ(seen_.frames.size(), logged.size());

  Db db(Path());
  EXPECT_EQ(db.One("PRAGMA user_version"), std::to_string(kArchiveSchemaVersion));
  EXPECT_EQ(db.One("PRAGMA journal_mode"), "wal");
  const auto frames =
      db.Rows("SELECT received_ms, station, link, bytes, received FROM frames ORDER BY id");
  ASSERT_EQ(frames.size(), logged.size());
  for (std::size_t k = 0; k < logged.size(); ++k) {
    EXPECT_EQ(frames[k][0], std::to_string(seen_.frames[k].ms));
    EXPECT_EQ(frames[k][1], "Lab");
    EXPECT_EQ(frames[k][2], "COM1");
    EXPECT_EQ(frames[k][3], std::string(logged[k].begin(), logged[k].end())) << k;
  }
  EXPECT_EQ(frames[0][4].substr(0, 17), "2010-03-03 14:07:");
  // In every table `received` is the time as SQLite's strftime writes it, to the
  // millisecond; the clock's 7 ms steps give milliseconds with leading zeros.
  for (const std::string table : {"frames", "power_housekeeping", "system_housekeeping"}) {
    EXPECT_EQ(db.One("SELECT count(*) FROM " + table +
                     " WHERE received IS NOT strftime('%Y-%m-%d %H:%M:%f', "
                     "received_ms / 1000.0, 'unixepoch')"),
              "0")
        << table;
  }

  const auto records = std::ranges::count_if(
      seen_.frames, [](const SeenFrame& f) { return f.record != RecordKind::kNone; });
  EXPECT_GT(records, 200);
  EXPECT_EQ(db.One("SELECT (SELECT count(*) FROM power_housekeeping) + "
                   "(SELECT count(*) FROM system_housekeeping)"),
            std::to_string(records));
}

TEST_F(ArchiveTest, OnlyReplayedFramesAreCheckedForDuplicates) {
  ArchiveWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(Path()));
  testing::FixedClock clock({kStartMs / 1000, 0});
  testing::Receiver receiver(clock);
  receiver.recorder.AddSink(&writer);
  // Received live within one millisecond: a TNC repeating a frame. All are kept.
  const Bytes twice = {0xC0, 0x00, 0x41, 0xC0, 0xC0, 0x00, 0x41, 0xC0, 0xC0, 0x00, 0x42, 0xC0};
  receiver.Receive(twice);
  // Replayed at the same time: the frame already there is skipped, a new one added,
  // the same frame at another time added too; an empty station label and link are
  // kept as empty texts.
  DecodedFrame replayed;
  replayed.replayed = true;
  for (const auto& [frame, ms] : {std::pair{Bytes{0xC0, 0x00, 0x41, 0xC0}, kStartMs},
                                  {Bytes{0xC0, 0x00, 0x43, 0xC0}, kStartMs},
                                  {Bytes{0xC0, 0x00, 0x41, 0xC0}, kStartMs + 1}}) {
    replayed.bytes = frame;
    replayed.received_ms = ms;
    writer.FrameDecoded(replayed);
  }
  writer.Close();
  EXPECT_EQ(writer.lost(), 0u) << writer.error();
  EXPECT_EQ(writer.added(), 5u);
  EXPECT_EQ(writer.duplicates(), 1u);
  const auto rows = Db(Path()).Rows("SELECT received_ms - " + std::to_string(kStartMs) +
                                    ", hex(bytes) FROM frames ORDER BY id");
  const std::vector<std::vector<std::string>> expected = {{"0", "C00041C0"},
                                                          {"0", "C00041C0"},
                                                          {"0", "C00042C0"},
                                                          {"0", "C00043C0"},
                                                          {"1", "C00041C0"}};
  EXPECT_EQ(Db(Path()).One("SELECT quote(station) || quote(link) FROM frames WHERE id = 4"),
            "''''");
  EXPECT_EQ(rows, expected);

  // The same frame twice in one transaction, later than all the archive held: the
  // second copy is found among the frames not committed yet.
  ArchiveWriter batch(nullptr, {.batch_frames = 1000, .vfs = {}});
  ASSERT_TRUE(batch.Open(Path()));
  const Bytes fourth = {0xC0, 0x00, 0x44, 0xC0};
  replayed.bytes = fourth;
  replayed.received_ms = kStartMs + 5;
  batch.FrameDecoded(replayed);
  batch.FrameDecoded(replayed);
  batch.Close();
  EXPECT_EQ(batch.added(), 1u);
  EXPECT_EQ(batch.duplicates(), 1u);
}

// An archive as the first release left it: the rows in tables named like today's
// views, the time as text in a generated column, one frame with a power record.
void WriteFirstVersionArchive(const std::string& path, std::int64_t ms, const Bytes& frame) {
  std::string sql =
      "PRAGMA journal_mode=WAL;"
      "CREATE TABLE frames (id INTEGER PRIMARY KEY, received_ms INTEGER NOT NULL,"
      " received TEXT GENERATED ALWAYS AS (strftime('%Y-%m-%d %H:%M:%f',"
      " received_ms / 1000.0, 'unixepoch')) VIRTUAL, station TEXT NOT NULL,"
      " link TEXT NOT NULL, bytes BLOB NOT NULL);"
      "CREATE INDEX frames_by_time ON frames (received_ms);";
  for (const RecordKind record : {RecordKind::kPower, RecordKind::kSystem}) {
    const std::string table(RecordTable(record));
    sql += "CREATE TABLE " + table +
           " (frame_id INTEGER PRIMARY KEY REFERENCES frames (id),"
           " received_ms INTEGER NOT NULL, received TEXT GENERATED ALWAYS AS"
           " (strftime('%Y-%m-%d %H:%M:%f', received_ms / 1000.0, 'unixepoch')) VIRTUAL";
    for (const ArchiveColumn& c : ArchiveColumns()) {
      if (c.record == record) sql += ", " + std::string(c.name);
    }
    sql += "); CREATE INDEX " + table + "_by_time ON " + table + " (received_ms);";
  }
  const std::string time = std::to_string(ms);
  std::string hex;
  for (const std::uint8_t b : frame) {
    hex += "0123456789ABCDEF"[b >> 4];
    hex += "0123456789ABCDEF"[b & 15];
  }
  sql += "INSERT INTO frames (received_ms, station, link, bytes) VALUES (" + time +
         ", 'Lab', 'COM1', x'" + hex + "');" +
         "INSERT INTO power_housekeeping (frame_id, received_ms, battery_volts) VALUES (1, " +
         time + ", 3.96); PRAGMA user_version = 1;";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << error;
  sqlite3_free(error);
  sqlite3_close(db);
}

TEST_F(ArchiveTest, AnArchiveOfTheFirstReleaseIsReadAndBroughtUpToDate) {
  const Bytes frame = {0xC0, 0x00, 0x41, 0xC0};
  WriteFirstVersionArchive(Path(), kStartMs + 125, frame);
  const ArchiveColumn* volts = NumericColumnOfField(18);
  ASSERT_NE(volts, nullptr);
  {
    ArchiveReader reader;
    ASSERT_TRUE(reader.Open(Path())) << reader.error();
    ASSERT_EQ(reader.Series(*volts).size(), 1u);
  }

  ArchiveWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(Path())) << writer.error();
  DecodedFrame again;
  again.bytes = frame;
  again.received_ms = kStartMs + 125;
  again.station = "Lab";
  again.link = "Lab_03032010_1407.kss";
  again.replayed = true;
  writer.FrameDecoded(again);  // the frame of the old archive: found there
  again.received_ms += 1000;
  writer.FrameDecoded(again);
  writer.Close();
  EXPECT_EQ(writer.added(), 1u);
  EXPECT_EQ(writer.duplicates(), 1u);

  const Db db(Path());
  EXPECT_EQ(db.One("PRAGMA user_version"), std::to_string(kArchiveSchemaVersion));
  EXPECT_EQ(db.One("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(db.One("SELECT group_concat(type) FROM sqlite_schema WHERE name IN "
                   "('frames', 'power_housekeeping', 'system_housekeeping')"),
            "view,view,view");
  const std::vector<std::vector<std::string>> frames = {
      {"1", "2010-03-03 14:07:00.125", "COM1"},
      {"2", "2010-03-03 14:07:01.125", std::string(again.link)}};
  EXPECT_EQ(db.Rows("SELECT id, received, link FROM frames ORDER BY id"), frames);
  EXPECT_EQ(db.One("SELECT received || ' ' || battery_volts FROM power_housekeeping"),
            "2010-03-03 14:07:00.125 3.96");
  ArchiveReader reader;
  ASSERT_TRUE(reader.Open(Path())) << reader.error();
  EXPECT_EQ(reader.Series(*volts).size(), 1u);
}

TEST_F(ArchiveTest, TheReaderGivesOneValuesSeriesOverATimeRange) {
  ArchiveWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(Path()));
  ReceivePass(300, writer);
  // A reader sees what the writer, still open, has committed.
  ArchiveReader reader;
  ASSERT_TRUE(reader.Open(Path())) << reader.error();

  const ArchiveColumn* volts = NumericColumnOfField(18);
  ASSERT_NE(volts, nullptr);
  EXPECT_EQ(ColumnUnit(*volts), "V");
  EXPECT_EQ(NumericColumnOfField(0), nullptr);  // the mode is a text
  EXPECT_EQ(NumericColumnOfField(6), nullptr);  // never written

  std::vector<SeriesPoint> expected;
  for (const SeenFrame& f : seen_.frames) {
    if (f.record == RecordKind::kPower) expected.push_back({f.ms, std::stod(f.fields.at(18))});
  }
  ASSERT_GT(expected.size(), 20u);
  const auto same = [](const std::vector<SeriesPoint>& a, const std::vector<SeriesPoint>& b) {
    return std::ranges::equal(a, b, [](const SeriesPoint& x, const SeriesPoint& y) {
      return x.ms == y.ms && x.value == y.value;
    });
  };
  EXPECT_TRUE(same(reader.Series(*volts), expected));
  // Both ends of the range are included.
  const std::int64_t from = expected[5].ms, to = expected[12].ms;
  EXPECT_TRUE(same(reader.Series(*volts, from, to),
                   std::vector<SeriesPoint>(expected.begin() + 5, expected.begin() + 13)));
  const auto last = reader.Last(*volts);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->ms, expected.back().ms);

  // A gauge and a hexadecimal pointer come back as numbers too.
  const auto fill =
      std::ranges::find(ArchiveColumns(), "gps_mem_fill_percent", &ArchiveColumn::name);
  ASSERT_NE(fill, ArchiveColumns().end());
  EXPECT_EQ(ColumnUnit(*fill), "%");
  EXPECT_FALSE(reader.Series(*fill).empty());

  ArchiveReader missing;
  EXPECT_FALSE(missing.Open((dir_ / "none.sqlite").string()));
  EXPECT_FALSE(missing.error().empty());
  EXPECT_TRUE(missing.Series(*volts).empty());
}

// Something kept beside the frames (a queue of frames to pass on) lives in the
// same file and the same transaction: a frame is kept with it or not at all.
TEST_F(ArchiveTest, AnExtensionWritesInTheFramesTransaction) {
  struct Queue final : ArchiveExtension {
    bool CreateTables(sqlite3* db) override {
      return sqlite3_exec(db, "CREATE TABLE IF NOT EXISTS queue (frame_id INTEGER)", nullptr,
                          nullptr, nullptr) == SQLITE_OK;
    }
    bool FrameAdded(sqlite3* db, const DecodedFrame&, std::int64_t frame_id) override {
      if (refuse) return false;
      const std::string sql = "INSERT INTO queue VALUES (" + std::to_string(frame_id) + ")";
      return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    bool refuse = false;
  } queue;
  testing::CountingListener listener;
  ArchiveWriter writer(&listener);
  writer.AddExtension(&queue);
  ASSERT_TRUE(writer.Open(Path()));
  testing::SteppingClock clock(kStartMs, 10);
  testing::Receiver receiver(clock);
  receiver.recorder.AddSink(&writer);
  const Bytes frame = {0xC0, 0x00, 0x41, 0xC0};
  receiver.Receive(frame);
  queue.refuse = true;
  receiver.Receive(frame);
  queue.refuse = false;
  receiver.Receive(frame);
  writer.Close();
  EXPECT_EQ(listener.problems.size(), 1u);
  EXPECT_EQ(listener.recovered.size(), 1u);
  Db db(Path());
  EXPECT_EQ(db.Rows("SELECT f.id FROM frames f JOIN queue q ON q.frame_id = f.id"),
            (std::vector<std::vector<std::string>>{{"1"}, {"2"}}));
  EXPECT_EQ(db.One("SELECT count(*) FROM frames"), "2");
}

TEST(LineProtocolTest, ARecordIsOneLineWithTheArchivesNames) {
  // A power record: battery 5.00 V, thresholds -57 °C, -56 °C, 3.49 V and 0.00 V.
  Bytes payload = sample::SatellitePayload(42, 'S', 7, 256, 90);
  const int at[] = {6, 27, 42, 43, 44, 45, 70, 80, 81},
            value[] = {0x29, 255, 199, 200, 178, 0, 0x14, 0x34, 0x12};
  for (int i = 0; i < 9; ++i) payload[at[i]] = static_cast<std::uint8_t>(value[i]);
  testing::FixedClock clock({kStartMs / 1000, 250});
  testing::Receiver receiver(clock);
  std::vector<std::string> lines;
  struct Lines final : FrameSink {
    explicit Lines(std::vector<std::string>& out, std::string station)
        : out_(out), station_(std::move(station)) {}
    void FrameDecoded(const DecodedFrame& f) override {
      DecodedFrame g = f;
      g.station = station_;
      out_.push_back(LineProtocolRecord(g));
    }
    std::vector<std::string>& out_;
    std::string station_;
  };
  Lines plain(lines, "Lab"), odd(lines, "My Lab,2=x"), none(lines, "");
  receiver.recorder.AddSink(&plain);
  receiver.recorder.AddSink(&odd);
  receiver.recorder.AddSink(&none);
  receiver.Receive(sample::KissFrame(sample::SatelliteFrame(payload)));
  sample::Ax25Frame other = sample::SatelliteFrame({1, 2, 3});
  other.source = {"QQ2XYZ", 0, false};
  receiver.Receive(sample::KissFrame(other));

  ASSERT_EQ(lines.size(), 6u);
  const std::string& line = lines[0];
  EXPECT_THAT(
      line,
      ::testing::StartsWith(
          "power_housekeeping,station=Lab frame_number=42i,payload_counter=7i,header_word=256i,"));
  EXPECT_THAT(line, ::testing::HasSubstr(",battery_volts=5.00,battery_current_ma=0.00,"));
  EXPECT_THAT(line, ::testing::HasSubstr(",packets_in=4660i,"));
  EXPECT_THAT(line, ::testing::HasSubstr(",heater_on_temp_c=-57,heater_off_temp_c=-56,"));
  EXPECT_THAT(line, ::testing::EndsWith(",emergency_threshold_volts=0.00 1267625220250000000\n"));
  // No text values: modes and colours stay out.
  EXPECT_THAT(line, ::testing::Not(::testing::HasSubstr("NOMINAL")));
  EXPECT_THAT(line, ::testing::Not(::testing::HasSubstr("colour")));
  EXPECT_THAT(lines[1], ::testing::StartsWith(
                            "power_housekeeping,station=My\\ Lab\\,2\\=x frame_number=42i,"));
  EXPECT_THAT(lines[2], ::testing::StartsWith("power_housekeeping frame_number=42i,"));
  EXPECT_EQ(lines[3] + lines[4] + lines[5], "");  // another station's frame
}

}  // namespace
}  // namespace zevrin
