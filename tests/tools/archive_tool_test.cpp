// zevrinkiss-decode filling an archive and sharing from it with a web server the
// test runs on 127.0.0.1; run as a user would.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "outputs/archive/archive_columns.h"
#include "outputs/share/http_post.h"
#include "outputs/share/share_settings.h"
#include "sample/sample_pass.h"
#include "support/archive_db.h"
#include "support/fakes.h"
#include "support/http_recorder.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using Json = nlohmann::json;
using sample::Bytes;
using testing::Lines;

// Whatever a test configures, the program it starts connects nowhere but here.
[[maybe_unused]] const int kLoopbackOnly = ::setenv(kLoopbackOnlyVariable, "1", 1);

class ArchiveToolTest : public ::testing::Test {
 protected:
  testing::ToolRun RunTool(const std::string& args) const { return testing::RunDecode(dir_, args); }
  std::string Archive() const { return dir_.Path("a.sqlite"); }

  testing::TempDir dir_{"archive-tool"};
};
using DecodeShareTest = ArchiveToolTest;

// The text a JSON frame gives for a column's value, or none.
std::optional<std::string> JsonValue(const Json& frame, const ArchiveColumn& c) {
  const auto i = static_cast<std::size_t>(c.index);
  const std::string key = c.source == ValueSource::kBox     ? std::string(BoxTable()[i].json_key)
                          : c.source == ValueSource::kGauge ? std::string(GaugeTable()[i].json_key)
                                                            : std::to_string(c.index);
  const Json& object = frame[c.source == ValueSource::kField    ? "fields"
                             : c.source == ValueSource::kColour ? "colours"
                             : c.source == ValueSource::kBox    ? "boxes"
                                                                : "gauges"];
  if (!object.contains(key)) return std::nullopt;
  return object[key].get<std::string>();
}

// The archive of a recording holds every frame logged under the station and link
// its name gives, and each record exactly the values the JSON output prints, each
// value in a column of its record; the same recording again adds nothing.
TEST_F(ArchiveToolTest, ArchiveHoldsEveryFrameAndExactlyTheJsonValues) {
  const Bytes stream = sample::MakePass({.frames = 600, .seed = 5});
  const std::string in = dir_.WriteBytes("Lab_03032010_1407.kss", stream);
  const testing::ToolRun first = RunTool("--archive " + Archive() + " " + in);
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "");  // filling an archive prints nothing by itself
  std::vector<Json> frames;
  for (const std::string& line : Lines(RunTool("--format json " + in).out))
    frames.push_back(Json::parse(line));
  const std::vector<Bytes> logged = testing::LoggedFrames(stream);
  const testing::Db db(Archive());
  const auto rows = db.Rows("SELECT bytes, station, link FROM frames ORDER BY id");
  ASSERT_TRUE(rows.size() == logged.size() && frames.size() == logged.size()) << rows.size();
  int records = 0;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const std::vector<std::string> want = {std::string(logged[k].begin(), logged[k].end()), "Lab",
                                           "Lab_03032010_1407.kss"};
    ASSERT_EQ(rows[k], want) << k;
    const bool power = frames[k]["fields"].contains("0");
    if (!power && !frames[k]["fields"].contains("54")) continue;
    ++records;
    const RecordKind kind = power ? RecordKind::kPower : RecordKind::kSystem;
    for (const auto& item : frames[k]["fields"].items()) {
      EXPECT_TRUE(std::ranges::any_of(ArchiveColumns(), [&](const ArchiveColumn& c) {
        return c.record == kind && c.source == ValueSource::kField &&
               c.index == std::stoi(item.key());
      })) << item.key();
    }
    std::string sql = "SELECT 0";
    std::vector<const ArchiveColumn*> columns;
    for (const ArchiveColumn& c : ArchiveColumns()) {
      if (c.record != kind) continue;
      sql += ", quote(" + std::string(c.name) + ")";
      columns.push_back(&c);
    }
    const auto row = db.Rows(sql + " FROM " + std::string(RecordTable(kind)) +
                             " WHERE frame_id = " + std::to_string(k + 1));
    ASSERT_EQ(row.size(), 1u) << k;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::optional<std::string> want_value = JsonValue(frames[k], *columns[c]);
      const std::string& got = row[0][c + 1];
      SCOPED_TRACE(std::string(columns[c]->name) + " " + got + " in frame " + std::to_string(k));
      if (!want_value) {
        EXPECT_EQ(got, "NULL");
      } else if (columns[c]->kind == ValueKind::kText) {
        EXPECT_EQ(got, "'" + *want_value + "'");
      } else if (columns[c]->kind == ValueKind::kReal) {
        // quote() writes a REAL with the digits that bring it back exact, and with a
        // point or an exponent, unlike an INTEGER.
        EXPECT_NE(got.find_first_of(".e"), std::string::npos);
        EXPECT_EQ(std::stod(got), std::stod(*want_value));
      } else {
        ASSERT_EQ(got.find_first_not_of("-0123456789"), std::string::npos) << "no INTEGER";
        const int base = columns[c]->kind == ValueKind::kHex ? 16 : 10;
        EXPECT_EQ(std::stoll(got), std::stoll(*want_value, nullptr, base));
      }
    }
  }
  EXPECT_GT(records, 200);
  EXPECT_EQ(RunTool("--archive " + Archive() + " " + in).status, 0);
  EXPECT_EQ(db.One("SELECT count(*) FROM frames"), std::to_string(logged.size()));
}

// Frames are timed from their file's start: the minute in its name or
// --start-time; or else they end at the file's last change, written when its
// last frame came. Each file on the command line is timed on its own, and each
// frame says where its time came from. A frame has come with its last byte, at
// 10 bits a byte of the line rate.
TEST_F(ArchiveToolTest, FramesAreTimedFromTheirFilesStartAtTheLineRate) {
  Bytes stream = {0xC0, 0x00, 0x41, 0xC0, 0xC0, 0x00, 1, 2, 3, 4, 5, 6, 7, 0xC0};
  stream.resize(stream.size() + 500, 0x33);  // a third frame of 500 bytes
  stream[14] = stream.back() = 0xC0;
  const std::string named = dir_.WriteBytes("My_Lab_03032010_1407.kss", stream);
  const std::string plain = dir_.WriteBytes("capture.bin", stream);
  const timespec times[2] = {{1293840000, 0}, {1293840000, 0}};  // 2011-01-01 00:00 UTC
  ASSERT_EQ(::utimensat(AT_FDCWD, plain.c_str(), times, 0), 0);
  constexpr std::int64_t kMinute = 1267625220000;  // 2010-03-03 14:07 UTC
  // The plain file's 514 bytes take 535 ms at 9600 baud, ending at its change.
  constexpr std::int64_t kPlainStart = 1293840000000 - 535;
  struct Start {
    std::int64_t ms;
    std::string station;
    std::string source;
  };
  const struct {
    std::string args;
    int baud;
    std::vector<Start> starts;
  } cases[] = {
      {named, 9600, {{kMinute, "My_Lab", "name"}}},
      {"--baud 1200 " + named, 1200, {{kMinute, "My_Lab", "name"}}},
      {"--start-time 2020-05-01T10:00:00.5Z --station Other " + named,
       9600,
       {{1588327200500, "Other", "start-time"}}},
      {named + " " + plain, 9600, {{kMinute, "My_Lab", "name"}, {kPlainStart, "", "mtime"}}},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(Archive());
    ASSERT_EQ(RunTool("--archive " + Archive() + " " + c.args).status, 0) << c.args;
    std::vector<std::vector<std::string>> want;
    for (const Start& start : c.starts) {
      std::int64_t bytes = 0;
      for (const std::int64_t size : {4, 10, 500}) {
        bytes += size;
        want.push_back(
            {std::to_string(start.ms + bytes * 10 * 1000 / c.baud), start.station, start.source});
      }
    }
    EXPECT_EQ(testing::Db(Archive()).Rows(
                  "SELECT received_ms, station, time_source FROM frames ORDER BY id"),
              want)
        << c.args;
  }
}

// --share sends each frame once at the archive's times: those
// the recording's time stamps give. A replay sends nothing again, a recording
// without time stamps sends nothing, and without an archive there is no queue
// to send from.
TEST_F(DecodeShareTest, SharesEachFrameOnceAtTheArchivesTimes) {
  testing::HttpRecorder server;
  ShareSettings settings;
  settings.enabled = true;
  settings.station = {"DL1ABC", 49.73145, 8.95564, 99999};
  settings.servers = {{server.url(), "t0ken"}};
  const std::string ini = dir_.Path("share.ini");
  ASSERT_EQ(WriteShareSettings(ini, settings), std::nullopt);
  const Bytes pass = sample::MakePass({.frames = 120});
  constexpr std::int64_t kStart = 1245506700000;  // 2009-06-20 14:05:00 UTC
  const std::string in = dir_.WriteBytes(
      "Lab_20062009_1405.kss",
      testing::WithKissTimestamps(pass, [](std::int64_t k) { return kStart + 1500 * k + 7; }));
  const std::string args = "--archive " + Archive() + " --share " + ini + " " + in;
  const testing::ToolRun run = RunTool(args);
  ASSERT_EQ(run.status, 0) << run.err;
  const auto requests = server.requests();
  ASSERT_GT(requests.size(), 50u);
  for (const auto& r : requests)
    EXPECT_THAT(testing::FormField(r.body, "timestamp"), ::testing::StartsWith("2009-06-20T14:0"));
  EXPECT_THAT(run.err, ::testing::HasSubstr(std::to_string(requests.size()) + " sent, 0 waiting"));
  ASSERT_EQ(RunTool(args).status, 0);
  EXPECT_EQ(server.count(), requests.size());
  EXPECT_NE(RunTool("--share " + ini + " " + in).status, 0) << "the queue needs an archive";

  // Times estimated from a name, a file's date or --start-time: archived, not shared.
  const std::string unstamped = dir_.WriteBytes("Lab_20062009_1505.kss", pass);
  const std::string undated = dir_.WriteBytes("pass.kss", pass);
  for (const std::string& estimated :
       {unstamped, undated, "--start-time 2009-06-20T15:00:00Z " + undated}) {
    std::filesystem::remove(Archive());
    ASSERT_EQ(RunTool("--archive " + Archive() + " --share " + ini + " " + estimated).status, 0);
    EXPECT_EQ(testing::Db(Archive()).One("SELECT count(*) > 50 FROM frames"), "1");
  }
  EXPECT_EQ(server.count(), requests.size());
}

// Frames the archive cannot take (here past a file size limit) end the run with
// status 1 and the count of frames not written.
TEST_F(ArchiveToolTest, FramesTheArchiveCannotTakeEndTheRunWithStatusOne) {
  const std::string in = dir_.WriteBytes("in.kss", sample::MakePass({.frames = 3000}));
  const testing::ToolRun run = testing::RunDecode(dir_, "--archive " + Archive() + " " + in,
                                                  "trap '' XFSZ; ulimit -f 128; ");
  EXPECT_EQ(run.status, 1);
  // One count of the frames lost, the true one, in every notice and the summary.
  const std::vector<std::string> lines = Lines(run.err);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines.back(), m, std::regex(", (\\d+) could not be written")));
  const std::string lost = m[1];
  for (const std::string& line : lines)
    EXPECT_TRUE(!std::regex_search(line, m, std::regex("(\\d+) frames( missed|,)")) ||
                m[1] == lost);
  // Every frame read is in the archive or counted lost.
  EXPECT_EQ(
      std::stoul(lost) + std::stoul(testing::Db(Archive()).One("SELECT count(*) FROM frames")),
      Lines(RunTool("--format json " + in).out).size());
}

}  // namespace
}  // namespace zevrin
