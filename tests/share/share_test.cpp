// Sharing frames with telemetry servers: the form, the settings, the queue and the
// sender thread, against a web server the test runs on 127.0.0.1.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "archive/archive_support.h"
#include "base/version.h"
#include "outputs/share/frame_sharer.h"
#include "outputs/share/share_sender.h"
#include "outputs/share/sids.h"
#include "sample/sample_pass.h"
#include "support/http_recorder.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::HttpRecorder;

// Whatever a test configures, no request leaves this computer.
[[maybe_unused]] const int kLoopbackOnly = ::setenv(kLoopbackOnlyVariable, "1", 1);

constexpr std::int64_t kStartMs = 1245506709437;
const ShareStation kStation = {"DL1ABC", 49.73145, 8.95564, 99999};

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t b : bytes)
    text += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return text;
}

// The satellite's frame number `n`.
sample::Ax25Frame Numbered(int n) {
  return sample::SatelliteFrame(sample::SatellitePayload(n, 'S', 1, 2, 30));
}

TEST(ShareForm, TimesPositionsAndEscapesAreWhatServersParse) {
  EXPECT_EQ(SidsTimestamp({951782400, 999}), "2000-02-29T00:00:00.999Z");
  const std::pair<double, const char*> longitudes[] = {
      {-71.25, "71.25000W"}, {-0.000001, "0.00000E"}, {-179.999996, "180.00000W"}};
  for (const auto& [degrees, text] : longitudes) EXPECT_EQ(SidsLongitude(degrees), text);
  EXPECT_EQ(SidsLatitude(-33.5), "33.50000S");
  EXPECT_EQ(SidsForm({"DL1 ABC&", 49.73145, -71.25, 42}, {1245506709, 7}, "C0FF"),
            "noradID=42&source=DL1+ABC%26&timestamp=2009-06-20T14%3A05%3A09.007Z&frame=C0FF"
            "&locator=longLat&longitude=71.25000W&latitude=49.73145N&version=" +
                std::string(kVersion));
  EXPECT_EQ(FormEncode("/+\xC3\xA9~"), "%2F%2B%C3%A9~");
}

// A change to a frame of the satellite, and what is shared then: the frame as it
// was, the changed frame, or nothing.
enum class Shared { kAsItWas, kChanged, kNothing };

TEST(ShareForm, OnlyTheSatellitesDataFramesAreSharedWithoutEscapesOrCrc) {
  using enum Shared;
  using Frame = sample::Ax25Frame;
  const Frame plain = sample::SatelliteFrame({0x00, 0x01, 'S', 0xC0, 0xDB, 0xDC, 7});
  const std::pair<void (*)(Frame&), Shared> cases[] = {
      {[](Frame&) {}, kAsItWas},
      {[](Frame& f) { f.command = 0x10; }, kAsItWas},  // TNC port 1
      {[](Frame& f) { f.command = 0x09; }, kNothing},  // a TIME frame
      {[](Frame& f) { f.source.ssid = 1; }, kNothing},
      {[](Frame& f) { f.source.callsign = "QQ2XYZ"; }, kNothing},
      {[](Frame& f) {
         f.digipeaters.push_back({"QQ9RLY", 1, true});
       },
       kChanged},
      {[](Frame& f) {  // SMACK: the serial link's CRC is not the frame's
         f.command = 0x80;
         f.payload.insert(f.payload.end(), {0xAB, 0xCD});
       },
       kAsItWas}};
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    Frame changed = plain;
    cases[k].first(changed);
    const Shared shared = cases[k].second;
    UnescapedFrame frame;
    FrameHeader decoded;
    DecodeFrameHeader(sample::KissFrame(changed), frame, decoded);
    EXPECT_EQ(IsSharedFrame(frame, decoded) ? std::optional(SidsFrameHex(frame)) : std::nullopt,
              shared == kNothing
                  ? std::nullopt
                  : std::optional(Hex(sample::EncodeAx25(shared == kChanged ? changed : plain))))
        << k;
  }
}

TEST(ShareSettingsFile, SettingsSurviveTheFileAndEveryGapIsNamed) {
  testing::TempDir dir("share-settings");
  const std::string path = (dir / "new" / "zevrinkiss-share.ini").string();  // folder made
  const std::optional<ShareSettings> defaults = ReadShareSettings(path);
  ASSERT_TRUE(defaults);
  EXPECT_THAT(defaults->servers, ElementsAre(ShareServer{std::string(kSatnogsDbUrl), ""}));
  EXPECT_EQ(SharingOffReason(*defaults), "not turned on");

  // A settings file that a write refuses is left alone; what a file holds reaches
  // the programs of the decode tool's and the desktop program's sharing tests.
  ShareSettings settings{.enabled = true, .station = kStation, .servers = {{"HTTP://h/", "t"}}};
  ASSERT_EQ(WriteShareSettings(path, settings), std::nullopt);
  settings.station.callsign = "DL1\nenabled=0";
  EXPECT_NE(WriteShareSettings(path, settings), std::nullopt);
  const std::optional<ShareSettings> read = ReadShareSettings(path);
  ASSERT_TRUE(read);
  EXPECT_EQ(SharingOffReason(*read), std::nullopt) << "the first write, whole";
  EXPECT_EQ(read->servers.at(0).url, "HTTP://h/");  // the scheme in any case, kept as written
  EXPECT_EQ(ShareSettingsPathBeside("/a/b/zevrinkiss.ini"), "/a/b/zevrinkiss-share.ini");

  const std::pair<void (*)(ShareSettings&), const char*> gaps[] = {
      {[](ShareSettings& s) { s.station.callsign = "  "; }, "callsign"},
      {[](ShareSettings& s) { s.station.latitude = s.station.longitude = 0; }, "position"},
      {[](ShareSettings& s) { s.station.latitude = 91; }, "range"},
      {[](ShareSettings& s) { s.station.norad_id = 0; }, "NORAD"},
      {[](ShareSettings& s) { s.servers.clear(); }, "no server"},
      {[](ShareSettings& s) { s.servers[0].url = "ftp://x/"; }, "ftp://x/"},
      {[](ShareSettings& s) { s.servers[0].url = "ftp://u:pw@x/"; }, "ftp://u:***@x/"},
      {[](ShareSettings& s) { s.servers[0].url = "https:///path"; }, "http(s)"},
      {[](ShareSettings& s) { s.servers[0].token = "a\x1b"; }, "token with a control"}};
  for (const auto& [change, why] : gaps) {
    ShareSettings s = *read;
    change(s);
    EXPECT_THAT(SharingOffReason(s).value_or(""), HasSubstr(why));
  }

  // Files of any size are read in bounded memory and what is left out is named; a
  // server never goes without the token given for it.
  std::string many;
  for (int k = 0; k < 18; ++k) many += "server=http://h/\n";
  const std::string ab = "server=http://a/\nserver=http://b/\ntoken=", x(1018, 'x');
  // The file, the servers taken, the last one's token, a reason of what is left out.
  const std::tuple<std::string, std::size_t, std::string, std::string> files[] = {
      {many + "token=t\n", 16, "", "2 server(s) after the first 16 left out"},
      {ab + x + "\n", 2, x, ""},
      {ab + x + "x\ntoken=y\n", 1, "", "line 3 is longer than 1024 bytes"},
      {ab + std::string(1 << 20, 'x'), 1, "", "limit and is left out, with the server http://b/"},
      {"server=http://a/\n" + std::string(65518, '\n') + "tok", 0, "", "http://a/ is left out"}};
  for (const auto& [text, servers, token, said] : files) {
    dir.Write("s.ini", text);
    std::vector<std::string> cut;
    const std::optional<ShareSettings> got = ReadShareSettings(dir.Path("s.ini"), &cut);
    ASSERT_TRUE(got && got->servers.size() == servers) << servers;
    EXPECT_EQ(got->servers.empty() ? "" : got->servers.back().token, token);
    EXPECT_THAT(::testing::PrintToString(cut), HasSubstr(said.empty() ? "{}" : said));
  }
}

TEST(ShareRetry, PausesDoubleUpToTenMinutesAndOnlyClientErrorsAreFinal) {
  std::vector<long> seconds;
  for (const int failures : {1, 2, 3, 7, 8, 9, 1000000})
    seconds.push_back(std::chrono::ceil<std::chrono::seconds>(RetryPause(failures, {})).count());
  EXPECT_THAT(seconds, ElementsAre(5, 10, 20, 320, 600, 600, 600));
  // A server's Retry-After: waited for, but no shorter than the own pause nor longer
  // than the longest.
  EXPECT_EQ(RetryPause(1, {}, 120s), 120s);
  EXPECT_EQ(RetryPause(3, {}, 1s), 20s);

  using enum ShareOutcome;
  const std::pair<int, ShareOutcome> outcomes[] = {
      {200, kSent},    {204, kSent},  {299, kSent},  {199, kRetry}, {300, kRetry}, {400, kRefused},
      {499, kRefused}, {408, kRetry}, {429, kRetry}, {500, kRetry}, {0, kRetry}};
  for (const auto& [status, outcome] : outcomes)
    EXPECT_EQ(ClassifyAnswer({status, "", status != 0 ? "" : "timed out"}), outcome) << status;
  EXPECT_EQ(AnswerText({400, "bad\r\nframe", ""}), "HTTP 400: bad  frame");
  EXPECT_EQ(AnswerText({0, "", "Connection refused"}), "Connection refused");
}

// A receive path whose frames go to an archive that queues the satellite's frames
// for sharing, and a sender working on that archive.
class Sharing {
 public:
  Sharing(const std::string& path, const ShareSettings& settings,
          std::chrono::milliseconds timeout = 2s)
      : path_(path) {
    sharer_.Configure(settings);
    archive_.AddExtension(&sharer_);
    EXPECT_TRUE(archive_.Open(path_)) << archive_.error();
    sender_ = std::make_unique<ShareSender>(path_, RetryTimings{50ms, 400ms}, nullptr, timeout);
    sender_->Configure(settings);
    sharer_.SetSender(sender_.get());
  }
  /// The satellite's frames numbered [from, to) in one notification: the archive
  /// commits them at its end, as the desktop program's does, and only then may the
  /// sender see them.
  void FeedFrames(int from, int to) {
    for (int n = from; n < to; ++n) receiver_.Receive(sample::KissFrame(Numbered(n)));
    archive_.Flush();
  }
  /// Settles after a pause longer than the longest retry pause.
  bool Settle(std::chrono::milliseconds pause = 0ms) {
    std::this_thread::sleep_for(pause);
    sender_->Wake();
    return sender_->WaitUntilSettled(10s);
  }
  QueueCounts Counts(const HttpRecorder& server) {
    std::string error;
    return ShareQueue::Open(path_, error, false)->Counts(server.url());
  }
  ShareSender& sender() { return *sender_; }
  testing::SeeingSink seen;  // every frame with its reception time

 private:
  std::string path_;
  testing::SteppingClock clock_{kStartMs, 137};
  testing::Receiver receiver_{clock_, {&archive_, &seen}};
  FrameSharer sharer_;
  ArchiveWriter archive_{nullptr, {.batch_frames = 1000, .vfs = {}}};
  std::unique_ptr<ShareSender> sender_;
};

class ShareSend : public ::testing::Test {
 protected:
  ShareSettings Settings() const {
    return {.enabled = true, .station = kStation, .servers = {{server_.url(), "secret"}}};
  }
  std::string Archive(int k = 0) const { return (dir_ / std::to_string(k)).string(); }
  testing::TempDir dir_{"share"};
  HttpRecorder server_;
};

TEST_F(ShareSend, AFailedPostIsSentAgainAfterAPauseThenNeverAgain) {
  // The answers to the first try (the second: none at all). One with a Retry-After,
  // in seconds or as a date, pauses longer than the 50 ms of the first pause (as
  // long as the longest pause, 400 ms).
  const testing::ScriptedAnswer firsts[] = {
      {500, "oops", false},
      {0, "", true},
      {503, "", false, "Retry-After: 1\r\n"},
      {429, "", false, "Retry-After: Fri, 31 Dec 2100 23:59:59 GMT\r\n"}};
  for (std::size_t k = 0; k < std::size(firsts); ++k) {
    server_.Script({firsts[k], {201, "", false}});
    Sharing sharing(Archive(static_cast<int>(k)), Settings(), 300ms);
    sharing.FeedFrames(7, 8);
    ASSERT_TRUE(server_.WaitFor(2 * k + 1, 10s)) << k;
    const auto first_try = std::chrono::steady_clock::now();
    ASSERT_TRUE(server_.WaitFor(2 * (k + 1), 10s)) << k;
    EXPECT_GE(std::chrono::steady_clock::now() - first_try, firsts[k].headers.empty() ? 0ms : 350ms)
        << k;
    ASSERT_TRUE(sharing.Settle(500ms));
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2 * (k + 1)) << k;
    EXPECT_EQ(requests[2 * k].body, requests[2 * k + 1].body);
    EXPECT_EQ(sharing.Counts(server_).waiting, 0);
  }
}

TEST_F(ShareSend, ARefusedFrameIsKeptWithItsAnswerAndNotTriedAgain) {
  server_.Script({{400, "unknown noradID", false}});
  ShareSettings settings = Settings();  // a password that no message or key shows
  const std::string masked = "http://user:***@" + server_.url().substr(7);
  const std::string url = settings.servers[0].url = "http://user:pa55@" + server_.url().substr(7);
  Sharing sharing(Archive(), settings);
  sharing.FeedFrames(1, 2);
  ASSERT_TRUE(server_.WaitFor(1, 10s));
  ASSERT_TRUE(sharing.Settle());
  EXPECT_THAT(
      ShareStatusLine(sharing.sender().Status()) + ShareStatusDetails(sharing.sender().Status()),
      AllOf(HasSubstr("(127.0.0.1)"), HasSubstr(masked + ": "), ::testing::Not(HasSubstr("pa55"))));
  sharing.FeedFrames(2, 3);
  ASSERT_TRUE(server_.WaitFor(2, 10s));
  ASSERT_TRUE(sharing.Settle(500ms));
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  const testing::HttpRequest& r = requests[0];
  EXPECT_EQ(r.method + " " + r.target + " " + r.headers.at("content-type") + " " +
                r.headers.at("authorization"),
            "POST /api/telemetry/ application/x-www-form-urlencoded Token secret");
  for (std::size_t k = 0; k < 2; ++k) {  // each frame with its own reception time
    const std::int64_t ms = sharing.seen.frames[k].ms;
    EXPECT_EQ(requests[k].body,
              SidsForm(kStation, {ms / 1000, static_cast<int>(ms % 1000)},
                       Hex(sample::EncodeAx25(Numbered(static_cast<int>(k) + 1)))));
  }
  // An older version's queue, keyed by the whole address, is keyed anew when the
  // archive opens it.
  const auto keys = [&] { return testing::Db(Archive()).One("SELECT server FROM share_queue"); };
  EXPECT_EQ(keys(), masked);
  testing::Exec(Archive(), "UPDATE share_queue SET server = '" + url + "'");
  std::string error;
  EXPECT_THAT(ShareQueue::Open(Archive(), error)->RefusedAnswers(url),
              ElementsAre("HTTP 400: unknown noradID"));
  EXPECT_EQ(keys(), masked);
}

// One server down while another takes the frames: they wait in the archive, across
// a restart of the program, and go out in their order once it is back.
TEST_F(ShareSend, FramesWaitingForAServerThatIsDownGoOutOldestFirstAfterARestart) {
  HttpRecorder other;
  server_.Down();
  ShareSettings settings = Settings();
  settings.servers.push_back({other.url("/sids"), ""});
  {
    Sharing sharing(Archive(), settings);
    sharing.FeedFrames(0, 40);
    ASSERT_TRUE(other.WaitFor(40, 10s));
    ASSERT_TRUE(sharing.Settle(600ms));  // a few failed tries, paused in between
    EXPECT_THAT(ShareStatusLine(sharing.sender().Status()),
                AllOf(HasSubstr("40 sent, 40 waiting; last problem: "), HasSubstr("onnect")));
  }
  server_.Up();
  Sharing restarted(Archive(), settings);
  ASSERT_TRUE(server_.WaitFor(40, 10s));
  ASSERT_TRUE(restarted.Settle());
  const auto requests = server_.requests();
  const auto others = other.requests();
  ASSERT_EQ(requests.size(), 40u);
  ASSERT_EQ(others.size(), 40u) << "the other server gets nothing twice";
  for (std::size_t k = 0; k < requests.size(); ++k)
    EXPECT_EQ(requests[k].body, others[k].body) << "frame " << k << " in its place";
  EXPECT_EQ(others[0].headers.count("authorization"), 0u) << "no token, no header";
  EXPECT_EQ(restarted.Counts(server_).waiting, 0);
}

// One poster serves every request of a sender; answers no server should write
// are read as answers of their own, or refused with a reason, never taken as
// sent. A folded first header line once reached back into the freed headers of
// the previous answer (found by AddressSanitizer); a status line libcurl could
// not read came back as no answer without a reason.
TEST(SharePoster, MalformedAnswersAreTheirOwnOrRefusedWithAReason) {
  const std::pair<std::string, long> answers[] = {
      {"HTTP/1.1 503 Busy\r\n Retry-After: 60\r\nContent-Length: 0\r\n\r\n", 503},
      {"HTTP/20" + std::string(100, '\xFF') + "1995 \n", 0}};
  for (const auto& [raw, status] : answers) {
    HttpRecorder server;
    testing::ScriptedAnswer malformed;
    malformed.raw = raw;
    server.Script({{200, "", false, "X-Note: first\r\n"}, malformed});
    CurlPoster poster(2s);
    EXPECT_EQ(poster.Post(server.url(), "x=1", "").status, 200);
    const HttpAnswer answer = poster.Post(server.url(), "x=1", "");
    EXPECT_TRUE(answer.status == status || (answer.status == 0 && !answer.problem.empty())) << raw;
    EXPECT_EQ(answer.status == 0, !answer.problem.empty()) << raw;
    EXPECT_EQ(poster.Post(server.url(), "x=1", "").status, 201) << "the poster still works";
  }
}

}  // namespace
}  // namespace zevrin
