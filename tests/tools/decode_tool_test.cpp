#include "decode/decode_tool.h"

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
using testing::Bytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// What the tool prints for `input`, fed in chunks of `chunk` bytes.
std::string Decode(const Bytes& input, OutputFormat format, bool raw = false,
                   std::size_t chunk = 4096) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  const testing::FixedClock clock;
  {
    DecodeTool tool({format, raw}, out, clock);
    for (std::size_t pos = 0; pos < input.size(); pos += chunk) {
      tool.Feed(std::span(input.data() + pos, std::min(chunk, input.size() - pos)));
    }
  }
  std::fclose(out);
  std::string text(data, size);
  std::free(data);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The JSON objects printed for `input`, one per line, each checked to be valid JSON.
std::vector<Json> JsonFrames(const Bytes& input, std::size_t chunk = 4096) {
  std::vector<Json> frames;
  for (const std::string& line : Lines(Decode(input, OutputFormat::kJson, false, chunk))) {
    EXPECT_TRUE(Json::accept(line)) << line;
    frames.push_back(Json::parse(line, nullptr, false));
  }
  return frames;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(DecodeToolTest, JsonIsOneValidObjectPerFrameWithTheAgreedKeysInOrder) {
  std::mt19937 rng(99);
  Bytes noise(200000);
  for (auto& b : noise) b = rng() % 50 == 0 ? 0xC0 : static_cast<std::uint8_t>(rng());
  const std::vector<std::string> keys{
      "length",  "type",          "destination",  "source",        "digipeaters", "control",
      "control_name", "pid",     "payload_start", "payload_count", "header_text", "control_line",
      "dump",    "ascii",         "fields",       "colours",       "boxes",       "gauges"};
  for (const Bytes& input : {sample::MakePass({.frames = 300}), noise}) {
    const std::vector<Json> frames = JsonFrames(input, 333);
    ASSERT_EQ(frames.size(), testing::LoggedFrames(input).size());
    EXPECT_GT(frames.size(), 250u);
    for (const Json& frame : frames) {
      std::vector<std::string> got;
      for (const auto& [key, value] : frame.items()) got.push_back(key);
      ASSERT_EQ(got, keys) << frame;
    }
  }
}

TEST(DecodeToolTest, JsonOfOddFrames) {
  sample::Ax25Frame rr = sample::SatelliteFrame({});
  rr.control = 0x31;
  rr.pid = -1;
  sample::Ax25Frame relayed = sample::SatelliteFrame({'"', '\\', 0x01, 0xE9});
  relayed.digipeaters = {{"QQ9RLY", 1, true}, {"WIDE2", 2, false}};
  const std::vector<Json> f = JsonFrames(
      Concat({sample::KissFrame(rr), sample::KissFrame(relayed), {0xC0, 0x00, 0x41, 0xC0}}));
  ASSERT_EQ(f.size(), 3u);
  EXPECT_TRUE(f[0]["pid"].is_null());
  EXPECT_EQ(f[0]["payload_start"], 18);
  EXPECT_EQ(f[0]["payload_count"], 0);
  EXPECT_EQ(f[0]["control_line"], "ctrl: 49   PID: - {RR1-}   0 Payload Bytes");
  EXPECT_TRUE(f[0]["dump"].empty());
  EXPECT_EQ(f[1]["digipeaters"], Json::parse(R"(["QQ9RLY-1*","WIDE2-2"])"));
  // Quote and backslash survive, a control character is a dot, 0xE9 is the character é.
  EXPECT_EQ(f[1]["ascii"], "\"\\.\u00E9");
  EXPECT_EQ(f[2]["payload_count"], -78);
}

// A power record: battery 5.00 V, thresholds -57 (or -56) °C, -56 °C, 3.49 V and 0.00 V.
Bytes PowerRecordFrame(std::uint8_t heater_on_threshold) {
  Bytes payload = sample::SatellitePayload(42, 'S', 7, 256, 90);
  const int at[] = {6, 27, 42, 43, 44, 45, 70},
            value[] = {0x29, 255, heater_on_threshold, 200, 178, 0, 0x14};
  for (int i = 0; i < 7; ++i) payload[at[i]] = static_cast<std::uint8_t>(value[i]);
  return sample::KissFrame(sample::SatelliteFrame(payload));
}

Bytes OtherStationFrame() {
  sample::Ax25Frame other = sample::SatelliteFrame({1, 2, 3});
  other.source = {"QQ2XYZ", 0, false};
  return sample::KissFrame(other);
}

TEST(DecodeToolTest, MonitorFormatPrintsTheMonitorEntryWithNewlines) {
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({1, 2, 3}));
  EXPECT_EQ(Decode(frame, OutputFormat::kMonitor),
            "\n2009-06-20 14:05:09.437 UTC: [22 Bytes KISS Frame (without CRC)]\n"
            "ctrl: 3   PID: F0 {UI}   3 Payload Bytes\n"
            "from QQ0SAT to QQ0GND: \n"
            " 1   > 01 02 03 \n"
            // The counter and header word would lie beyond the frame: not shown.
            "  Frame #: 258\n"
            "  Frame Type: unknown Data Frame\n");
  const std::string raw = Decode(frame, OutputFormat::kMonitor, true);
  EXPECT_THAT(raw, HasSubstr("\n 21  > 03 C0 \n"));
  EXPECT_EQ(raw.find('\r'), std::string::npos);
  // After a satellite frame's entry, the values it wrote.
  const std::string text = Decode(PowerRecordFrame(200), OutputFormat::kMonitor);
  for (const char* part : {"\n  Frame Type: Housekeeping Data\n", "\n  Battery Volts: 5.00 V\n",
                           "\n  Heater ON Temp: -56 \u00B0C  [green]\n",
                           "\n  Emergency Threshold: 0.00 V  [red]\n"})
    EXPECT_THAT(text, HasSubstr(part));
  EXPECT_EQ(Decode(OtherStationFrame(), OutputFormat::kMonitor).find("  Frame Type"),
            std::string::npos);
}

TEST(DecodeToolTest, JsonListsWhatEachFrameWrote) {
  const std::vector<Json> f = JsonFrames(Concat({PowerRecordFrame(199), OtherStationFrame()}));
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0]["fields"]["18"], "5.00");
  EXPECT_EQ(f[0]["fields"]["41"], "-57");
  EXPECT_EQ(f[0]["colours"], Json::parse(R"({"41":"red","42":"green","43":"green","44":"red"})"));
  EXPECT_EQ(f[0]["boxes"], Json::parse(R"({"frame_number":"42","frame_type":"Housekeeping Data",
                                           "counter":"7","header_word":"256"})"));
  EXPECT_TRUE(f[0]["gauges"].empty());
  EXPECT_EQ(f[1]["boxes"], Json::parse(R"({"frame_type":"no TARVELO packets"})"));
  EXPECT_TRUE(f[1]["fields"].empty() && f[1]["colours"].empty());
}

TEST(DecodeToolTest, CsvHasAHeaderAndOneRowPerRecord) {
  const Bytes pass = sample::MakePass({.frames = 200});
  std::size_t records = 0;
  for (const Json& frame : JsonFrames(pass)) {
    // A decoded record always writes its first field: 0 (power) or 54 (system).
    records += frame["fields"].contains("0") || frame["fields"].contains("54");
  }
  const std::vector<std::string> rows = Lines(Decode(pass, OutputFormat::kCsv));
  ASSERT_GT(records, 20u);
  ASSERT_EQ(rows.size(), records + 1);
  EXPECT_TRUE(rows[0].starts_with("frame,record,Satellite Time,Weekday,Frame Type,Frame #,"));
  for (const char* column : {",18 Battery Volts [V],", ",26 Temp Sensor 1 [\u00B0C],", ",37 COM Mode,"})
    EXPECT_THAT(rows[0], HasSubstr(column));
  for (const std::string& row : rows) {
    EXPECT_EQ(row.back(), '\r');  // CR LF line ends, as spreadsheets expect
    EXPECT_EQ(std::count(row.begin(), row.end(), ','),
              std::count(rows[0].begin(), rows[0].end(), ','))
        << row;
  }
}

// The command-line program, run as a user would: `out` gets what it printed, the
// result is its exit status.
int RunTool(const std::string& args, std::string& out) {
  std::FILE* p = ::popen((std::string(ZEVRIN_DECODE_BINARY) + " " + args).c_str(), "r");
  out.clear();
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DecodeCommandTest, FilesStandardInputAndBadArguments) {
  const testing::TempDir dir{"decode-cli"};
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({1, 2, 3}));
  const auto file = [&](const char* name, std::size_t from, std::size_t to) {
    dir.Write(name, std::string(frame.begin() + from, frame.begin() + to));
    return (dir / name).string();
  };
  const std::string a = file("a.kss", 0, 9), b = file("b.kss", 9, frame.size());
  std::string out;
  // Files are read in order as one stream, "-" is standard input.
  for (const std::string& args : {"--format json " + a + " " + b, "--format=json - < " + a + " " + b}) {
    ASSERT_EQ(RunTool(args, out), 0);
    EXPECT_THAT(Lines(out), ElementsAre(HasSubstr("\"payload_count\":3"))) << args;
  }
  ASSERT_EQ(RunTool("< " + file("whole.kss", 0, frame.size()), out), 0);
  EXPECT_THAT(out, HasSubstr("from QQ0SAT to QQ0GND: \n"));

  const std::string missing = (dir / "missing.kss").string();
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
