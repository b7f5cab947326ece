// The zevrinkiss-decode program, run as a user would, on files the tests write.

#include "decode/decode_tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "sample/sample_pass.h"
#include "support/archive_db.h"
#include "support/fakes.h"
#include "support/http_recorder.h"
#include "support/kiss_server.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using Json = nlohmann::ordered_json;  // keeps the key order of each line
using sample::Bytes;
using ::testing::ElementsAre;
using testing::Lines;
using testing::RunShell;

class DecodeToolTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  testing::ToolRun RunTool(const std::string& args) const { return testing::RunDecode(dir_, args); }

  testing::TempDir dir_{"decode-tool"};
};

// Files are read in order as one stream; "-" is standard input, as is no file.
// Arguments that cannot work end the program at once with status 2 and one line of
// reason: nothing else is printed, read, connected to or written.
TEST_F(DecodeToolTest, InputsAreOneStreamAndBadArgumentsEndWithStatusTwo) {
  const Bytes frame = sample::KissFrame(sample::SatelliteFrame({1, 2, 3}));
  dir_.Write("a.kss", std::string(frame.begin(), frame.begin() + 9));
  dir_.Write("b.kss", std::string(frame.begin() + 9, frame.end()));
  dir_.WriteBytes("in.kss", frame);
  const std::string notes = "just some text that is not a database, long enough to be looked at";
  dir_.Write("notes.txt", notes);
  const std::string a = Path("a.kss"), b = Path("b.kss"), in = Path("in.kss");
  const std::string server =
      "--connect 127.0.0.1:" + std::to_string(testing::KissServer::FreePort());
  // Sharing settings that can never share end the run before the archive is made.
  const std::string share = "--archive " + Path("h.sqlite") + " --share " + Path("");
  dir_.Write("0", "server=http://h\ntoken=a\rb");
  dir_.Write("1", "server=file:///etc/passwd");
  const struct {
    std::string args;
    int status;
    std::string says;
  } cases[] = {
      {"--format json " + a + " " + b, 0, "\"payload_count\":3"},
      {"--format=json - " + b + " < " + a, 0, "\"payload_count\":3"},
      {"--format json < " + in, 0, "\"payload_count\":3"},
      {"--help", 0, "usage: zevrinkiss-decode"},
      {"--colour " + in, 2, "unknown option '--colour'"},
      {"--format xml " + in, 2, "unknown format 'xml'"},
      {in + " " + Path("none"), 2, "cannot read " + Path("none") + ": No such file or directory"},
      {"--archive " + Path("notes.txt") + " " + in, 2, "not a database"},
      {"--archive " + Path("no/such/dir/a.sqlite") + " " + in, 2, "cannot use the archive"},
      {in + " --archive", 2, "--archive needs a value"},
      {"--start-time yesterday " + in, 2, "--start-time takes a UTC time"},
      {"--baud 0 " + in, 2, "--baud takes a line rate"},
      {"--connect 127.0.0.1", 2, "is no HOST:PORT"},
      {"--connect", 2, "--connect needs a value"},
      {"--serial /dev/null", 2, "not a serial device"},
      {"--serial /dev/null --speed 12345", 2, "unsupported speed"},
      {"--speed 9600", 2, "--speed needs --serial"},
      {server + " --serial /dev/null", 2, "exclude each other"},
      {server + " " + in, 2, "reads no files"},
      {server + " --raw-log " + Path("no/x.kss"), 2, "cannot write the raw log"},
      {share + "0 " + in, 2, "API token with a line break"},
      {share + "1 " + in, 2, "not an http(s) address: file:///etc/passwd"},
      {"--archive " + Path("h.sqlite") + " --influx http://127.0.0.1:8086/query?db=x " + in, 2,
       "not an InfluxDB write address"},
      {"--mqtt http://127.0.0.1 " + in, 2, "mqtt:// or mqtts://"},
      {"--alarms " + Path("none") + " " + in, 2, "cannot read the alarm rules " + Path("none")},
      {in + " --alarms=", 2, "--alarms needs a rules file or 'default'"},
  };
  for (const auto& c : cases) {
    const testing::ToolRun run = RunTool(c.args);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_THAT(c.status == 0 ? run.out : run.err, ::testing::HasSubstr(c.says)) << c.args;
    EXPECT_TRUE(c.status == 0 || (run.out.empty() && Lines(run.err).size() == 1))
        << c.args << ": " << run.err;
  }
  EXPECT_EQ(dir_.Contents("notes.txt"), notes);
  EXPECT_FALSE(std::filesystem::exists(Path("h.sqlite")));
}

// The default rules on a pass in which the battery runs down through both of the
// satellite's thresholds and back: the warning at the third record below
// powersafe, the critical alarm at the first below emergency, each cleared 0.05 V
// above its threshold, at the recording's times. Each is told on standard error
// and as a JSON line just before the frame that caused it.
TEST_F(DecodeToolTest, AlarmsOfAPassAreToldAtTheRecordingsTimes) {
  const Bytes pass = sample::MakePass({.battery_dip = true});
  dir_.WriteBytes("dip.kss", pass);
  const std::string args = " --format json --start-time 2026-12-06T13:12:00Z " + Path("dip.kss");
  const testing::ToolRun run = RunTool("--alarms default" + args);
  ASSERT_EQ(run.status, 0);
  const std::string at = "zevrinkiss-decode: alarm ";
  EXPECT_THAT(Lines(run.err),
              ElementsAre(at + "raised at 2026-12-06 13:12:26.381 UTC: warning: Battery below "
                               "powersafe (battery_volts 3.45)",
                          at + "raised at 2026-12-06 13:12:32.653 UTC: critical: Battery below "
                               "emergency (battery_volts 3.24)",
                          at + "cleared at 2026-12-06 13:12:45.015 UTC: critical: Battery below "
                               "emergency (battery_volts 3.39)",
                          at + "cleared at 2026-12-06 13:12:51.979 UTC: warning: Battery below "
                               "powersafe (battery_volts 3.59)"));
  std::vector<Json> alarms;
  const std::vector<std::string> lines = Lines(run.out);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    Json line = Json::parse(lines[i]);
    if (!line.contains("alarm")) continue;
    ASSERT_LT(i + 1, lines.size());
    EXPECT_EQ(Json::parse(lines[i + 1])["boxes"]["frame_type"], "Housekeeping Data");
    alarms.push_back(std::move(line));
  }
  ASSERT_EQ(alarms.size(), 4u);
  EXPECT_EQ(lines.size(), testing::LoggedFrames(pass).size() + 4);
  EXPECT_EQ(alarms[1].dump(), R"({"alarm":"raised","severity":"critical","message":"Battery below )"
                              R"(emergency","rule":"battery_volts < emergency_threshold_volts )"
                              R"(clear >= emergency_threshold_volts + 0.05 : critical \"Battery )"
                              R"(below emergency\"","subject":"battery_volts","value":3.24,"time":)"
                              R"("2026-12-06 13:12:32.653","time_ms":1796562752653,)"
                              R"("frame_received_ms":1796562752653})");

  // The archive keeps each alarm once, however often the recording goes in, with
  // the frame that raised it.
  for (int again = 0; again < 2; ++again)
    ASSERT_EQ(RunTool("--alarms default --archive " + Path("a.sqlite") + args).status, 0);
  EXPECT_EQ(testing::Db(Path("a.sqlite"))
                .Rows("SELECT severity, raised, cleared, clear_value, frame_id > 0 FROM alarms"),
            (std::vector<std::vector<std::string>>{
                {"warning", "2026-12-06 13:12:26.381", "2026-12-06 13:12:51.979", "3.59", "1"},
                {"critical", "2026-12-06 13:12:32.653", "2026-12-06 13:12:45.015", "3.39", "1"}}));
  // One still raised at the end of the recording ends with its last frame.
  dir_.Write("always.ini", "battery_volts > 0 : watch\n");
  ASSERT_EQ(
      RunTool("--alarms " + Path("always.ini") + " --archive " + Path("b.sqlite") + args).status,
      0);
  EXPECT_EQ(testing::Db(Path("b.sqlite"))
                .One("SELECT cleared_ms = (SELECT max(received_ms) FROM frames) AND clear_value "
                     "IS NULL FROM alarms"),
            "1");

  // A replay posts the raise and the clear to the webhook only when asked to.
  testing::HttpRecorder server;  // answers 201
  dir_.Write("hook.ini", "notify " + server.url("/t") + "\nbattery_volts < 3.3 : critical\n");
  ASSERT_EQ(RunTool("--alarms " + Path("hook.ini") + args).status, 0);
  EXPECT_EQ(server.count(), 0u);
  ASSERT_EQ(RunTool("--alarms " + Path("hook.ini") + " --notify" + args).status, 0);
  EXPECT_EQ(server.count(), 2u);
}

// Output that cannot be written ends the program with one line on standard error
// and status 1: a full device, a file size limit, a reader that has gone while
// SIGPIPE is ignored, with endless input. What was written is the start of the
// output. With SIGPIPE as it comes, a reader that has gone ends the program
// through the signal, as ever.
TEST_F(DecodeToolTest, LostOutputEndsTheProgramWithStatusOne) {
  const std::string d = dir_.string(), pass = ZEVRIN_SAMPLE_PASS;
  const std::string tool = std::string(ZEVRIN_DECODE_BINARY) + " --format json ";
  // Runs `tool`'s arguments with its error output and exit status kept in d.
  const auto run = [&](const std::string& args) {
    return "{ " + tool + args + " 2>" + d + "/err; echo $? >" + d + "/status; }";
  };
  const std::string endless = "(trap '' PIPE; while cat " + pass + " 2>/dev/null; do :; done) | ";
  const testing::ToolRun full = RunTool("--format json " + pass);
  ASSERT_EQ(full.status, 0);
  struct Case {
    std::string name, script, reason;
    int status;
  };
  const Case cases[] = {
      {"/dev/full", run(pass + " >/dev/full"), "No space left on device", 1},
      {"file size limit", "trap '' XFSZ; ulimit -f 128; " + run(pass + " >" + d + "/out"),
       "File too large", 1},
      {"reader gone, SIGPIPE ignored",
       endless + "(trap '' PIPE; " + run("") + ") | head -c 100 >/dev/null", "Broken pipe", 1},
      {"reader gone", endless + run("") + " | head -c 100 >/dev/null", "", 128 + SIGPIPE},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir_ / "out");
    std::string out;
    dir_.Write("script", c.script);
    RunShell("timeout 20 sh " + d + "/script", out);
    EXPECT_EQ(dir_.Contents("status"), std::to_string(c.status) + "\n") << c.name;
    const std::string message = "zevrinkiss-decode: cannot write output: " + c.reason + "\n";
    EXPECT_EQ(dir_.Contents("err"), c.reason.empty() ? "" : message) << c.name;
    const std::string written = dir_.Contents("out");
    EXPECT_TRUE(full.out.starts_with(written) && written.size() < full.out.size()) << c.name;
  }
}

// ---------------------------------------------------------------------------
// The output of the sample pass and of a noise stream in every format, compared
// byte for byte with the output kept in tests/tools/golden. Setting
// ZEVRIN_WRITE_GOLDEN=1 writes those files afresh instead.

std::string GoldenPath(const std::string& name) {
  return std::string(ZEVRIN_GOLDEN_DIR) + "/" + name + ".gz";
}

// What a shell command prints, as bytes.
Bytes Printed(const std::string& command) {
  std::string out;
  RunShell(command, out);
  return Bytes(out.begin(), out.end());
}

struct Format {
  const char* name;
  const char* args;
  DecodeToolOptions options;
};
constexpr Format kFormats[] = {
    {"monitor", "", {OutputFormat::kMonitor, false}},
    {"raw-view", "--raw-view", {OutputFormat::kMonitor, true}},
    {"json", "--format json", {OutputFormat::kJson, false}},
    {"csv", "--format csv", {OutputFormat::kCsv, false}},
};

// The decoder's output for `input` fed in pieces of random size, at a fixed time.
std::string DecodeAtFixedTime(const Bytes& input, const DecodeToolOptions& options) {
  const testing::FixedClock clock;
  std::FILE* out = std::tmpfile();
  {
    DecodeTool tool(options, out, clock);
    std::mt19937 rng(3);
    for (std::size_t pos = 0, n; pos < input.size(); pos += n) {
      n = std::min<std::size_t>(input.size() - pos, 1 + rng() % 3000);
      tool.Feed(std::span<const std::uint8_t>(input.data() + pos, n));
    }
    tool.Flush();
  }
  std::string text(static_cast<std::size_t>(::lseek(::fileno(out), 0, SEEK_END)), '\0');
  EXPECT_EQ(::pread(::fileno(out), text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
  std::fclose(out);
  return text;
}

// The time stamps of monitor summary lines and the times of JSON objects (and
// where they came from) blanked, for output taken at any time.
std::string WithoutTimes(const std::string& text) {
  constexpr std::size_t kTimeLength = 23;  // yyyy-mm-dd hh:mm:ss.mmm
  std::string out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line); out += line + '\n') {
    if (line.starts_with("{\"received_ms\":"))  // up to the end of the source's name
      line.erase(1, line.find("\",", line.find("\"time_source\":\"") + 15) + 1);
    for (std::size_t at = line.find(" UTC: ["); at != std::string::npos;
         at = line.find(" UTC: [", at + 1))
      if (at >= kTimeLength) line.replace(at - kTimeLength, kTimeLength, kTimeLength, '#');
  }
  return out;
}

TEST_F(DecodeToolTest, OutputOfThePassAndOfNoiseIsKeptByteForByte) {
  const bool write = std::getenv("ZEVRIN_WRITE_GOLDEN") != nullptr;
  // The noise is the sample pass made rough, kept fixed beside its outputs: random
  // values in every housekeeping position (the layout markers kept), random
  // addresses and control fields, KISS command bytes and lengths, cut frames, lone
  // escapes, junk between frames, overlong frames and plain random bytes.
  const std::pair<const char*, Bytes> inputs[] = {
      {"pass", Printed(std::string("cat ") + ZEVRIN_SAMPLE_PASS)},
      {"noise", Printed("gzip -dc " + GoldenPath("noise.kss"))}};
  for (const auto& [input_name, input] : inputs) {
    ASSERT_GT(input.size(), 60000u) << input_name;
    dir_.WriteBytes("in.kss", input);
    for (const Format& format : kFormats) {
      const std::string name = std::string(input_name) + "." + format.name;
      const std::string text = DecodeAtFixedTime(input, format.options);
      std::string golden;
      if (write) {
        dir_.Write("golden", text);
        EXPECT_EQ(RunShell("gzip -9nc <" + Path("golden") + " >" + GoldenPath(name), golden), 0);
        continue;
      }
      RunShell("gzip -dc " + GoldenPath(name), golden);
      ASSERT_FALSE(golden.empty()) << GoldenPath(name);
      EXPECT_EQ(text, golden) << name;
      // The program itself, reading the file at its own pace and time.
      const testing::ToolRun run = RunTool(std::string(format.args) + " " + Path("in.kss"));
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(WithoutTimes(run.out), WithoutTimes(golden)) << name << " (program)";
    }
  }
}

}  // namespace
}  // namespace zevrin
