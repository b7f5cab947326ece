#include "decode/decode_tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "support/json_check.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using testing::Bytes;
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

void ExpectParts(const std::string& text, std::initializer_list<const char*> parts) {
  for (const char* part : parts) EXPECT_THAT(text, HasSubstr(part));
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
  Bytes pass = sample::MakePass({.frames = 300});
  for (const Bytes* input : {&pass, &noise}) {
    const std::vector<std::string> lines = Lines(Decode(*input, OutputFormat::kJson, false, 333));
    ASSERT_EQ(lines.size(), testing::LoggedFrames(*input).size());
    EXPECT_GT(lines.size(), 250u);
    for (const std::string& line : lines) {
      ASSERT_TRUE(testing::JsonCheck::IsValid(line)) << line;
      std::size_t at = 0;
      for (const char* key :
           {"length", "type", "destination", "source", "digipeaters", "control", "control_name",
            "pid", "payload_start", "payload_count", "header_text", "control_line", "dump", "ascii",
            "fields", "colours", "boxes", "gauges"}) {
        at = line.find(std::string("\"").append(key).append("\":"), at);
        ASSERT_NE(at, std::string::npos) << key << " in " << line;
      }
    }
  }
}

TEST(DecodeToolTest, JsonOfOddFrames) {
  sample::Ax25Frame rr = sample::SatelliteFrame({});
  rr.control = 0x31;
  rr.pid = -1;
  sample::Ax25Frame relayed = sample::SatelliteFrame({'"', '\\', 0x01, 0xE9});
  relayed.digipeaters = {{"QQ9RLY", 1, true}, {"WIDE2", 2, false}};
  const std::vector<std::string> lines = Lines(
      Decode(Concat({sample::KissFrame(rr), sample::KissFrame(relayed), {0xC0, 0x00, 0x41, 0xC0}}),
             OutputFormat::kJson));
  ASSERT_EQ(lines.size(), 3u);
  ExpectParts(lines[0], {"\"pid\":null,\"payload_start\":18,\"payload_count\":0,",
                         "\"control_line\":\"ctrl: 49   PID: - {RR1-}   0 Payload Bytes\","
                         "\"dump\":[],\"ascii\":\"\""});
  EXPECT_THAT(lines[1], HasSubstr("\"digipeaters\":[\"QQ9RLY-1*\",\"WIDE2-2\"]"));
  // Quote, backslash and control characters escaped; 0xE9 as the character é in UTF-8.
  EXPECT_THAT(lines[1], HasSubstr("\"ascii\":\"\\\"\\\\.\xC3\xA9\""));
  EXPECT_THAT(lines[2], HasSubstr("\"payload_count\":-78,"));
  for (const std::string& line : lines) EXPECT_TRUE(testing::JsonCheck::IsValid(line)) << line;
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
  ExpectParts(raw, {"\n 1   > C0 00 ", "\n 21  > 03 C0 \n"});
  EXPECT_EQ(raw.find('\r'), std::string::npos);
  // After a satellite frame's entry, the values it wrote.
  const std::string text = Decode(PowerRecordFrame(200), OutputFormat::kMonitor);
  ExpectParts(text, {"\n  Frame #: 42\n  Frame Type: Housekeeping Data\n",
                     "\n  Battery Volts: 5.00 V\n", "\n  Heater ON Temp: -56 \u00B0C  [green]\n",
                     "\n  Emergency Threshold: 0.00 V  [red]\n"});
  EXPECT_EQ(Decode(OtherStationFrame(), OutputFormat::kMonitor).find("  Frame Type"),
            std::string::npos);
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
  ASSERT_EQ(RunTool("--format json " + a + " " + b, out), 0);
  EXPECT_EQ(Lines(out).size(), 1u);
  EXPECT_THAT(out, HasSubstr("\"payload_count\":3"));
  ASSERT_EQ(RunTool("--format=json - < " + a + " " + b, out), 0);
  EXPECT_EQ(Lines(out).size(), 1u);
  ASSERT_EQ(RunTool("< " + file("whole.kss", 0, frame.size()), out), 0);
  EXPECT_THAT(out, HasSubstr("from QQ0SAT to QQ0GND: \n"));

  const struct {
    std::string args, message;
  } bad[] = {{"--colour", "unknown option '--colour'"},
             {"--format xml", "xml"},
             {(dir / "missing.kss").string(), "cannot read"},
             {(dir / "missing.kss").string(), "No such file or directory"}};
  for (const auto& c : bad) {
    EXPECT_EQ(RunTool(c.args + " 2>&1", out), 2) << c.args;
    EXPECT_THAT(out, HasSubstr(c.message));
    EXPECT_EQ(Lines(out).size(), 1u) << out;
  }
  EXPECT_EQ(RunTool("--help", out), 0);
  EXPECT_THAT(out, HasSubstr("usage: zevrinkiss-decode"));
}

TEST(DecodeToolTelemetryTest, JsonListsWhatEachFrameWrote) {
  const std::vector<std::string> lines =
      Lines(Decode(Concat({PowerRecordFrame(199), OtherStationFrame()}), OutputFormat::kJson));
  ASSERT_EQ(lines.size(), 2u);
  ExpectParts(lines[0],
              {"\"source\":\"QQ0SAT\",\"digipeaters\":[],\"control\":3,\"control_name\":\"UI\","
               "\"pid\":240,\"payload_start\":19,",
               "\"18\":\"5.00\"", "\"41\":\"-57\"",
               "\"colours\":{\"41\":\"red\",\"42\":\"green\",\"43\":\"green\",\"44\":\"red\"}",
               "\"boxes\":{\"frame_number\":\"42\",\"frame_type\":\"Housekeeping Data\","
               "\"counter\":\"7\",\"header_word\":\"256\"},\"gauges\":{}"});
  EXPECT_THAT(lines[1], HasSubstr("\"fields\":{},\"colours\":{},\"boxes\":{\"frame_type\":"
                                  "\"no TARVELO packets\"},\"gauges\":{}}"));
}

TEST(DecodeToolTelemetryTest, CsvHasAHeaderAndOneRowPerRecord) {
  const Bytes pass = sample::MakePass({.frames = 200});
  std::size_t records = 0;
  for (const std::string& line : Lines(Decode(pass, OutputFormat::kJson))) {
    // A decoded record always writes its first field: 0 (power) or 54 (system).
    records += line.find("\"fields\":{\"0\":") != std::string::npos ||
               line.find("\"fields\":{\"54\":") != std::string::npos;
  }
  const std::vector<std::string> rows = Lines(Decode(pass, OutputFormat::kCsv));
  ASSERT_GT(records, 20u);
  ASSERT_EQ(rows.size(), records + 1);
  EXPECT_TRUE(rows[0].starts_with("frame,record,Satellite Time,Weekday,Frame Type,Frame #,"));
  ExpectParts(rows[0], {",18 Battery Volts [V],", ",26 Temp Sensor 1 [\u00B0C],", ",37 COM Mode,"});
  for (const std::string& row : rows) {
    EXPECT_EQ(row.back(), '\r');  // CR LF line ends, as spreadsheets expect
    EXPECT_EQ(std::count(row.begin(), row.end(), ','),
              std::count(rows[0].begin(), rows[0].end(), ','))
        << row;
  }
}

}  // namespace
}  // namespace zevrin
