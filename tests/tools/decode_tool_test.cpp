#include "decode/decode_tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

std::string Decode(const Bytes& input, DecodeToolOptions options, std::size_t chunk = 4096) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  const testing::FixedClock clock;
  {
    DecodeTool tool(options, out, clock);
    for (std::size_t pos = 0; pos < input.size(); pos += chunk) {
      tool.Feed(
          std::span<const std::uint8_t>(input.data() + pos, std::min(chunk, input.size() - pos)));
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

TEST(DecodeToolTest, JsonHasOneValidObjectPerFrameWithTheAgreedKeys) {
  const Bytes pass = sample::MakePass({.frames = 300});
  const std::vector<std::string> lines = Lines(Decode(pass, {OutputFormat::kJson, false}, 333));
  ASSERT_EQ(lines.size(), testing::LoggedFrames(pass).size());
  const char* keys[] = {
      "length",       "type",  "destination",   "source",        "digipeaters", "control",
      "control_name", "pid",   "payload_start", "payload_count", "header_text", "control_line",
      "dump",         "ascii", "fields",        "colours",       "boxes",       "gauges"};
  for (const std::string& line : lines) {
    ASSERT_TRUE(testing::JsonCheck::IsValid(line)) << line;
    std::size_t at = 0;
    for (const char* key : keys) {
      std::string quoted = "\"";
      quoted.append(key).append("\":");
      const std::size_t found = line.find(quoted, at);
      ASSERT_NE(found, std::string::npos) << key << " in " << line;
      at = found;
    }
  }
  EXPECT_THAT(lines[0], HasSubstr("\"source\":\"QQ0SAT\",\"digipeaters\":[],\"control\":3,"
                                  "\"control_name\":\"UI\",\"pid\":240,\"payload_start\":19,"));
}

TEST(DecodeToolTest, JsonOfOddFrames) {
  sample::Ax25Frame rr = sample::SatelliteFrame({});
  rr.control = 0x31;
  rr.pid = -1;
  sample::Ax25Frame relayed = sample::SatelliteFrame({'"', '\\', 0x01, 0xE9});
  relayed.digipeaters = {{"QQ9RLY", 1, true}, {"WIDE2", 2, false}};
  Bytes stream = sample::KissFrame(rr);
  const Bytes second = sample::KissFrame(relayed);
  stream.insert(stream.end(), second.begin(), second.end());
  stream.insert(stream.end(), {0xC0, 0x00, 0x41, 0xC0});

  const std::vector<std::string> lines = Lines(Decode(stream, {OutputFormat::kJson, false}));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_THAT(lines[0], HasSubstr("\"pid\":null,\"payload_start\":18,\"payload_count\":0,"));
  EXPECT_THAT(lines[0],
              HasSubstr("\"control_line\":\"ctrl: 49   PID: - {RR1-}   0 Payload Bytes\""));
  EXPECT_THAT(lines[0], HasSubstr("\"dump\":[],\"ascii\":\"\""));
  EXPECT_THAT(lines[1], HasSubstr("\"digipeaters\":[\"QQ9RLY-1*\",\"WIDE2-2\"]"));
  // Quote, backslash and control characters escaped; 0xE9 as the character é in UTF-8.
  EXPECT_THAT(lines[1], HasSubstr("\"ascii\":\"\\\"\\\\.\xC3\xA9\""));
  EXPECT_THAT(lines[2], HasSubstr("\"payload_count\":-78,"));
  for (const std::string& line : lines) EXPECT_TRUE(testing::JsonCheck::IsValid(line)) << line;
}

TEST(DecodeToolTest, JsonIsValidForRandomBytes) {
  std::mt19937 rng(99);
  Bytes noise(200000);
  for (auto& b : noise) b = rng() % 50 == 0 ? 0xC0 : static_cast<std::uint8_t>(rng());
  const std::vector<std::string> lines = Lines(Decode(noise, {OutputFormat::kJson, false}, 17));
  EXPECT_GT(lines.size(), 1000u);
  for (const std::string& line : lines) ASSERT_TRUE(testing::JsonCheck::IsValid(line)) << line;
}

TEST(DecodeToolTest, MonitorFormatPrintsTheMonitorEntryWithNewlines) {
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({1, 2, 3}));
  EXPECT_EQ(Decode(frame, {OutputFormat::kMonitor, false}),
            "\n2009-06-20 14:05:09.437 UTC: [22 Bytes KISS Frame (without CRC)]\n"
            "ctrl: 3   PID: F0 {UI}   3 Payload Bytes\n"
            "from QQ0SAT to QQ0GND: \n"
            " 1   > 01 02 03 \n"
            // The counter and header word would lie beyond the frame: not shown.
            "  Frame #: 258\n"
            "  Frame Type: unknown Data Frame\n");
  const std::string raw = Decode(frame, {OutputFormat::kMonitor, true});
  EXPECT_THAT(raw, HasSubstr("\n 1   > C0 00 "));
  EXPECT_THAT(raw, HasSubstr("\n 21  > 03 C0 \n"));
  EXPECT_EQ(raw.find('\r'), std::string::npos);
}

// The command-line program, run as a user would.
class DecodeCommandTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // Runs the shell command line; returns the exit status and fills `out`.
  int Run(const std::string& args, std::string& out) {
    const std::string command = std::string(ZEVRIN_DECODE_BINARY) + " " + args;
    std::FILE* p = ::popen(command.c_str(), "r");
    out.clear();
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  testing::TempDir dir_{"decode-cli"};
};

TEST_F(DecodeCommandTest, FilesAreReadAsOneStreamAndStandardInputWorks) {
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({1, 2, 3}));
  const std::string a = Write("a.kss", Bytes(frame.begin(), frame.begin() + 9));
  const std::string b = Write("b.kss", Bytes(frame.begin() + 9, frame.end()));
  std::string out;
  ASSERT_EQ(Run("--format json " + a + " " + b, out), 0);
  EXPECT_EQ(Lines(out).size(), 1u);
  EXPECT_THAT(out, HasSubstr("\"payload_count\":3"));

  ASSERT_EQ(Run("--format=json - < " + a + " " + b, out), 0);
  EXPECT_EQ(Lines(out).size(), 1u);
  ASSERT_EQ(Run("< " + Write("whole.kss", frame), out), 0);
  EXPECT_THAT(out, HasSubstr("from QQ0SAT to QQ0GND: \n"));
}

TEST_F(DecodeCommandTest, BadArgumentsFailWithOneLineAndStatusTwo) {
  std::string out;
  EXPECT_EQ(Run("--colour 2>&1", out), 2);
  EXPECT_THAT(out, HasSubstr("unknown option '--colour'"));
  EXPECT_EQ(Lines(out).size(), 1u);
  EXPECT_EQ(Run("--format xml 2>&1", out), 2);
  EXPECT_THAT(out, HasSubstr("xml"));
  EXPECT_EQ(Run((dir_ / "missing.kss").string() + " 2>&1", out), 2);
  EXPECT_THAT(out, HasSubstr("cannot read"));
  EXPECT_THAT(out, HasSubstr("No such file or directory"));
  EXPECT_EQ(Lines(out).size(), 1u);
  EXPECT_EQ(Run("--help", out), 0);
  EXPECT_THAT(out, HasSubstr("usage: zevrinkiss-decode"));
}

Bytes PowerRecordFrame(std::uint8_t heater_on_threshold) {
  Bytes payload = sample::SatellitePayload(42, 'S', 7, 256, 90);
  payload[6] = 0x29;
  payload[27] = 255;  // battery 5.00 V
  payload[42] = heater_on_threshold;
  payload[43] = 200;
  payload[44] = 178;
  payload[45] = 0;
  payload[70] = 0x14;
  return sample::KissFrame(sample::SatelliteFrame(payload));
}

TEST(DecodeToolTelemetryTest, JsonListsWhatEachFrameWrote) {
  Bytes stream = PowerRecordFrame(199);
  sample::Ax25Frame other = sample::SatelliteFrame({1, 2, 3});
  other.source = {"QQ2XYZ", 0, false};
  const Bytes second = sample::KissFrame(other);
  stream.insert(stream.end(), second.begin(), second.end());

  const std::vector<std::string> lines = Lines(Decode(stream, {OutputFormat::kJson, false}));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[0], HasSubstr("\"18\":\"5.00\""));
  EXPECT_THAT(lines[0], HasSubstr("\"41\":\"-57\""));
  EXPECT_THAT(
      lines[0],
      HasSubstr("\"colours\":{\"41\":\"red\",\"42\":\"green\",\"43\":\"green\",\"44\":\"red\"}"));
  EXPECT_THAT(lines[0],
              HasSubstr("\"boxes\":{\"frame_number\":\"42\",\"frame_type\":\"Housekeeping Data\","
                        "\"counter\":\"7\",\"header_word\":\"256\"}"));
  EXPECT_THAT(lines[0], HasSubstr("\"gauges\":{}"));
  EXPECT_THAT(
      lines[1],
      HasSubstr("\"fields\":{},\"colours\":{},\"boxes\":{\"frame_type\":\"no TARVELO packets\"},"
                "\"gauges\":{}}"));
}

TEST(DecodeToolTelemetryTest, CsvHasAHeaderAndOneRowPerRecord) {
  const Bytes pass = sample::MakePass({.frames = 200});
  const std::string json = Decode(pass, {OutputFormat::kJson, false});
  std::size_t records = 0;
  for (const std::string& line : Lines(json)) {
    // A decoded record always writes its first field: 0 (power) or 54 (system).
    if (line.find("\"fields\":{\"0\":") != std::string::npos ||
        line.find("\"fields\":{\"54\":") != std::string::npos) {
      ++records;
    }
  }
  const std::vector<std::string> rows = Lines(Decode(pass, {OutputFormat::kCsv, false}));
  ASSERT_GT(records, 20u);
  ASSERT_EQ(rows.size(), records + 1);
  EXPECT_THAT(rows[0],
              ::testing::StartsWith("frame,record,Satellite Time,Weekday,Frame Type,Frame #,"));
  EXPECT_THAT(rows[0], HasSubstr(",18 Battery Volts [V],"));
  EXPECT_THAT(rows[0], HasSubstr(",26 Temp Sensor 1 [\xC2\xB0"
                                 "C],"));
  EXPECT_THAT(rows[0], HasSubstr(",37 COM Mode,"));
  const auto columns = [](const std::string& row) {
    return std::count(row.begin(), row.end(), ',');
  };
  for (const std::string& row : rows) {
    EXPECT_EQ(row.back(), '\r');  // CR LF line ends, as spreadsheets expect
    EXPECT_EQ(columns(row), columns(rows[0])) << row;
  }
}

TEST(DecodeToolTelemetryTest, MonitorShowsTheDecodedValuesOfSatelliteFrames) {
  const std::string text = Decode(PowerRecordFrame(200), {OutputFormat::kMonitor, false});
  EXPECT_THAT(text, HasSubstr("\n  Frame #: 42\n  Frame Type: Housekeeping Data\n"));
  EXPECT_THAT(text, HasSubstr("\n  Battery Volts: 5.00 V\n"));
  EXPECT_THAT(text, HasSubstr("\n  Heater ON Temp: -56 \xC2\xB0"
                              "C  [green]\n"));
  EXPECT_THAT(text, HasSubstr("\n  Emergency Threshold: 0.00 V  [red]\n"));

  sample::Ax25Frame other = sample::SatelliteFrame({1, 2, 3});
  other.source = {"QQ2XYZ", 0, false};
  EXPECT_EQ(Decode(sample::KissFrame(other), {OutputFormat::kMonitor, false}).find("  Frame Type"),
            std::string::npos);
}

}  // namespace
}  // namespace zevrin
