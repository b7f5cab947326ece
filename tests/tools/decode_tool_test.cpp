// The zevrinkiss-decode program, run as a user would, on files the tests write.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using Json = nlohmann::ordered_json;  // keeps the key order of each line
using sample::Bytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Runs the program with `args` (a shell command line); `out` gets what it printed.
int RunTool(const std::string& args, std::string& out) {
  std::FILE* p = ::popen((std::string(ZEVRIN_DECODE_BINARY) + " " + args).c_str(), "r");
  out.clear();
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class DecodeToolTest : public ::testing::Test {
 protected:
  // What the program prints for `input` given as a file.
  std::string Decode(const Bytes& input, const std::string& options) {
    dir_.Write("in.kss", std::string(input.begin(), input.end()));
    std::string out;
    EXPECT_EQ(RunTool(options + " " + (dir_ / "in.kss").string(), out), 0);
    return out;
  }
  // The JSON objects printed for `input`, one per line, each checked to be valid JSON.
  std::vector<Json> JsonFrames(const Bytes& input) {
    std::vector<Json> frames;
    for (const std::string& line : Lines(Decode(input, "--format json"))) {
      EXPECT_TRUE(Json::accept(line)) << line;
      frames.push_back(Json::parse(line, nullptr, false));
    }
    return frames;
  }

  testing::TempDir dir_{"decode-tool"};
};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// A power record: battery 5.00 V, thresholds -57 °C, -56 °C, 3.49 V and 0.00 V.
Bytes PowerRecordFrame() {
  Bytes payload = sample::SatellitePayload(42, 'S', 7, 256, 90);
  const int at[] = {6, 27, 42, 43, 44, 45, 70}, value[] = {0x29, 255, 199, 200, 178, 0, 0x14};
  for (int i = 0; i < 7; ++i) payload[at[i]] = static_cast<std::uint8_t>(value[i]);
  return sample::KissFrame(sample::SatelliteFrame(payload));
}

Bytes OtherStationFrame() {
  sample::Ax25Frame other = sample::SatelliteFrame({1, 2, 3});
  other.source = {"QQ2XYZ", 0, false};
  return sample::KissFrame(other);
}

// One JSON object per frame with the agreed keys in order; one CSV row per housekeeping
// record under a header row, with CR LF line ends as spreadsheets expect.
TEST_F(DecodeToolTest, JsonAndCsvOfAPassAndOfNoise) {
  std::mt19937 rng(99);
  Bytes noise(200000);
  for (auto& b : noise) b = rng() % 50 == 0 ? 0xC0 : static_cast<std::uint8_t>(rng());
  const std::vector<std::string> keys{
      "length",       "type",  "destination",   "source",        "digipeaters", "control",
      "control_name", "pid",   "payload_start", "payload_count", "header_text", "control_line",
      "dump",         "ascii", "fields",        "colours",       "boxes",       "gauges"};
  for (const auto& [input, min_records] :
       {std::pair{sample::MakePass({.frames = 300}), std::size_t{20}}, {noise, 0}}) {
    const std::vector<Json> frames = JsonFrames(input);
    ASSERT_EQ(frames.size(), testing::LoggedFrames(input).size());
    EXPECT_GT(frames.size(), 250u);
    std::size_t records = 0;
    for (const Json& frame : frames) {
      std::vector<std::string> got;
      for (const auto& [key, value] : frame.items()) got.push_back(key);
      ASSERT_EQ(got, keys) << frame;
      // A decoded record always writes its first field: 0 (power) or 54 (system).
      records += frame["fields"].contains("0") || frame["fields"].contains("54");
    }
    const std::vector<std::string> rows = Lines(Decode(input, "--format csv"));
    EXPECT_GE(records, min_records);
    ASSERT_EQ(rows.size(), records + 1);
    EXPECT_TRUE(rows[0].starts_with("frame,record,Satellite Time,Weekday,Frame Type,Frame #,"));
    for (const char* column :
         {",18 Battery Volts [V],", ",26 Temp Sensor 1 [\u00B0C],", ",37 COM Mode,"})
      EXPECT_THAT(rows[0], HasSubstr(column));
    for (const std::string& row : rows) {
      EXPECT_EQ(row.back(), '\r');
      EXPECT_EQ(std::count(row.begin(), row.end(), ','),
                std::count(rows[0].begin(), rows[0].end(), ','))
          << row;
    }
  }
}

TEST_F(DecodeToolTest, JsonOfOddFramesAndOfWhatEachFrameWrote) {
  sample::Ax25Frame rr = sample::SatelliteFrame({});
  rr.control = 0x31;
  rr.pid = -1;
  sample::Ax25Frame relayed = sample::SatelliteFrame({'"', '\\', 0x01, 0xE9});
  relayed.digipeaters = {{"QQ9RLY", 1, true}, {"WIDE2", 2, false}};
  const std::vector<Json> f = JsonFrames(Concat({sample::KissFrame(rr),
                                                 sample::KissFrame(relayed),
                                                 {0xC0, 0x00, 0x41, 0xC0},
                                                 PowerRecordFrame(),
                                                 OtherStationFrame()}));
  ASSERT_EQ(f.size(), 5u);
  EXPECT_TRUE(f[0]["pid"].is_null());
  EXPECT_EQ(f[0]["payload_count"], 0);
  EXPECT_EQ(f[0]["control_line"], "ctrl: 49   PID: - {RR1-}   0 Payload Bytes");
  EXPECT_TRUE(f[0]["dump"].empty());
  EXPECT_EQ(f[1]["digipeaters"], Json::parse(R"(["QQ9RLY-1*","WIDE2-2"])"));
  // Quote and backslash survive, a control character is a dot, 0xE9 is the character é.
  EXPECT_EQ(f[1]["ascii"], "\"\\.\u00E9");
  EXPECT_EQ(f[2]["payload_count"], -78);

  EXPECT_EQ(f[3]["fields"]["18"], "5.00");
  EXPECT_EQ(f[3]["colours"], Json::parse(R"({"41":"red","42":"green","43":"green","44":"red"})"));
  EXPECT_EQ(f[3]["boxes"], Json::parse(R"({"frame_number":"42","frame_type":"Housekeeping Data",
                                           "counter":"7","header_word":"256"})"));
  EXPECT_TRUE(f[3]["gauges"].empty());
  EXPECT_EQ(f[4]["boxes"], Json::parse(R"({"frame_type":"no TARVELO packets"})"));
  EXPECT_TRUE(f[4]["fields"].empty() && f[4]["colours"].empty());
}

TEST_F(DecodeToolTest, MonitorFormatPrintsTheMonitorEntryWithNewlines) {
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({1, 2, 3}));
  const std::string text = Decode(Concat({frame, PowerRecordFrame(), OtherStationFrame()}), "");
  EXPECT_EQ(text.find('\r'), std::string::npos);
  // After a satellite frame's entry, the values it wrote; the counter and header word
  // would lie beyond the first frame, so they are not shown.
  for (const char* part :
       {" UTC: [22 Bytes KISS Frame (without CRC)]\nctrl: 3   PID: F0 {UI}   3 Payload Bytes\n"
        "from QQ0SAT to QQ0GND: \n 1   > 01 02 03 \n  Frame #: 258\n"
        "  Frame Type: unknown Data Frame\n\n",
        "\n  Battery Volts: 5.00 V\n", "\n  Heater ON Temp: -57 \u00B0C  [red]\n",
        "\n  Emergency Threshold: 0.00 V  [red]\n", "from QQ2XYZ to QQ0GND: \n 1   > 01 02 03 \n"})
    EXPECT_THAT(text, HasSubstr(part));
  EXPECT_TRUE(text.ends_with("from QQ2XYZ to QQ0GND: \n 1   > 01 02 03 \n"));  // no values
  // The raw view shows the frame as received; the values are decoded all the same.
  const std::string raw = Decode(Concat({frame, PowerRecordFrame()}), "--raw-view");
  EXPECT_THAT(raw, HasSubstr("\n 21  > 03 C0 \n"));
  EXPECT_THAT(raw, HasSubstr("\n  Battery Volts: 5.00 V\n"));
}

TEST_F(DecodeToolTest, FilesStandardInputAndBadArguments) {
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({1, 2, 3}));
  dir_.Write("a.kss", std::string(frame.begin(), frame.begin() + 9));
  dir_.Write("b.kss", std::string(frame.begin() + 9, frame.end()));
  const std::string a = (dir_ / "a.kss").string(), b = (dir_ / "b.kss").string();
  dir_.Write("in.kss", std::string(frame.begin(), frame.end()));
  std::string out;
  // Files are read in order as one stream, "-" is standard input, as is no file at all.
  for (const std::string& args :
       {"--format json " + a + " " + b, "--format=json - < " + a + " " + b,
        "--format json < " + (dir_ / "in.kss").string()}) {
    ASSERT_EQ(RunTool(args, out), 0);
    EXPECT_THAT(Lines(out), ElementsAre(HasSubstr("\"payload_count\":3"))) << args;
  }
  const std::string missing = (dir_ / "missing.kss").string();
  const std::pair<std::string, const char*> bad[] = {{"--colour", "unknown option '--colour'"},
                                                     {"--format xml", "xml"},
                                                     {missing, "cannot read"},
                                                     {missing, "No such file or directory"}};
  for (const auto& [args, message] : bad) {
    EXPECT_EQ(RunTool(args + " 2>&1", out), 2) << args;
    EXPECT_THAT(Lines(out), ElementsAre(HasSubstr(message)));
  }
  EXPECT_EQ(RunTool("--help", out), 0);
  EXPECT_THAT(out, HasSubstr("usage: zevrinkiss-decode"));
}

}  // namespace
}  // namespace zevrin
