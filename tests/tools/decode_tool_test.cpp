// The zevrinkiss-decode program, run as a user would, on files the tests write.

#include "decode/decode_tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>

#include "outputs/export/json.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using Json = nlohmann::ordered_json;  // keeps the key order of each line
using sample::Bytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::Lines;
using testing::RunShell;

// Runs the program with `args` (a shell command line); `out` gets what it printed.
int RunTool(const std::string& args, std::string& out) {
  return RunShell(std::string(ZEVRIN_DECODE_BINARY) + " " + args, out);
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

// Every byte, at every place within and across the eight-byte words that are
// copied whole, reads back from a JSON parser as the Latin-1 character of its number.
TEST(JsonStringTest, EveryByteAnywhereReadsBackAsItsLatin1Character) {
  for (int b = 0; b < 256; ++b) {
    for (std::size_t at = 0; at < 19; ++at) {
      std::string text(19, 'a');
      text[at] = static_cast<char>(b);
      TextBuilder out;
      json::AppendLatin1String(out, text);
      std::string want = text.substr(0, at);
      if (b < 0x80) {
        want.push_back(static_cast<char>(b));
      } else {
        want += {static_cast<char>(0xC0 | (b >> 6)), static_cast<char>(0x80 | (b & 0x3F))};
      }
      want += text.substr(at + 1);
      const std::string_view written(out.data(), out.size());
      ASSERT_TRUE(Json::accept(written)) << b << " at " << at;
      ASSERT_EQ(Json::parse(written).get<std::string>(), want) << b << " at " << at;
    }
  }
}

// Output that cannot be written ends the program with one line on standard error
// and status 1: a full device, a full file system (a 64 KiB tmpfs in a mount
// namespace of its own where the test may mount one; a file size limit always),
// a reader that has gone while SIGPIPE is ignored, with endless input. What was
// written is the start of the output. With SIGPIPE as it comes, a reader that
// has gone ends the program through the signal, as ever.
TEST_F(DecodeToolTest, LostOutputEndsTheProgramWithStatusOne) {
  const std::string d = dir_.string(), pass = ZEVRIN_SAMPLE_PASS;
  const std::string tool = std::string(ZEVRIN_DECODE_BINARY) + " --format json ";
  // Runs `tool`'s arguments with its error output and exit status kept in d.
  const auto run = [&](const std::string& args) {
    return "{ " + tool + args + " 2>" + d + "/err; echo $? >" + d + "/status; }";
  };
  const std::string endless = "(trap '' PIPE; while cat " + pass + " 2>/dev/null; do :; done) | ";
  std::string full;
  ASSERT_EQ(RunTool("--format json " + pass, full), 0);
  struct Case {
    std::string name, script, reason;
    int status;
  };
  std::vector<Case> cases = {
      {"/dev/full", run(pass + " >/dev/full"), "No space left on device", 1},
      {"file size limit", "trap '' XFSZ; ulimit -f 128; " + run(pass + " >" + d + "/out"),
       "File too large", 1},
      {"reader gone, SIGPIPE ignored",
       endless + "(trap '' PIPE; " + run("") + ") | head -c 100 >/dev/null", "Broken pipe", 1},
      {"reader gone", endless + run("") + " | head -c 100 >/dev/null", "", 128 + SIGPIPE},
  };
  std::string probe;
  if (::geteuid() == 0 && RunShell("unshare -m true 2>/dev/null", probe) == 0) {
    std::filesystem::create_directory(dir_ / "fs");
    cases.push_back(
        {"64 KiB file system",
         "unshare -m sh -c 'mount --make-rprivate / && mount -t tmpfs -o size=64k none " + d +
             "/fs && " + run(pass + " >" + d + "/fs/out") + " && cp " + d + "/fs/out " + d +
             "/out'",
         "No space left on device", 1});
  } else {
    std::cout << "[ note     ] not allowed to mount a small file system here\n";
  }
  for (const Case& c : cases) {
    std::filesystem::remove(dir_ / "out");
    std::string out;
    dir_.Write("script", c.script);
    RunShell("timeout 20 sh " + d + "/script", out);
    EXPECT_EQ(dir_.Contents("status"), std::to_string(c.status) + "\n") << c.name;
    const std::string message = "zevrinkiss-decode: cannot write output: " + c.reason + "\n";
    EXPECT_EQ(dir_.Contents("err"), c.reason.empty() ? "" : message) << c.name;
    const std::string written = dir_.Contents("out");
    EXPECT_TRUE(full.starts_with(written) && written.size() < full.size()) << c.name;
  }
}

// ---------------------------------------------------------------------------
// The output of the sample pass and of a noise stream in every format, compared
// byte for byte with the output kept in tests/tools/golden. Setting
// ZEVRIN_WRITE_GOLDEN=1 writes those files afresh instead.

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes SamplePass() { return ReadFile(ZEVRIN_SAMPLE_PASS); }

// The frame bodies of a KISS stream with the escapes undone, cut at every FEND.
std::vector<Bytes> Bodies(const Bytes& stream) {
  std::vector<Bytes> bodies(1);
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (stream[i] == 0xC0) {
      if (!bodies.back().empty()) bodies.emplace_back();
    } else if (stream[i] == 0xDB && i + 1 < stream.size() && stream[i + 1] != 0xC0) {
      bodies.back().push_back(stream[++i] == 0xDC ? 0xC0 : 0xDB);
    } else {
      bodies.back().push_back(stream[i]);
    }
  }
  return bodies;
}

// The sample pass made rough: random values in every housekeeping position (the
// layout markers kept), random addresses and control fields, KISS command bytes
// and lengths, cut frames, lone escapes, junk between frames, overlong frames and
// plain random bytes. Its one source of chance is a seeded std::mt19937, whose
// output the C++ standard fixes, so it is the same stream on every machine.
Bytes NoiseStream() {
  std::mt19937 rng(20261206);
  const auto chance = [&](unsigned n) { return rng() % n == 0; };
  const auto random_byte = [&] { return static_cast<std::uint8_t>(rng() >> 24); };
  Bytes out;
  const auto junk = [&](std::size_t n, unsigned fend_one_in) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(chance(fend_one_in) ? 0xC0 : random_byte());
  };
  constexpr std::uint8_t kCommands[] = {0x00, 0x80, 0x09, 0x10};
  // Body index i is frame position i + 2: type letter 19, layout markers 23 and 87.
  constexpr std::size_t kLetter = 19, kMarkers[] = {23, 87};
  junk(16384, 40);
  for (Bytes body : Bodies(SamplePass())) {
    const unsigned kind = rng() % 8;
    if (kind >= 1 && kind <= 3) {
      for (std::size_t i = 17; i < body.size(); ++i) {
        if (i != kLetter && i != kMarkers[0] && i != kMarkers[1] && chance(2))
          body[i] = random_byte();
      }
    } else if (kind == 4) {
      for (std::size_t i = 1; i < std::min<std::size_t>(body.size(), 40); ++i) {
        if (chance(5)) body[i] = random_byte();
      }
    } else if (kind == 5) {
      body.resize(rng() % (body.size() + 1));
    } else if (kind == 6 && !body.empty()) {
      body[0] = kCommands[rng() % 4];
    }
    Bytes frame = sample::KissFrame(body.empty() ? 0 : body[0],
                                    Bytes(body.begin() + (body.empty() ? 0 : 1), body.end()));
    if (kind == 7) frame.resize(1 + rng() % (frame.size() - 1));  // cut off
    if (frame.size() > 1 && chance(10))
      frame.insert(frame.begin() + 1 + rng() % (frame.size() - 1), 0xDB);
    out.insert(out.end(), frame.begin(), frame.end());
    if (chance(16)) junk(1 + rng() % 30, 1000);
    if (chance(64)) {
      out.push_back(0xC0);
      for (int n = 520 + static_cast<int>(rng() % 200); n > 0; --n)
        out.push_back(static_cast<std::uint8_t>(0x01 + rng() % 0xBF));  // no FEND
      out.push_back(0xC0);
    }
  }
  junk(16384, 40);
  return out;
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

std::string GoldenPath(const std::string& name) {
  return std::string(ZEVRIN_GOLDEN_DIR) + "/" + name + ".gz";
}

std::string ReadGzip(const std::string& path) {
  std::string text;
  gzFile in = gzopen(path.c_str(), "rb");
  if (in == nullptr) return text;
  char buf[65536];
  for (int n; (n = gzread(in, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  gzclose(in);
  return text;
}

void WriteGzip(const std::string& path, const std::string& text) {
  gzFile out = gzopen(path.c_str(), "wb9");
  ASSERT_NE(out, nullptr) << path;
  EXPECT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())),
            static_cast<int>(text.size()));
  gzclose(out);
}

// Equal texts, or a failure that shows the first line where they part.
::testing::AssertionResult SameText(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  const auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  const auto line_start = [](const std::string& s, std::string::const_iterator at) {
    return s.rfind('\n', static_cast<std::size_t>(at - s.begin()) - (at == s.begin() ? 0 : 1));
  };
  const std::size_t from = line_start(got, g) == std::string::npos ? 0 : line_start(got, g) + 1;
  return ::testing::AssertionFailure()
         << got.size() << " bytes instead of " << want.size() << "; they part at byte " << from
         << " (line " << std::count(got.begin(), got.begin() + static_cast<long>(from), '\n') + 1
         << "):\n  got:  " << got.substr(from, 160) << "\n  want: " << want.substr(from, 160);
}

// The time stamps of monitor summary lines blanked, for output taken at any time.
std::string WithoutTimes(std::string text) {
  constexpr std::string_view kAfterTime = " UTC: [";
  constexpr std::size_t kTimeLength = 23;  // yyyy-mm-dd hh:mm:ss.mmm
  for (std::size_t at = text.find(kAfterTime); at != std::string::npos;
       at = text.find(kAfterTime, at + 1)) {
    if (at >= kTimeLength) text.replace(at - kTimeLength, kTimeLength, kTimeLength, '#');
  }
  return text;
}

TEST_F(DecodeToolTest, OutputOfThePassAndOfNoiseIsKeptByteForByte) {
  const bool write = std::getenv("ZEVRIN_WRITE_GOLDEN") != nullptr;
  const std::pair<const char*, Bytes> inputs[] = {{"pass", SamplePass()}, {"noise", NoiseStream()}};
  for (const auto& [input_name, input] : inputs) {
    ASSERT_GT(input.size(), 60000u) << input_name;
    dir_.Write("in.kss", std::string(input.begin(), input.end()));
    for (const Format& format : kFormats) {
      const std::string name = std::string(input_name) + "." + format.name;
      const std::string text = DecodeAtFixedTime(input, format.options);
      if (write) {
        WriteGzip(GoldenPath(name), text);
        continue;
      }
      const std::string golden = ReadGzip(GoldenPath(name));
      ASSERT_FALSE(golden.empty()) << GoldenPath(name);
      if (format.options.format == OutputFormat::kJson) {
        // Kept output is only as good as its shape: one valid object per frame logged.
        const std::vector<std::string> lines = Lines(golden);
        EXPECT_EQ(lines.size(), testing::LoggedFrames(input).size()) << name;
        EXPECT_TRUE(std::ranges::all_of(lines, [](const auto& l) { return Json::accept(l); }));
      }
      EXPECT_TRUE(SameText(text, golden)) << name;
      // The program itself, reading the file at its own pace and time.
      std::string out;
      EXPECT_EQ(RunTool(std::string(format.args) + " " + (dir_ / "in.kss").string(), out), 0);
      EXPECT_TRUE(SameText(WithoutTimes(out), WithoutTimes(golden))) << name << " (program)";
    }
  }
}

// The program reading a pipe that the test writes into, a piece at a time.
class LiveTool {
 public:
  explicit LiveTool(const char* format) {
    int in[2], out[2];
    EXPECT_EQ(::pipe(in), 0);
    EXPECT_EQ(::pipe(out), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      for (const int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
      ::execl(ZEVRIN_DECODE_BINARY, ZEVRIN_DECODE_BINARY, "--format", format,
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    in_ = in[1];
    out_ = out[0];
  }
  ~LiveTool() {
    if (in_ >= 0) ::close(in_);
    ::close(out_);
    ::waitpid(pid_, nullptr, 0);
  }

  void Write(std::span<const std::uint8_t> bytes) {
    EXPECT_EQ(::write(in_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the program has printed so far, once it holds `size` bytes; or after
  // `wait_ms` without output, for a check that nothing more came.
  const std::string& Output(std::size_t size, int wait_ms = 10000) {
    while (printed_.size() < size) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, wait_ms) <= 0) break;
      char buf[65536];
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) break;
      printed_.append(buf, static_cast<std::size_t>(n));
    }
    return printed_;
  }
  // Ends the input and returns the exit status.
  int Finish() {
    ::close(std::exchange(in_, -1));
    Output(std::string::npos);
    int status = 0;
    ::waitpid(std::exchange(pid_, -1), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string printed_;
};

// A live stream shows every frame as soon as its closing FEND has arrived: the
// output for the frames so far, whole, and not a byte of the frame that is still
// open.
TEST_F(DecodeToolTest, LiveInputThroughAPipeShowsEachFrameAtOnce) {
  const std::vector<Bytes> frames = [] {
    std::vector<Bytes> all = testing::LoggedFrames(SamplePass());
    all.resize(12);
    return all;
  }();
  for (const Format& format : kFormats) {
    if (format.options.raw_view) continue;
    LiveTool tool(format.options.format == OutputFormat::kJson  ? "json"
                  : format.options.format == OutputFormat::kCsv ? "csv"
                                                                : "monitor");
    Bytes sent;
    // What comes before any frame (the CSV header row) shows at once as well.
    const std::string head = DecodeAtFixedTime(sent, format.options);
    EXPECT_EQ(tool.Output(head.size()), head) << format.name;
    for (const Bytes& frame : frames) {
      // The frame in two pieces: the first shows nothing new.
      const std::size_t half = frame.size() / 2;
      const std::size_t before = DecodeAtFixedTime(sent, format.options).size();
      tool.Write(std::span(frame).first(half));
      EXPECT_EQ(tool.Output(before + 1, 50).size(), before) << format.name;
      tool.Write(std::span(frame).subspan(half));
      sent.insert(sent.end(), frame.begin(), frame.end());
      const std::string want = DecodeAtFixedTime(sent, format.options);
      EXPECT_TRUE(SameText(WithoutTimes(tool.Output(want.size())), WithoutTimes(want)))
          << format.name << " after " << sent.size() << " bytes";
    }
    EXPECT_EQ(tool.Finish(), 0);
  }
}

}  // namespace
}  // namespace zevrin
