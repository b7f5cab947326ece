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
using sample::Bytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::HttpRecorder;

// Whatever a test configures, no request leaves this computer.
[[maybe_unused]] const int kLoopbackOnly = ::setenv(kLoopbackOnlyVariable, "1", 1);

constexpr std::int64_t kStartMs = 1245506709437;
const ShareStation kStation = {"DL1ABC", 49.73145, 8.95564, 99999};

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t b : bytes) {
    text += "0123456789ABCDEF"[b >> 4];
    text += "0123456789ABCDEF"[b & 15];
  }
  return text;
}

// What a frame must be shared as, worked out from its KISS bytes alone: nullopt for
// a frame that is not shared, else the hexadecimal text of its AX.25 frame.
std::optional<std::string> ExpectedHex(const Bytes& kiss) {
  Bytes plain;
  for (std::size_t i = 1; i + 1 < kiss.size(); ++i) {
    const bool escaped = kiss[i] == 0xDB && i + 2 < kiss.size();
    plain.push_back(!escaped ? kiss[i] : kiss[++i] == 0xDC ? 0xC0 : 0xDB);
  }
  if (plain.size() < 16 || (plain[0] & 0x0F) != 0 || (plain[14] & 0x1E) != 0) return std::nullopt;
  std::string source;
  for (int k = 8; k < 14; ++k) source += static_cast<char>(plain[k] >> 1);
  if (source != "QQ0SAT") return std::nullopt;
  const std::size_t crc = (plain[0] & 0x80) != 0 ? 2 : 0;  // SMACK
  return Hex(std::span(plain).subspan(1, plain.size() - 1 - crc));
}

ShareSettings LocalSettings(const HttpRecorder& server, std::string token = "secret") {
  return {.enabled = true, .station = kStation, .servers = {{server.url(), std::move(token)}}};
}

// A receive path whose frames go to an archive that queues the satellite's frames
// for sharing, and a sender working on that archive.
class Sharing {
 public:
  Sharing(const testing::TempDir& dir, const ShareSettings& settings,
          std::chrono::milliseconds timeout = 2s)
      : path_((dir / "archive.sqlite").string()) {
    sharer_.Configure(settings);
    archive_.AddExtension(&sharer_);
    EXPECT_TRUE(archive_.Open(path_)) << archive_.error();
    sender_ = std::make_unique<ShareSender>(path_, RetryTimings{50ms, 400ms}, nullptr, timeout);
    sender_->Configure(settings);
    sharer_.SetSender(sender_.get());
    receiver_.recorder.AddSink(&archive_);
    receiver_.recorder.AddSink(&seen);
  }
  /// The bytes of one notification: the archive commits its frames at the end, as
  /// the desktop program's does, and only then may the sender see them.
  void Feed(const Bytes& stream) {
    receiver_.Receive(stream);
    archive_.Flush();
  }
  bool Settle() { return sender_->WaitUntilSettled(10s); }
  testing::SeeingSink seen;  // every frame with its reception time
  ShareSender& sender() { return *sender_; }
  QueueCounts Counts(const HttpRecorder& server) {
    std::string error;
    return ShareQueue::Open(path_, error, false)->Counts(server.url());
  }

 private:
  std::string path_;
  testing::SteppingClock clock_{kStartMs, 137};
  testing::Receiver receiver_{clock_};
  FrameSharer sharer_;
  ArchiveWriter archive_{nullptr, {.batch_frames = 1000, .vfs = {}}};
  std::unique_ptr<ShareSender> sender_;
};

Bytes SatelliteFrames(int from, int to) {
  Bytes stream;
  for (int n = from; n < to; ++n) {
    const Bytes frame =
        sample::KissFrame(sample::SatelliteFrame(sample::SatellitePayload(n, 'S', 1, 2, 30)));
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  return stream;
}

TEST(ShareForm, TimesPositionsAndEscapesAreWhatServersParse) {
  EXPECT_EQ(SidsTimestamp({0, 5}), "1970-01-01T00:00:00.005Z");
  EXPECT_EQ(SidsTimestamp({951782400, 999}), "2000-02-29T00:00:00.999Z");
  const std::pair<double, const char*> longitudes[] = {{-71.25, "71.25000W"},
                                                       {-0.000001, "0.00000E"},
                                                       {-179.999996, "180.00000W"},
                                                       {12.345678, "12.34568E"}};
  for (const auto& [degrees, text] : longitudes) EXPECT_EQ(SidsLongitude(degrees), text);
  EXPECT_EQ(SidsLatitude(-33.5), "33.50000S");
  EXPECT_EQ(FormEncode("a b&c=d/+\xC3\xA9~"), "a+b%26c%3Dd%2F%2B%C3%A9~");
  EXPECT_EQ(SidsForm({"DL1 ABC&", 49.73145, -71.25, 42}, {1245506709, 137}, "C0FF"),
            "noradID=42&source=DL1+ABC%26&timestamp=2009-06-20T14%3A05%3A09.137Z&frame=C0FF"
            "&locator=longLat&longitude=71.25000W&latitude=49.73145N&version=" +
                std::string(kVersion));
}

TEST(ShareForm, OnlyTheSatellitesDataFramesAreSharedWithoutEscapesOrCrc) {
  const sample::Ax25Frame plain = sample::SatelliteFrame({0x00, 0x01, 'S', 0xC0, 0xDB, 0xDC, 7});
  const auto with = [&](auto change) {
    sample::Ax25Frame f = plain;
    change(f);
    return f;
  };
  const auto hex = [](const sample::Ax25Frame& f) { return Hex(sample::EncodeAx25(f)); };
  const sample::Ax25Frame relayed = with([](auto& f) { f.digipeaters = {{"QQ9RLY", 1, true}}; });
  const std::pair<sample::Ax25Frame, std::optional<std::string>> cases[] = {
      {plain, hex(plain)},
      {with([](auto& f) {  // SMACK: the serial link's CRC is not the frame's
         f.command = 0x80;
         f.payload.insert(f.payload.end(), {0xAB, 0xCD});
       }),
       hex(plain)},
      {with([](auto& f) { f.command = 0x10; }), hex(plain)},     // TNC port 1
      {with([](auto& f) { f.command = 0x09; }), std::nullopt},   // a TIME frame
      {with([](auto& f) { f.source.ssid = 1; }), std::nullopt},  // SSID 1
      {with([](auto& f) {
         f.source = {"QQ2XYZ", 0, false};
       }),
       std::nullopt},
      {relayed, hex(relayed)},
  };
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const Bytes kiss = sample::KissFrame(cases[k].first);
    UnescapedFrame frame;
    FrameHeader decoded;
    DecodeFrameHeader(kiss, frame, decoded);
    EXPECT_EQ(IsSharedFrame(frame, decoded) ? std::optional(SidsFrameHex(frame)) : std::nullopt,
              cases[k].second)
        << k;
    EXPECT_EQ(ExpectedHex(kiss), cases[k].second) << k;  // the test's own reading agrees
  }
}

TEST(ShareSettingsFile, SettingsSurviveTheFileAndEveryGapIsNamed) {
  testing::TempDir dir("share-settings");
  const std::string path = (dir / "new" / "zevrinkiss-share.ini").string();  // folder made
  const std::optional<ShareSettings> defaults = ReadShareSettings(path);
  ASSERT_TRUE(defaults);
  EXPECT_THAT(defaults->servers, ElementsAre(ShareServer{std::string(kSatnogsDbUrl), ""}));
  EXPECT_EQ(SharingOffReason(*defaults), "not turned on");

  ShareSettings settings;
  settings.enabled = true;
  settings.station = {"DL1ABC", -33.123456789, 151.25, 99999};
  settings.servers = {{"https://a.example/sids", "tok en"}, {"http://127.0.0.1:8080/x", ""}};
  ASSERT_EQ(WriteShareSettings(path, settings), std::nullopt);
  const std::optional<ShareSettings> read = ReadShareSettings(path);
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->enabled);
  EXPECT_EQ(read->station.callsign, "DL1ABC");
  EXPECT_DOUBLE_EQ(read->station.latitude, -33.123456789);
  EXPECT_DOUBLE_EQ(read->station.longitude, 151.25);
  EXPECT_EQ(read->station.norad_id, 99999u);
  EXPECT_EQ(read->servers, settings.servers);
  EXPECT_EQ(SharingOffReason(*read), std::nullopt);
  EXPECT_EQ(ShareSettingsPathBeside("/a/b/zevrinkiss.ini"), "/a/b/zevrinkiss-share.ini");
  settings.station.callsign = "DL1\nenabled=0";
  EXPECT_NE(WriteShareSettings(path, settings), std::nullopt);
  EXPECT_TRUE(ReadShareSettings(path)->enabled) << "a refused write leaves the file alone";

  const std::pair<void (*)(ShareSettings&), const char*> gaps[] = {
      {[](ShareSettings& s) { s.station.callsign = "  "; }, "callsign"},
      {[](ShareSettings& s) { s.station.latitude = s.station.longitude = 0; }, "position"},
      {[](ShareSettings& s) { s.station.latitude = 91; }, "range"},
      {[](ShareSettings& s) { s.station.norad_id = 0; }, "NORAD"},
      {[](ShareSettings& s) { s.servers.clear(); }, "no server"},
      {[](ShareSettings& s) { s.servers[0].url = "ftp://x/"; }, "ftp://x/"},
      {[](ShareSettings& s) { s.servers[0].url = "https:///path"; }, "http(s)"}};
  for (const auto& [change, why] : gaps) {
    ShareSettings s = *read;
    change(s);
    EXPECT_THAT(SharingOffReason(s).value_or(""), HasSubstr(why));
  }
}

TEST(ShareRetry, PausesDoubleUpToTenMinutesAndOnlyClientErrorsAreFinal) {
  std::vector<long> seconds;
  for (const int failures : {1, 2, 3, 7, 8, 9, 1000000})
    seconds.push_back(
        std::chrono::duration_cast<std::chrono::seconds>(RetryPause(failures, RetryTimings{}))
            .count());
  EXPECT_THAT(seconds, ElementsAre(5, 10, 20, 320, 600, 600, 600));

  const std::pair<int, ShareOutcome> outcomes[] = {
      {200, ShareOutcome::kSent},    {204, ShareOutcome::kSent},  {400, ShareOutcome::kRefused},
      {404, ShareOutcome::kRefused}, {408, ShareOutcome::kRetry}, {429, ShareOutcome::kRetry},
      {500, ShareOutcome::kRetry},   {302, ShareOutcome::kRetry}, {0, ShareOutcome::kRetry}};
  for (const auto& [status, outcome] : outcomes)
    EXPECT_EQ(ClassifyAnswer({status, "", status != 0 ? "" : "timed out"}), outcome) << status;
  EXPECT_EQ(AnswerText({400, "bad\r\nframe", ""}), "HTTP 400: bad  frame");
  EXPECT_EQ(AnswerText({0, "", "Connection refused"}), "Connection refused");
}

TEST(ShareSend, EverySatelliteFrameOfAPassIsPostedOnceAtItsReceptionTime) {
  testing::TempDir dir("share-pass");
  HttpRecorder server;
  Sharing sharing(dir, LocalSettings(server));
  const Bytes pass = sample::MakePass({.frames = 150});
  sharing.Feed(pass);
  std::vector<std::string> expected;
  for (const testing::SeenFrame& f : sharing.seen.frames) {
    if (auto hex = ExpectedHex(f.bytes))
      expected.push_back(SidsForm(kStation, {f.ms / 1000, static_cast<int>(f.ms % 1000)}, *hex));
  }
  ASSERT_EQ(sharing.seen.frames.size(), testing::LoggedFrames(pass).size());
  ASSERT_GT(expected.size(), 80u);
  ASSERT_LT(expected.size(), sharing.seen.frames.size()) << "other stations' frames too";

  ASSERT_TRUE(server.WaitFor(expected.size(), 20s));
  ASSERT_TRUE(sharing.Settle());
  const std::vector<testing::HttpRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), expected.size());
  for (std::size_t k = 0; k < requests.size(); ++k) {
    EXPECT_EQ(requests[k].method + " " + requests[k].target, "POST /api/telemetry/");
    EXPECT_EQ(requests[k].headers.at("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[k].headers.at("authorization"), "Token secret");
    EXPECT_EQ(requests[k].body, expected[k]) << "frame " << k;
  }
  EXPECT_EQ(sharing.Counts(server).waiting, 0);
  EXPECT_EQ(sharing.sender().Status().servers.at(0).sent, expected.size());
}

TEST(ShareSend, AFailedPostIsSentAgainAfterAPauseThenNeverAgain) {
  for (const testing::ScriptedAnswer& first :
       {testing::ScriptedAnswer{500, "oops", false}, {0, "", true}}) {  // no answer in time
    testing::TempDir dir("share-retry");
    HttpRecorder server;
    server.Script({first, {201, "", false}});
    Sharing sharing(dir, LocalSettings(server), 300ms);
    sharing.Feed(SatelliteFrames(7, 8));
    ASSERT_TRUE(server.WaitFor(2, 10s)) << first.status;
    std::this_thread::sleep_for(500ms);  // longer than the longest pause
    sharing.sender().Wake();
    ASSERT_TRUE(sharing.Settle());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u) << first.status;
    EXPECT_EQ(requests[0].body, requests[1].body);
    EXPECT_EQ(sharing.Counts(server).waiting, 0);
  }
}

TEST(ShareSend, ARefusedFrameIsKeptWithItsAnswerAndNotTriedAgain) {
  testing::TempDir dir("share-refused");
  HttpRecorder server;
  server.Script({{400, "unknown noradID", false}});
  Sharing sharing(dir, LocalSettings(server));
  sharing.Feed(SatelliteFrames(1, 2));
  ASSERT_TRUE(server.WaitFor(1, 10s));
  ASSERT_TRUE(sharing.Settle());
  sharing.Feed(SatelliteFrames(2, 3));
  ASSERT_TRUE(server.WaitFor(2, 10s));
  std::this_thread::sleep_for(500ms);
  sharing.sender().Wake();
  ASSERT_TRUE(sharing.Settle());
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].body, requests[1].body) << "the second request carries the second frame";
  EXPECT_EQ(sharing.Counts(server).refused, 1);
  EXPECT_EQ(sharing.Counts(server).waiting, 0);
  std::string error;
  EXPECT_THAT(ShareQueue::Open((dir / "archive.sqlite").string(), error, false)
                  ->RefusedAnswers(server.url()),
              ElementsAre("HTTP 400: unknown noradID"));
  EXPECT_THAT(ShareStatusLine(sharing.sender().Status()),
              HasSubstr("1 sent, 0 waiting, 1 refused"));
}

// One server down while another takes the frames: they wait in the archive, across
// a restart of the program, and go out in their order once it is back.
TEST(ShareSend, FramesWaitingForAServerThatIsDownGoOutOldestFirstAfterARestart) {
  testing::TempDir dir("share-outage");
  HttpRecorder server;
  HttpRecorder other;
  server.Down();
  ShareSettings settings = LocalSettings(server);
  settings.servers.push_back({other.url("/sids"), ""});
  {
    Sharing sharing(dir, settings);
    sharing.Feed(SatelliteFrames(0, 40));
    ASSERT_TRUE(other.WaitFor(40, 10s));
    std::this_thread::sleep_for(600ms);  // a few failed tries, paused in between
    ASSERT_TRUE(sharing.Settle());
    const ShareStatus status = sharing.sender().Status();
    EXPECT_EQ(status.servers.at(0).waiting, 40);
    EXPECT_THAT(status.servers.at(0).last_problem, HasSubstr("onnect"));
    EXPECT_THAT(ShareStatusLine(status), HasSubstr("40 sent, 40 waiting; last problem: "));
  }
  server.Up();
  Sharing restarted(dir, settings);
  ASSERT_TRUE(server.WaitFor(40, 10s));
  ASSERT_TRUE(restarted.Settle());
  const auto requests = server.requests();
  const auto others = other.requests();
  ASSERT_EQ(requests.size(), 40u);
  ASSERT_EQ(others.size(), 40u) << "the other server gets nothing twice";
  for (std::size_t k = 0; k < requests.size(); ++k)
    EXPECT_EQ(requests[k].body, others[k].body) << "frame " << k << " in its place";
  EXPECT_EQ(others[0].headers.count("authorization"), 0u) << "no token, no header";
  EXPECT_EQ(restarted.Counts(server).waiting, 0);
}

TEST(ShareSend, NothingIsQueuedOrSentWhileSharingIsOff) {
  for (const auto change : {+[](ShareSettings& s) { s.enabled = false; },
                            +[](ShareSettings& s) { s.station.callsign.clear(); }}) {
    testing::TempDir dir("share-off");
    HttpRecorder server;
    ShareSettings settings = LocalSettings(server);
    change(settings);
    Sharing sharing(dir, settings);
    sharing.Feed(SatelliteFrames(1, 2));
    ASSERT_TRUE(sharing.Settle());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(server.count(), 0u);
    EXPECT_EQ(sharing.Counts(server).waiting, 0);
    EXPECT_THAT(ShareStatusLine(sharing.sender().Status()), HasSubstr("Sharing off: "));
  }
}

TEST(ShareSend, NothingLeavesThisComputerWhileTheTestSuiteRuns) {
  // TEST-NET-1: nothing answers there, and the poster never even opens a socket.
  const HttpAnswer answer = CurlPoster(2s).Post("http://192.0.2.1:9/", "x=1", "");
  EXPECT_EQ(answer.status, 0);
  EXPECT_FALSE(answer.problem.empty());
}

}  // namespace
}  // namespace zevrin
