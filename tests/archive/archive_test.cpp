// The archive: names and times, duplicates, an archive of the first release,
// reading back, and the line protocol. What a whole pass leaves in an archive is
// compared with the JSON output, value for value, by the decode tool's tests.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "archive_support.h"
#include "input/replay_times.h"
#include "outputs/archive/archive_reader.h"
#include "outputs/archive/archive_schema.h"
#include "outputs/export/line_protocol.h"
#include "sample/sample_pass.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Bytes;
using testing::Db;
using ::testing::HasSubstr;
using Rows = std::vector<std::vector<std::string>>;

constexpr std::int64_t kStartMs = 1267625220000;  // 2010-03-03 14:07:00 UTC

TEST(ArchiveNamesTest, ImpossibleDatesAreRefusedAndNoLabelLeavesTheFolder) {
  EXPECT_EQ(ArchiveFileName("/d/", "../etc/x y"), "/d/_._etc_x_y_archive.sqlite");
  EXPECT_EQ(ArchiveFileName("/d", ".hidden"), "/d/_hidden_archive.sqlite");
  EXPECT_EQ(ParseLogFileName("_03032010_1407.kss").value().station_label, "");
  const std::pair<std::string_view, std::int64_t> logs[] = {
      // 0: not a log's name
      {"Lab_29022012_2359.kss", 1330559940}, {"Lab_29022011_2359.kss", 0},
      {"Lab_03132010_1407.kss", 0},          {"Lab_03032010_2407.kss", 0},
      {"Lab_03032010_1407.dmp", 0},          {"Lab_0303201a_1407.kss", 0}};
  for (const auto& [path, seconds] : logs) {
    const auto parts = ParseLogFileName(path);
    EXPECT_EQ(parts ? parts->utc_seconds : 0, seconds) << path;
  }
  for (const std::string_view time : {"2010-02-30 14:07", "2010-03-03 14:07:60", "2010-03-03"})
    EXPECT_EQ(ParseUtcTime(time), std::nullopt) << time;
}

// Four 4-byte frames at 115200 baud take 1.4 ms, yet each gets its own
// millisecond; the times catch up with the line once it is slower.
TEST(ArchiveNamesTest, FastLineTimesNeverRepeatAMillisecond) {
  LineRateTimes fast(0, 115200);
  std::vector<std::int64_t> got;
  for (const std::size_t bytes : {4, 4, 4, 4, 1152}) got.push_back(fast.Next(bytes));
  EXPECT_EQ(got, (std::vector<std::int64_t>{0, 1, 2, 3, 101}));
}

class ArchiveTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.Path("Lab_archive.sqlite"); }
  // A frame as a replay hands it over; it points into `bytes`.
  static DecodedFrame Replayed(const Bytes& bytes, std::int64_t ms) {
    return {.bytes = bytes, .received_ms = ms, .station = {}, .link = {}, .replayed = true};
  }
  // Today's empty archive at Path(), made one of an earlier release by `sql`.
  void MakeOldArchive(const std::string& sql) const {
    ASSERT_TRUE(ArchiveWriter(nullptr).Open(Path()));
    EXPECT_EQ(testing::Exec(Path(), sql), "");
  }
  // Writes `frames` to the archive at Path(), which is of today's version and sound
  // afterwards; the frames added and the duplicates skipped.
  std::pair<std::uint64_t, std::uint64_t> WriteTo(const std::vector<DecodedFrame>& frames) const {
    ArchiveWriter writer(nullptr);
    EXPECT_TRUE(writer.Open(Path())) << writer.error();
    for (const DecodedFrame& f : frames) writer.FrameDecoded(f);
    writer.Close();
    const Db db(Path());
    EXPECT_EQ(db.One("PRAGMA user_version"), std::to_string(kArchiveSchemaVersion));
    EXPECT_EQ(db.One("PRAGMA integrity_check"), "ok");
    return {writer.added(), writer.duplicates()};
  }

  testing::TempDir dir_{"archive"};
  const Bytes frame_ = {0xC0, 0x00, 0x41, 0xC0};
};

// A live TNC may repeat a frame within a millisecond: all kept. A replayed frame
// already there (same bytes, same time) is skipped, committed or not. Empty texts
// are kept as texts: station and link may not be NULL.
TEST_F(ArchiveTest, OnlyReplayedFramesAreCheckedForDuplicates) {
  const Bytes other = {0xC0, 0x00, 0x42, 0xC0};
  ArchiveWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(Path()));
  testing::FixedClock clock({kStartMs / 1000, 0});
  testing::Receiver receiver(clock, {&writer});
  receiver.Receive(frame_);
  receiver.Receive(frame_);
  for (const auto& [bytes, ms] :
       {std::pair{frame_, kStartMs}, {other, kStartMs}, {frame_, kStartMs + 1}})
    writer.FrameDecoded(Replayed(bytes, ms));
  writer.Close();
  EXPECT_EQ(writer.lost(), 0u) << writer.error();
  EXPECT_EQ(Db(Path()).One("PRAGMA journal_mode"), "wal");
  EXPECT_EQ(std::pair(writer.added(), writer.duplicates()), std::pair(4ul, 1ul));
  EXPECT_EQ(Db(Path()).Rows("SELECT received_ms - " + std::to_string(kStartMs) +
                            ", hex(bytes), quote(station) || quote(link) FROM frames"),
            (Rows{{"0", "C00041C0", "'Lab''COM1'"},
                  {"0", "C00041C0", "'Lab''COM1'"},
                  {"0", "C00042C0", "''''"},
                  {"1", "C00041C0", "''''"}}));

  // Twice in one transaction, later than all the archive held.
  ArchiveWriter batch(nullptr, {.batch_frames = 1000, .vfs = {}});
  ASSERT_TRUE(batch.Open(Path()));
  batch.FrameDecoded(Replayed(other, kStartMs + 5));
  batch.FrameDecoded(Replayed(other, kStartMs + 5));
  batch.Close();
  EXPECT_EQ(std::pair(batch.added(), batch.duplicates()), std::pair(1ul, 1ul));
}

// An archive as the first release left it: the rows in tables named like today's
// views, the time as text in a generated column, one frame with a power record.
std::string FirstVersionSql(std::int64_t ms) {
  std::string sql = "DROP TABLE influx_points;";  // came with a later version
  for (const std::string table : {"frames", "power_housekeeping", "system_housekeeping"})
    sql += "DROP VIEW " + table + "; ALTER TABLE stored_" + table + " RENAME TO " + table +
           "; ALTER TABLE " + table +
           " ADD COLUMN received TEXT GENERATED ALWAYS AS (strftime('%Y-%m-%d %H:%M:%f',"
           " received_ms / 1000.0, 'unixepoch')) VIRTUAL;";
  sql += "ALTER TABLE frames DROP COLUMN time_source;";
  const std::string time = std::to_string(ms);
  sql += "INSERT INTO frames (received_ms, station, link, bytes) VALUES (" + time +
         ", 'Lab', 'COM1', x'C00041C0'); INSERT INTO power_housekeeping (frame_id, received_ms,"
         " battery_volts) VALUES (1, " +
         time + ", 3.96); PRAGMA user_version = 1;";
  return sql;
}

TEST_F(ArchiveTest, AnArchiveOfTheFirstReleaseIsReadAndBroughtUpToDate) {
  MakeOldArchive(FirstVersionSql(kStartMs + 125));
  const auto series_size = [&] {
    ArchiveReader reader;
    EXPECT_TRUE(reader.Open(Path())) << reader.error();
    return reader.Series(*NumericColumnOfField(18)).size();
  };
  EXPECT_EQ(series_size(), 1u);  // read as it is, before any writer touched it

  DecodedFrame again = Replayed(frame_, kStartMs + 125);  // the old archive's: found there
  again.station = "Lab";
  again.link = "Lab_03032010_1407.kss";
  DecodedFrame later = again;
  later.received_ms += 1000;
  EXPECT_EQ(WriteTo({again, later}), std::pair(1ul, 1ul));
  const Db db(Path());
  EXPECT_EQ(db.Rows("SELECT id, received, link FROM frames ORDER BY id"),
            (Rows{{"1", "2010-03-03 14:07:00.125", "COM1"},
                  {"2", "2010-03-03 14:07:01.125", "Lab_03032010_1407.kss"}}));
  EXPECT_EQ(db.One("SELECT received || ' ' || battery_volts FROM power_housekeeping"),
            "2010-03-03 14:07:00.125 3.96");
  EXPECT_EQ(series_size(), 1u);
}

// An archive of version 2: the frames without their time's source, one frame in it.
std::string SecondVersionSql(std::int64_t ms) {
  return "DROP VIEW frames; ALTER TABLE stored_frames DROP COLUMN time_source;"
         " CREATE VIEW frames AS SELECT id, received_ms, " +
         UtcTextSql("received_ms") +
         " AS received, station, link, bytes FROM stored_frames;"
         " INSERT INTO stored_frames (received_ms, station, link, bytes) VALUES (" +
         std::to_string(ms) + ", 'Lab', 'COM1', x'C00041C0'); PRAGMA user_version = 2;";
}

// Written to, an archive of version 2 keeps its frames, which never said where
// their times came from (NULL); the frames added say it.
TEST_F(ArchiveTest, AnArchiveOfVersionTwoKeepsItsFramesAndLearnsTimeSources) {
  MakeOldArchive(SecondVersionSql(kStartMs));
  DecodedFrame stamped = Replayed(frame_, kStartMs + 1000);
  stamped.time_source = TimeSource::kKiss;
  DecodedFrame live = Replayed(frame_, kStartMs + 2000);
  live.replayed = false;
  EXPECT_EQ(WriteTo({stamped, live}), std::pair(2ul, 0ul));
  EXPECT_EQ(
      Db(Path()).Rows("SELECT id, received, link, quote(time_source) FROM frames ORDER BY id"),
      (Rows{{"1", "2010-03-03 14:07:00.000", "COM1", "NULL"},
            {"2", "2010-03-03 14:07:01.000", "", "'kiss'"},
            {"3", "2010-03-03 14:07:02.000", "", "'live'"}}));
}

// What an extension keeps beside the frames (the sharing queue) is written in
// the frame's transaction: a frame is kept with it or not at all, and told.
TEST_F(ArchiveTest, AFrameWhoseExtensionFailsIsNotKept) {
  struct Queue final : ArchiveExtension {
    static bool Exec(sqlite3* db, const std::string& sql) {
      return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    bool CreateTables(sqlite3* db) override { return Exec(db, "CREATE TABLE queue (frame_id)"); }
    bool FrameAdded(sqlite3* db, const DecodedFrame&, std::int64_t id) override {
      return !refuse && Exec(db, "INSERT INTO queue VALUES (" + std::to_string(id) + ")");
    }
    bool refuse = false;
  } queue;
  testing::CountingListener listener;
  ArchiveWriter writer(&listener);
  writer.AddExtension(&queue);
  ASSERT_TRUE(writer.Open(Path()));
  for (const int k : {0, 1, 2}) {
    queue.refuse = k == 1;
    writer.FrameDecoded(Replayed(frame_, kStartMs + k));
  }
  writer.Close();
  EXPECT_EQ(std::pair(listener.problems.size(), listener.recovered.size()), std::pair(1ul, 1ul));
  EXPECT_EQ(Db(Path()).Rows("SELECT f.received_ms - " + std::to_string(kStartMs) +
                            " FROM frames f LEFT JOIN queue q ON q.frame_id = f.id"),
            (Rows{{"0"}, {"2"}}));
}

// The power record of one frame, for three station labels, and another station's
// frame, which gives no line.
TEST(LineProtocolTest, TagsAreEscapedAndOnlyTheSatellitesRecordsWritten) {
  // Battery 5.00 V, heater thresholds -57 and -56 °C, packets in 0x1234.
  Bytes payload = sample::SatellitePayload(42, 'S', 7, 256, 90);
  const int at[] = {6, 27, 42, 43, 44, 45, 70, 80, 81},
            value[] = {0x29, 255, 199, 200, 178, 0, 0x14, 0x34, 0x12};
  for (int i = 0; i < 9; ++i) payload[at[i]] = static_cast<std::uint8_t>(value[i]);
  testing::FixedClock clock({kStartMs / 1000, 250});
  struct Lines final : FrameSink {
    void FrameDecoded(const DecodedFrame& f) override {
      for (const char* station : {"Lab", "My Lab,2=x", ""}) {
        DecodedFrame g = f;
        g.station = station;
        out.push_back(LineProtocolRecord(g));
      }
    }
    std::vector<std::string> out;
  } lines;
  testing::Receiver receiver(clock, {&lines});
  receiver.Receive(sample::KissFrame(sample::SatelliteFrame(payload)));
  sample::Ax25Frame other = sample::SatelliteFrame({1, 2, 3});
  other.source = {"QQ2XYZ", 0, false};
  receiver.Receive(sample::KissFrame(other));

  ASSERT_EQ(lines.out.size(), 6u);
  const std::string& line = lines.out[0];
  EXPECT_THAT(line, ::testing::StartsWith("power_housekeeping,station=Lab frame_number=42i,"
                                          "payload_counter=7i,header_word=256i,"));
  EXPECT_THAT(line, HasSubstr(",battery_volts=5.00,"));
  EXPECT_THAT(line, HasSubstr(",packets_in=4660i,"));  // a hex pointer as an integer
  EXPECT_THAT(line, HasSubstr(",heater_on_temp_c=-57,heater_off_temp_c=-56,"));
  EXPECT_THAT(line, ::testing::EndsWith(" 1267625220250000000\n"));
  EXPECT_THAT(line, ::testing::Not(HasSubstr("NOMINAL")));  // texts stay out
  EXPECT_THAT(lines.out[1], ::testing::StartsWith("power_housekeeping,station=My\\ Lab\\,2\\=x "));
  EXPECT_THAT(lines.out[2], ::testing::StartsWith("power_housekeeping frame_number=42i,"));
  EXPECT_EQ(lines.out[3] + lines.out[4] + lines.out[5], "");
}

}  // namespace
}  // namespace zevrin
