// zevrinkiss-decode keeping the frames' true times, run as a user would: KISS
// time stamps in and out, captures in and out (read back by tshark too). Reading
// pcapng files is shown by the capture reader's own tests.

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "frames/frame_header.h"
#include "sample/sample_pass.h"
#include "support/archive_db.h"
#include "support/fakes.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using Json = nlohmann::json;
using sample::Bytes;
using Rows = std::vector<std::vector<std::string>>;

// Times in July 2024 whose bytes hold a FEND and a FESC (0x00000190C0DB....), and
// every other one ending in one of them too: each time-stamp frame has escapes.
constexpr std::int64_t kStampBase = 0x190C0DB0000;
std::int64_t StampTime(std::int64_t k) { return kStampBase + 256 * k + (k % 2 ? 0xC0 : 0xDB); }

// A frame without its FENDs and escapes: the packet a capture holds.
Bytes Unescaped(const Bytes& frame) {
  UnescapedFrame u;
  Unescape(frame, u);
  return Bytes(u.bytes.begin() + 1, u.bytes.begin() + u.unescaped_length - 1);
}

class FrameTimesTest : public ::testing::Test {
 protected:
  // Runs the program with `args` (a shell command line); its standard error in err().
  int Run(const std::string& args, std::string* out = nullptr) const {
    testing::ToolRun run = testing::RunDecode(dir_, args);
    if (out != nullptr) *out = std::move(run.out);
    return run.status;
  }
  std::string err() const { return dir_.Contents("stderr.txt"); }
  // The frames of an archive: time, its source and bytes, in order.
  Rows Frames(const std::string& archive) const {
    return testing::Db(dir_.Path(archive))
        .Rows("SELECT received_ms, time_source, bytes FROM frames ORDER BY id");
  }
  // What `frames` at the times of `time_of` and from `source` are in an archive.
  template <typename TimeOf>
  static Rows Expected(const std::vector<Bytes>& frames, TimeOf time_of, const char* source) {
    Rows rows;
    for (std::size_t k = 0; k < frames.size(); ++k) {
      rows.push_back({std::to_string(time_of(static_cast<std::int64_t>(k))), source,
                      std::string(frames[k].begin(), frames[k].end())});
    }
    return rows;
  }

  const Bytes pass_ = sample::MakePass({.frames = 60});
  const std::vector<Bytes> frames_ = testing::LoggedFrames(pass_);
  testing::TempDir dir_{"frame-times"};
};

// Each frame after a time stamp takes its time into the archive and the JSON
// output; the monitor shows the time stamps as frames of their own, as ever.
TEST_F(FrameTimesTest, KissTimeStampsTimeTheirFramesInTheArchiveAndJson) {
  const Bytes stamped = testing::WithKissTimestamps(pass_, StampTime);
  const std::string in = dir_.WriteBytes("in.kss", stamped);
  std::string json;
  ASSERT_EQ(Run("--archive " + dir_.Path("a.sqlite") + " --format json " + in, &json), 0) << err();
  EXPECT_EQ(Frames("a.sqlite"), Expected(frames_, StampTime, "kiss"));
  const std::vector<std::string> lines = testing::Lines(json);
  ASSERT_EQ(lines.size(), frames_.size());
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const Json frame = Json::parse(lines[k]);
    EXPECT_EQ(frame["received_ms"], StampTime(static_cast<std::int64_t>(k))) << k;
    EXPECT_EQ(frame["time_source"], "kiss") << k;
  }
  std::string monitor;
  ASSERT_EQ(Run(in, &monitor), 0);
  std::size_t entries = 0;
  for (std::size_t at = 0; (at = monitor.find(" UTC: [", at)) != std::string::npos; ++at) ++entries;
  EXPECT_EQ(entries, 2 * frames_.size());
}

// A capture we write holds every frame at its time, reads back as the same
// frames at the same times, and tshark reads the same times and addresses.
TEST_F(FrameTimesTest, CaptureWrittenReadsBackWithTheSameFramesAndTimes) {
  const std::string in = dir_.WriteBytes("in.kss", testing::WithKissTimestamps(pass_, StampTime));
  ASSERT_EQ(Run("--format pcap --output " + dir_.Path("out.pcap") + " " + in), 0) << err();
  std::string piped;
  ASSERT_EQ(Run("--format=pcap " + in, &piped), 0);
  EXPECT_EQ(piped, dir_.Contents("out.pcap")) << "standard output and --output alike";
  ASSERT_EQ(Run("--archive " + dir_.Path("back.sqlite") + " " + dir_.Path("out.pcap")), 0) << err();
  EXPECT_EQ(Frames("back.sqlite"), Expected(frames_, StampTime, "pcap"));

  std::string have_tshark;
  if (testing::RunShell("command -v tshark", have_tshark) != 0) GTEST_SKIP() << "no tshark";
  std::string fields;
  ASSERT_EQ(testing::RunShell("tshark -r " + dir_.Path("out.pcap") +
                                  " -o 'gui.column.format:\"S\",\"%s\",\"D\",\"%d\"'"
                                  " -T fields -e frame.time_epoch -e _ws.col.S -e _ws.col.D"
                                  " 2>/dev/null",
                              fields),
            0);
  std::string json;
  ASSERT_EQ(Run("--format json " + dir_.Path("out.pcap"), &json), 0);
  const std::vector<std::string> theirs = testing::Lines(fields), ours = testing::Lines(json);
  ASSERT_EQ(theirs.size(), ours.size());
  for (std::size_t k = 0; k < ours.size(); ++k) {
    const Json frame = Json::parse(ours[k]);
    const std::int64_t ms = frame["received_ms"];
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%lld.%03lld000000", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    const std::string want = std::string(seconds) + "\t" + frame["source"].get<std::string>() +
                             "\t" + frame["destination"].get<std::string>();
    EXPECT_EQ(theirs[k], want) << k;
  }
}

// Plain AX.25 captures (link type 3) are read, their data frames of port 0; a
// capture of another link is refused with its reason.
TEST_F(FrameTimesTest, PlainAx25CapturesAreRead) {
  const auto time_of = [](std::int64_t k) { return StampTime(k) + 1; };
  pcap_t* dead = pcap_open_dead(DLT_AX25, 65535);
  pcap_dumper_t* dumper = pcap_dump_open(dead, dir_.Path("plain.pcap").c_str());
  ASSERT_NE(dumper, nullptr) << pcap_geterr(dead);
  std::vector<Bytes> data;
  std::ranges::copy_if(frames_, std::back_inserter(data),
                       [](const Bytes& f) { return Unescaped(f).at(0) == 0x00; });
  ASSERT_GT(data.size(), 30u);
  for (std::size_t k = 0; k < data.size(); ++k) {
    const Bytes packet = Unescaped(data[k]);
    const std::int64_t ms = time_of(static_cast<std::int64_t>(k));
    pcap_pkthdr header{};
    header.ts = {static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
    header.caplen = header.len = static_cast<bpf_u_int32>(packet.size() - 1);
    pcap_dump(reinterpret_cast<u_char*>(dumper), &header, packet.data() + 1);
  }
  pcap_dump_close(dumper);
  pcap_close(dead);
  ASSERT_EQ(Run("--archive " + dir_.Path("a.sqlite") + " " + dir_.Path("plain.pcap")), 0) << err();
  EXPECT_EQ(Frames("a.sqlite"), Expected(data, time_of, "pcap"));
  pcap_t* ethernet = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dump_close(pcap_dump_open(ethernet, dir_.Path("ether.pcap").c_str()));
  pcap_close(ethernet);
  EXPECT_EQ(Run(dir_.Path("ether.pcap")), 2);
  EXPECT_NE(err().find("link type 1 is not AX.25"), std::string::npos) << err();
}

// --kiss-timestamps puts the time of each frame before it in the raw log: read
// back, every frame has a time of the run, from its time stamp.
TEST_F(FrameTimesTest, RawLogWithTimeStampsGivesTheFramesTheirTimesBack) {
  const std::string in = dir_.WriteBytes("in.kss", pass_);
  EXPECT_EQ(Run("--kiss-timestamps " + in), 2) << "only with a raw log";
  const std::int64_t before = UtcNow() * 1000;
  ASSERT_EQ(Run("--raw-log " + dir_.Path("log.kss") + " --kiss-timestamps " + in), 0) << err();
  const std::int64_t after = (UtcNow() + 1) * 1000;
  ASSERT_EQ(Run("--archive " + dir_.Path("a.sqlite") + " " + dir_.Path("log.kss")), 0) << err();
  const Rows rows = Frames("a.sqlite");
  ASSERT_EQ(rows.size(), frames_.size());
  for (const auto& row : rows) {
    EXPECT_EQ(row[1], "kiss");
    EXPECT_GE(std::stoll(row[0]), before);
    EXPECT_LE(std::stoll(row[0]), after);
  }
}

}  // namespace
}  // namespace zevrin
