#include "decode/decode_tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

namespace zevrin {
namespace {

using ::testing::HasSubstr;
using testing::Bytes;

std::string Decode(const Bytes& input, DecodeToolOptions options, std::size_t chunk = 4096) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  const testing::FixedClock clock;
  {
    DecodeTool tool(options, out, clock);
    for (std::size_t pos = 0; pos < input.size(); pos += chunk) {
      tool.Feed(std::span<const std::uint8_t>(input.data() + pos, std::min(chunk, input.size() - pos)));
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

std::size_t CountFrames(const Bytes& stream) {
  struct Counter : FrameHandler {
    void HandOver(std::span<const std::uint8_t>, ReceiveState&) override { ++n; }
    std::size_t n = 0;
  } counter;
  testing::FixedClock clock;
  testing::RecordingView view;
  ReceiveState state;
  ReceivePath path(state, clock, view);
  path.SetFrameHandler(&counter);
  path.Receive(stream);
  return counter.n;
}

TEST(DecodeToolTest, JsonHasOneValidObjectPerFrameWithTheAgreedKeys) {
  const Bytes pass = sample::MakePass({.frames = 300});
  const std::vector<std::string> lines = Lines(Decode(pass, {OutputFormat::kJson, false}, 333));
  ASSERT_EQ(lines.size(), CountFrames(pass));
  const char* keys[] = {"length",        "type",          "destination", "source",       "digipeaters",
                        "control",       "control_name",  "pid",         "payload_start", "payload_count",
                        "header_text",   "control_line",  "dump",        "ascii",        "fields",
                        "colours",       "boxes",         "gauges"};
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
  EXPECT_THAT(lines[0], HasSubstr("\"control_line\":\"ctrl: 49   PID: - {RR1-}   0 Payload Bytes\""));
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
            " 1   > 01 02 03 \n");
  const std::string raw = Decode(frame, {OutputFormat::kMonitor, true});
  EXPECT_THAT(raw, HasSubstr("\n 1   > C0 00 "));
  EXPECT_THAT(raw, HasSubstr("\n 21  > 03 C0 \n"));
  EXPECT_EQ(raw.find('\r'), std::string::npos);
}

// The command-line program, run as a user would.
class DecodeCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("decode-cli-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
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

  std::filesystem::path dir_;
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

}  // namespace
}  // namespace zevrin
