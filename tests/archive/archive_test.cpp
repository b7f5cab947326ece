// The archive: what a pass leaves in it, duplicates, times, and reading it back.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdio>

#include "archive_support.h"
#include "input/replay_times.h"
#include "outputs/archive/archive_reader.h"
#include "outputs/archive/sqlite_statement.h"
#include "outputs/export/line_protocol.h"
#include "sample/sample_pass.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Bytes;
using testing::Db;
using testing::SeenFrame;
using Rows = std::vector<std::vector<std::string>>;

constexpr std::int64_t kStartMs = 1267625220000;  // 2010-03-03 14:07:00 UTC

TEST(ArchiveNamesTest, ImpossibleDatesAreRefusedAndNoLabelLeavesTheFolder) {
  EXPECT_EQ(ArchiveFileName("/d", "Lab"), "/d/Lab_archive.sqlite");
  EXPECT_EQ(ArchiveFileName("/d/", "../etc/x y"), "/d/_._etc_x_y_archive.sqlite");
  EXPECT_EQ(ArchiveFileName("/d", ".hidden"), "/d/_hidden_archive.sqlite");

  const struct {
    std::string_view path, label;
    std::int64_t seconds;  // 0: no log name
  } logs[] = {
      {"/some/dir/My_Lab_03032010_1407.kss", "My_Lab", kStartMs / 1000},
      {"_03032010_1407.kss", "", kStartMs / 1000},
      {"Lab_29022012_2359.kss", "Lab", 1330559940},
      {"Lab_29022011_2359.kss", "", 0},  // no 29 February in 2011
      {"Lab_03132010_1407.kss", "", 0},
      {"Lab_03032010_2407.kss", "", 0},
      {"Lab_03032010_1407.dmp", "", 0},
      {"Lab_0303201a_1407.kss", "", 0},
  };
  for (const auto& l : logs) {
    const auto parts = ParseLogFileName(l.path);
    ASSERT_EQ(parts.has_value(), l.seconds != 0) << l.path;
    if (parts) {
      EXPECT_EQ(parts->station_label, l.label) << l.path;
      EXPECT_EQ(parts->utc_seconds, l.seconds) << l.path;
    }
  }
  const std::pair<std::string_view, std::optional<std::int64_t>> times[] = {
      {"2010-03-03 14:07", kStartMs},
      {"2010-03-03T14:07:30.007Z", kStartMs + 30007},
      {"1969-12-31T23:59:59", -1000},
      {"2010-03-03", std::nullopt},
      {"2010-02-30 14:07", std::nullopt},
      {"2010-03-03 14:07:60", std::nullopt},
      {"2010-03-03 14:07:00.1234", std::nullopt}};
  for (const auto& [text, ms] : times) EXPECT_EQ(ParseUtcTime(text), ms) << text;
}

TEST(ArchiveNamesTest, LineRateTimesNeitherDriftNorRepeatAMillisecond) {
  // 960 bytes a second at 9600 baud; 99 bytes take 103.125 ms.
  LineRateTimes at9600(kStartMs, 9600);
  EXPECT_EQ(at9600.Next(99), kStartMs + 103);
  EXPECT_EQ(at9600.Next(861), kStartMs + 1000);  // no rounding carried over
  // Four 4-byte frames at 115200 take 1.4 ms, yet each gets its own millisecond;
  // the times catch up with the line once it is slower.
  LineRateTimes fast(0, 115200);
  std::vector<std::int64_t> got;
  for (const std::size_t bytes : {4, 4, 4, 4, 1152}) got.push_back(fast.Next(bytes));
  EXPECT_EQ(got, (std::vector<std::int64_t>{0, 1, 2, 3, 101}));
}

// A real column holds exactly the double from_chars reads from the window's text,
// and nothing when from_chars would not read the whole text.
TEST(ArchiveColumnsTest, RealsAreTheNumbersFromCharsReads) {
  const ArchiveColumn* volts = NumericColumnOfField(18);
  ASSERT_NE(volts, nullptr);
  std::vector<std::string> texts = {"-0.0",
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
                                    "123456789012345.6",
                                    "0.1000000000000001"};
  for (int k = -100000; k <= 100000; k += 37) {  // three decimals, many roundings
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

// An empty view may have no data at all; bound as it is, SQLite would store NULL
// and a NOT NULL column (station, link) would refuse the frame.
TEST(SqliteStatementTest, AnEmptyTextWithoutDataIsBoundAsTextNotNull) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  {
    SqliteStatement query(db, "SELECT typeof(?1)");
    query.BindText(1, std::string_view());
    ASSERT_EQ(query.Step(), SQLITE_ROW);
    EXPECT_EQ(query.Text(0), "text");
  }
  sqlite3_close(db);
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
  // A frame as a replay hands it over; it points into `bytes`.
  static DecodedFrame Replayed(const Bytes& bytes, std::int64_t ms) {
    DecodedFrame f;
    f.bytes = bytes;
    f.received_ms = ms;
    f.replayed = true;
    return f;
  }

  testing::TempDir dir_{"archive"};
  testing::SeeingSink seen_;
  Bytes pass_;
};

// The values of each record against the JSON output are compared by the decode
// tool's test; here the frames, their times and one record row per record.
TEST_F(ArchiveTest, EveryFrameKeepsItsBytesAndTimeAndEveryRecordARow) {
  {
    ArchiveWriter writer(nullptr);
    ASSERT_TRUE(writer.Open(Path()));
    ReceivePass(600, writer);
  }
  const std::vector<Bytes> logged = testing::LoggedFrames(pass_);
  ASSERT_EQ(seen_.frames.size(), logged.size());
  Db db(Path());
  EXPECT_EQ(db.One("PRAGMA user_version"), std::to_string(kArchiveSchemaVersion));
  EXPECT_EQ(db.One("PRAGMA journal_mode"), "wal");
  const auto frames = db.Rows("SELECT received_ms, bytes FROM frames ORDER BY id");
  ASSERT_EQ(frames.size(), logged.size());
  for (std::size_t k = 0; k < logged.size(); ++k) {
    EXPECT_EQ(frames[k][0], std::to_string(seen_.frames[k].ms));
    EXPECT_EQ(frames[k][1], std::string(logged[k].begin(), logged[k].end())) << k;
  }
  // `received` is strftime's text to the millisecond; 7 ms steps need leading zeros.
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

// A live TNC may repeat a frame within a millisecond: all kept. A replayed frame
// already there (same bytes, same time) is skipped, committed or not.
TEST_F(ArchiveTest, OnlyReplayedFramesAreCheckedForDuplicates) {
  const Bytes a = {0xC0, 0x00, 0x41, 0xC0}, b = {0xC0, 0x00, 0x42, 0xC0};
  ArchiveWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(Path()));
  testing::FixedClock clock({kStartMs / 1000, 0});
  testing::Receiver receiver(clock);
  receiver.recorder.AddSink(&writer);
  receiver.Receive(a);
  receiver.Receive(a);
  for (const auto& [bytes, ms] : {std::pair{a, kStartMs}, {b, kStartMs}, {a, kStartMs + 1}})
    writer.FrameDecoded(Replayed(bytes, ms));
  writer.Close();
  EXPECT_EQ(writer.lost(), 0u) << writer.error();
  EXPECT_EQ(std::pair(writer.added(), writer.duplicates()), std::pair(4ul, 1ul));
  EXPECT_EQ(Db(Path()).Rows("SELECT received_ms - " + std::to_string(kStartMs) +
                            ", hex(bytes), quote(station) || quote(link) FROM frames"),
            (Rows{{"0", "C00041C0", "'Lab''COM1'"},
                  {"0", "C00041C0", "'Lab''COM1'"},
                  {"0", "C00042C0", "''''"},  // empty texts, not NULL
                  {"1", "C00041C0", "''''"}}));

  // Twice in one transaction, later than all the archive held.
  ArchiveWriter batch(nullptr, {.batch_frames = 1000, .vfs = {}});
  ASSERT_TRUE(batch.Open(Path()));
  batch.FrameDecoded(Replayed(b, kStartMs + 5));
  batch.FrameDecoded(Replayed(b, kStartMs + 5));
  batch.Close();
  EXPECT_EQ(std::pair(batch.added(), batch.duplicates()), std::pair(1ul, 1ul));
}

// An archive as the first release left it: the rows in tables named like today's
// views, the time as text in a generated column, one frame with a power record.
void WriteFirstVersionArchive(const std::string& path, std::int64_t ms) {
  const std::string received =
      " received TEXT GENERATED ALWAYS AS (strftime('%Y-%m-%d %H:%M:%f',"
      " received_ms / 1000.0, 'unixepoch')) VIRTUAL";
  std::string sql =
      "PRAGMA journal_mode=WAL; CREATE TABLE frames (id INTEGER PRIMARY KEY,"
      " received_ms INTEGER NOT NULL," +
      received +
      ", station TEXT NOT NULL, link TEXT NOT NULL, bytes BLOB NOT NULL);"
      "CREATE INDEX frames_by_time ON frames (received_ms);";
  for (const RecordKind record : {RecordKind::kPower, RecordKind::kSystem}) {
    const std::string table(RecordTable(record));
    sql += "CREATE TABLE " + table +
           " (frame_id INTEGER PRIMARY KEY REFERENCES frames (id),"
           " received_ms INTEGER NOT NULL," +
           received;
    for (const ArchiveColumn& c : ArchiveColumns())
      if (c.record == record) sql += ", " + std::string(c.name);
    sql += "); CREATE INDEX " + table + "_by_time ON " + table + " (received_ms);";
  }
  const std::string time = std::to_string(ms);
  sql += "INSERT INTO frames (received_ms, station, link, bytes) VALUES (" + time +
         ", 'Lab', 'COM1', x'C00041C0'); INSERT INTO power_housekeeping (frame_id, received_ms,"
         " battery_volts) VALUES (1, " +
         time + ", 3.96); PRAGMA user_version = 1;";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST_F(ArchiveTest, AnArchiveOfTheFirstReleaseIsReadAndBroughtUpToDate) {
  WriteFirstVersionArchive(Path(), kStartMs + 125);
  const ArchiveColumn& volts = *NumericColumnOfField(18);
  const auto series_size = [&] {
    ArchiveReader reader;
    EXPECT_TRUE(reader.Open(Path())) << reader.error();
    return reader.Series(volts).size();
  };
  EXPECT_EQ(series_size(), 1u);  // read as it is, before any writer touched it

  ArchiveWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(Path())) << writer.error();
  const Bytes frame = {0xC0, 0x00, 0x41, 0xC0};
  DecodedFrame again = Replayed(frame, kStartMs + 125);
  again.station = "Lab";
  again.link = "Lab_03032010_1407.kss";
  writer.FrameDecoded(again);  // the frame of the old archive: found there
  again.received_ms += 1000;
  writer.FrameDecoded(again);
  writer.Close();
  EXPECT_EQ(std::pair(writer.added(), writer.duplicates()), std::pair(1ul, 1ul));

  const Db db(Path());
  EXPECT_EQ(db.One("PRAGMA user_version"), std::to_string(kArchiveSchemaVersion));
  EXPECT_EQ(db.One("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(db.Rows("SELECT id, received, link FROM frames ORDER BY id"),
            (Rows{{"1", "2010-03-03 14:07:00.125", "COM1"},
                  {"2", "2010-03-03 14:07:01.125", "Lab_03032010_1407.kss"}}));
  EXPECT_EQ(db.One("SELECT received || ' ' || battery_volts FROM power_housekeeping"),
            "2010-03-03 14:07:00.125 3.96");
  EXPECT_EQ(series_size(), 1u);
}

TEST_F(ArchiveTest, TheReaderSeesCommittedValuesWithBothEndsOfARange) {
  ArchiveWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(Path()));
  ReceivePass(300, writer);
  ArchiveReader reader;  // while the writer is still open
  ASSERT_TRUE(reader.Open(Path())) << reader.error();
  const ArchiveColumn& volts = *NumericColumnOfField(18);
  EXPECT_EQ(NumericColumnOfField(0), nullptr);  // the mode is a text

  std::vector<std::pair<std::int64_t, double>> expected;
  for (const SeenFrame& f : seen_.frames)
    if (f.record == RecordKind::kPower) expected.emplace_back(f.ms, std::stod(f.fields.at(18)));
  ASSERT_GT(expected.size(), 20u);
  const auto points = [](const std::vector<SeriesPoint>& series) {
    std::vector<std::pair<std::int64_t, double>> out;
    for (const SeriesPoint& p : series) out.emplace_back(p.ms, p.value);
    return out;
  };
  EXPECT_EQ(points(reader.Series(volts)), expected);
  EXPECT_EQ(points(reader.Series(volts, expected[5].first, expected[12].first)),
            decltype(expected)(expected.begin() + 5, expected.begin() + 13));
  ASSERT_TRUE(reader.Last(volts).has_value());
  EXPECT_EQ(reader.Last(volts)->ms, expected.back().first);

  ArchiveReader missing;
  EXPECT_FALSE(missing.Open((dir_ / "none.sqlite").string()));
  EXPECT_FALSE(missing.error().empty());
  EXPECT_TRUE(missing.Series(volts).empty());
}

// What an extension keeps beside the frames (the sharing queue) is written in
// the frame's transaction: a frame is kept with it or not at all, and told.
TEST_F(ArchiveTest, AFrameWhoseExtensionFailsIsNotKept) {
  struct Queue final : ArchiveExtension {
    bool CreateTables(sqlite3* db) override {
      return sqlite3_exec(db, "CREATE TABLE IF NOT EXISTS queue (frame_id INTEGER)", nullptr,
                          nullptr, nullptr) == SQLITE_OK;
    }
    bool FrameAdded(sqlite3* db, const DecodedFrame&, std::int64_t id) override {
      const std::string sql = "INSERT INTO queue VALUES (" + std::to_string(id) + ")";
      return !refuse && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    bool refuse = false;
  } queue;
  testing::CountingListener listener;
  ArchiveWriter writer(&listener);
  writer.AddExtension(&queue);
  ASSERT_TRUE(writer.Open(Path()));
  const Bytes frame = {0xC0, 0x00, 0x41, 0xC0};
  for (const int k : {0, 1, 2}) {
    queue.refuse = k == 1;
    writer.FrameDecoded(Replayed(frame, kStartMs + k));
  }
  writer.Close();
  EXPECT_EQ(std::pair(listener.problems.size(), listener.recovered.size()), std::pair(1ul, 1ul));
  const Db db(Path());
  EXPECT_EQ(db.Rows("SELECT f.received_ms - " + std::to_string(kStartMs) +
                    " FROM frames f JOIN queue q ON q.frame_id = f.id"),
            (Rows{{"0"}, {"2"}}));
  EXPECT_EQ(db.One("SELECT count(*) FROM frames"), "2");
}

TEST(LineProtocolTest, TagsAreEscapedAndOnlyTheSatellitesRecordsWritten) {
  // A power record: battery 5.00 V, heater thresholds -57 and -56 °C.
  Bytes payload = sample::SatellitePayload(42, 'S', 7, 256, 90);
  const int at[] = {6, 27, 42, 43, 44, 45, 70, 80, 81},
            value[] = {0x29, 255, 199, 200, 178, 0, 0x14, 0x34, 0x12};
  for (int i = 0; i < 9; ++i) payload[at[i]] = static_cast<std::uint8_t>(value[i]);
  testing::FixedClock clock({kStartMs / 1000, 250});
  testing::Receiver receiver(clock);
  std::vector<std::string> lines;
  struct Lines final : FrameSink {
    Lines(std::vector<std::string>& out, std::string station) : out(out), station(station) {}
    void FrameDecoded(const DecodedFrame& f) override {
      DecodedFrame g = f;
      g.station = station;
      out.push_back(LineProtocolRecord(g));
    }
    std::vector<std::string>& out;
    std::string station;
  } plain(lines, "Lab"), odd(lines, "My Lab,2=x"), none(lines, "");
  for (FrameSink* sink : std::initializer_list<FrameSink*>{&plain, &odd, &none})
    receiver.recorder.AddSink(sink);
  receiver.Receive(sample::KissFrame(sample::SatelliteFrame(payload)));
  sample::Ax25Frame other = sample::SatelliteFrame({1, 2, 3});
  other.source = {"QQ2XYZ", 0, false};
  receiver.Receive(sample::KissFrame(other));

  ASSERT_EQ(lines.size(), 6u);
  using ::testing::HasSubstr;
  EXPECT_THAT(lines[0], ::testing::StartsWith("power_housekeeping,station=Lab frame_number=42i,"
                                              "payload_counter=7i,header_word=256i,"));
  EXPECT_THAT(lines[0], HasSubstr(",battery_volts=5.00,"));
  EXPECT_THAT(lines[0], HasSubstr(",packets_in=4660i,"));  // a hex pointer as an integer
  EXPECT_THAT(lines[0], HasSubstr(",heater_on_temp_c=-57,heater_off_temp_c=-56,"));
  EXPECT_THAT(lines[0], ::testing::EndsWith(" 1267625220250000000\n"));
  EXPECT_THAT(lines[0], ::testing::Not(HasSubstr("NOMINAL")));  // texts stay out
  EXPECT_THAT(lines[1], ::testing::StartsWith("power_housekeeping,station=My\\ Lab\\,2\\=x "));
  EXPECT_THAT(lines[2], ::testing::StartsWith("power_housekeeping frame_number=42i,"));
  EXPECT_EQ(lines[3] + lines[4] + lines[5], "");  // another station's frame
}

}  // namespace
}  // namespace zevrin
