// Sharing frames with telemetry servers: the form, the settings, the queue and the
// sender thread, against a web server the test runs on 127.0.0.1.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "base/version.h"
#include "frames/frame_analysis.h"
#include "outputs/archive/archive_writer.h"
#include "outputs/frame_recorder.h"
#include "outputs/share/frame_sharer.h"
#include "outputs/share/share_sender.h"
#include "outputs/share/sids.h"
#include "sample/sample_pass.h"
#include "support/fakes.h"
#include "support/http_recorder.h"
#include "support/temp_dir.h"

namespace zevrin {
namespace {

using namespace std::chrono_literals;
using sample::Bytes;
using ::testing::ElementsAre;
using testing::FormFields;
using ::testing::HasSubstr;
using testing::HttpRecorder;
using testing::ScriptedAnswer;

// Whatever a test configures, no request leaves this computer.
[[maybe_unused]] const int kLoopbackOnly = ::setenv(kLoopbackOnlyVariable, "1", 1);

// A clock that moves on by `step` milliseconds at every reading.
class StepClock final : public Clock {
 public:
  StepClock(UtcInstant start, int step) : start_(start), step_(step) {}
  UtcInstant Now() const override { return At(readings_++); }
  UtcInstant At(int reading) const {
    const std::int64_t ms =
        start_.seconds * 1000 + start_.milliseconds + std::int64_t{step_} * reading;
    return {ms / 1000, static_cast<int>(ms % 1000)};
  }

 private:
  UtcInstant start_;
  int step_;
  mutable int readings_ = 0;
};

std::string Hex(const Bytes& bytes) {
  std::string text;
  char digits[3];
  for (const std::uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    text += digits;
  }
  return text;
}

// What a frame must be shared as, worked out from its KISS bytes alone: nullopt for
// a frame that is not shared, else the hexadecimal text of its AX.25 frame.
std::optional<std::string> ExpectedHex(const Bytes& kiss) {
  Bytes plain;
  for (std::size_t i = 1; i + 1 < kiss.size(); ++i) {
    if (kiss[i] == 0xDB && i + 2 < kiss.size()) {
      plain.push_back(kiss[i + 1] == 0xDC ? 0xC0 : 0xDB);
      ++i;
    } else {
      plain.push_back(kiss[i]);
    }
  }
  if (plain.size() < 16 || (plain[0] & 0x0F) != 0) return std::nullopt;
  std::string source;
  for (int k = 8; k < 14; ++k) source += static_cast<char>(plain[k] >> 1);
  if (source != "QQ0SAT" || (plain[14] & 0x1E) != 0) return std::nullopt;
  const std::size_t end = plain.size() - ((plain[0] & 0x80) != 0 ? 2 : 0);
  return Hex(Bytes(plain.begin() + 1, plain.begin() + static_cast<long>(end)));
}

ShareSettings LocalSettings(const HttpRecorder& server, std::string token = "secret") {
  ShareSettings settings;
  settings.enabled = true;
  settings.station = {"DL1ABC", 49.73145, 8.95564, 99999};
  settings.servers = {{server.url(), std::move(token)}};
  return settings;
}

// A receive path whose frames go to an archive that queues the satellite's frames
// for sharing, and a sender working on that archive.
class Sharing {
 public:
  Sharing(const testing::TempDir& dir, const ShareSettings& settings,
          std::chrono::milliseconds timeout = 2s) {
    const std::string path = (dir / "archive.sqlite").string();
    sharer_.Configure(settings);
    archive_.AddExtension(&sharer_);
    EXPECT_TRUE(archive_.Open(path)) << archive_.error();
    sender_ = std::make_unique<ShareSender>(path, RetryTimings{50ms, 400ms}, nullptr, timeout);
    sender_->Configure(settings);
    sharer_.SetSender(sender_.get());
    std::string error;
    queue_ = ShareQueue::Open(path, error, false);
    EXPECT_TRUE(queue_) << error;
    analysis_.SetSatelliteDecoder(&telemetry_);
    recorder_.AddSink(&archive_);
    path_.SetFrameHandler(&recorder_);
  }
  ~Sharing() { sender_.reset(); }
  /// The bytes of one notification: the archive commits its frames at the end, as
  /// the desktop program's does, and only then may the sender see them.
  void Feed(const Bytes& stream) {
    path_.Assemble(stream);
    archive_.Flush();
  }
  bool Settle() { return sender_->WaitUntilSettled(10s); }
  ShareSender& sender() { return *sender_; }
  ShareQueue& queue() { return *queue_; }
  /// The clock that stamps the frames: read once per frame handed over.
  const StepClock& clock() const { return share_clock_; }

 private:
  testing::FixedClock clock_;
  StepClock share_clock_{{1245506709, 437}, 137};
  testing::RecordingView view_;
  DisplayFields fields_;
  TelemetryDecoder telemetry_{fields_};
  ReceiveState state_;
  ReceivePath path_{state_, clock_, view_};
  FrameAnalysis analysis_{clock_};
  FrameRecorder recorder_{analysis_, telemetry_, fields_, share_clock_};
  FrameSharer sharer_;
  ArchiveWriter archive_{nullptr, {.batch_frames = 1000, .vfs = {}}};
  std::unique_ptr<ShareSender> sender_;
  std::unique_ptr<ShareQueue> queue_;
};

Bytes SatelliteFrame(int number) {
  return sample::KissFrame(sample::SatelliteFrame(sample::SatellitePayload(number, 'S', 1, 2, 30)));
}

TEST(ShareForm, TimesPositionsAndEncoding) {
  EXPECT_EQ(SidsTimestamp({1245506709, 137}), "2009-06-20T14:05:09.137Z");
  EXPECT_EQ(SidsTimestamp({0, 5}), "1970-01-01T00:00:00.005Z");
  EXPECT_EQ(SidsTimestamp({951782400, 999}), "2000-02-29T00:00:00.999Z");

  const std::pair<double, const char*> longitudes[] = {
      {8.95564, "8.95564E"},   {-71.25, "71.25000W"},       {0.0, "0.00000E"},
      {-0.000001, "0.00000E"}, {-179.999996, "180.00000W"}, {12.345678, "12.34568E"}};
  for (const auto& [degrees, text] : longitudes) EXPECT_EQ(SidsLongitude(degrees), text);
  EXPECT_EQ(SidsLatitude(49.73145), "49.73145N");
  EXPECT_EQ(SidsLatitude(-33.5), "33.50000S");

  EXPECT_EQ(FormEncode("a b&c=d/+\xC3\xA9~"), "a+b%26c%3Dd%2F%2B%C3%A9~");

  const std::string form = SidsForm({"DL1 ABC&", 49.73145, -71.25, 42}, {1245506709, 137}, "C0FF");
  EXPECT_EQ(form,
            "noradID=42&source=DL1+ABC%26&timestamp=2009-06-20T14%3A05%3A09.137Z&frame=C0FF"
            "&locator=longLat&longitude=71.25000W&latitude=49.73145N&version=" +
                std::string(kVersion));
}

TEST(ShareForm, WhichFramesAndWhatBytes) {
  sample::Ax25Frame escaped = sample::SatelliteFrame({0x00, 0x01, 'S', 0xC0, 0xDB, 0xDC, 0x07});
  sample::Ax25Frame smack = escaped;
  smack.command = 0x80;
  smack.payload.insert(smack.payload.end(), {0xAB, 0xCD});  // the serial link's CRC
  sample::Ax25Frame port1 = escaped;
  port1.command = 0x10;
  sample::Ax25Frame time = escaped;
  time.command = 0x09;
  sample::Ax25Frame ssid = escaped;
  ssid.source.ssid = 1;
  sample::Ax25Frame other = escaped;
  other.source = {"QQ2XYZ", 0, false};
  sample::Ax25Frame relayed = escaped;
  relayed.digipeaters = {{"QQ9RLY", 1, true}};

  // The AX.25 frame as the sample encoder builds it, without the CRC of the SMACK case.
  const auto hex = [](const sample::Ax25Frame& f) { return Hex(sample::EncodeAx25(f)); };
  const struct {
    const char* name;
    sample::Ax25Frame frame;
    std::optional<std::string> hex;
  } cases[] = {
      {"escapes undone", escaped, hex(escaped)},
      {"SMACK without its CRC", smack, hex(escaped)},
      {"data on TNC port 1", port1, hex(escaped)},
      {"TIME frame", time, std::nullopt},
      {"satellite with SSID 1", ssid, std::nullopt},
      {"another station", other, std::nullopt},
      {"relayed by a digipeater", relayed, hex(relayed)},
  };
  for (const auto& c : cases) {
    const Bytes kiss = sample::KissFrame(c.frame);
    UnescapedFrame frame;
    FrameHeader decoded;
    DecodeFrameHeader(kiss, frame, decoded);
    const bool shared = IsSharedFrame(frame, decoded);
    EXPECT_EQ(shared, c.hex.has_value()) << c.name;
    if (shared) {
      EXPECT_EQ(SidsFrameHex(frame), *c.hex) << c.name;
    }
    EXPECT_EQ(ExpectedHex(kiss), c.hex) << c.name;  // the test's own reading agrees
  }
}

TEST(ShareSettingsFile, DefaultsRoundTripAndReasons) {
  testing::TempDir dir("share-settings");
  const std::string path = (dir / "zevrinkiss-share.ini").string();
  const std::optional<ShareSettings> defaults = ReadShareSettings(path);
  ASSERT_TRUE(defaults);
  EXPECT_FALSE(defaults->enabled);
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
  EXPECT_EQ(WriteShareSettings((dir / "new" / "folder.ini").string(), settings), std::nullopt)
      << "a missing folder is made";

  settings.station.callsign = "DL1\nenabled=0";
  EXPECT_NE(WriteShareSettings(path, settings), std::nullopt);
  EXPECT_TRUE(ReadShareSettings(path)->enabled) << "a refused write leaves the file alone";

  const auto reason = [&](auto change) {
    ShareSettings s = *read;
    change(s);
    return SharingOffReason(s).value_or("");
  };
  EXPECT_THAT(reason([](ShareSettings& s) { s.station.callsign = "  "; }), HasSubstr("callsign"));
  EXPECT_THAT(reason([](ShareSettings& s) { s.station.latitude = s.station.longitude = 0; }),
              HasSubstr("position"));
  EXPECT_THAT(reason([](ShareSettings& s) { s.station.latitude = 91; }), HasSubstr("range"));
  EXPECT_THAT(reason([](ShareSettings& s) { s.station.norad_id = 0; }), HasSubstr("NORAD"));
  EXPECT_THAT(reason([](ShareSettings& s) { s.servers.clear(); }), HasSubstr("no server"));
  EXPECT_THAT(reason([](ShareSettings& s) { s.servers[0].url = "ftp://x/"; }),
              HasSubstr("ftp://x/"));
  EXPECT_THAT(reason([](ShareSettings& s) { s.servers[0].url = "https:///path"; }),
              HasSubstr("http(s)"));
}

TEST(ShareRetry, PauseScheduleAndOutcomes) {
  const RetryTimings real;
  std::vector<long> seconds;
  for (int failures = 1; failures <= 10; ++failures)
    seconds.push_back(
        std::chrono::duration_cast<std::chrono::seconds>(RetryPause(failures, real)).count());
  EXPECT_THAT(seconds, ElementsAre(5, 10, 20, 40, 80, 160, 320, 600, 600, 600));
  EXPECT_EQ(RetryPause(1000000, real), std::chrono::minutes(10));

  const std::pair<HttpAnswer, ShareOutcome> outcomes[] = {
      {{200, "", ""}, ShareOutcome::kSent},    {{201, "", ""}, ShareOutcome::kSent},
      {{204, "", ""}, ShareOutcome::kSent},    {{400, "", ""}, ShareOutcome::kRefused},
      {{403, "", ""}, ShareOutcome::kRefused}, {{404, "", ""}, ShareOutcome::kRefused},
      {{408, "", ""}, ShareOutcome::kRetry},   {{429, "", ""}, ShareOutcome::kRetry},
      {{500, "", ""}, ShareOutcome::kRetry},   {{503, "", ""}, ShareOutcome::kRetry},
      {{302, "", ""}, ShareOutcome::kRetry},   {{0, "", "timed out"}, ShareOutcome::kRetry},
  };
  for (const auto& [answer, outcome] : outcomes)
    EXPECT_EQ(ClassifyAnswer(answer), outcome) << answer.status;
  EXPECT_EQ(AnswerText({400, "bad\r\nframe", ""}), "HTTP 400: bad  frame");
  EXPECT_EQ(AnswerText({0, "", "Connection refused"}), "Connection refused");
}

TEST(ShareSend, AFrameOfAPassExactlyAsTheServerWantsIt) {
  testing::TempDir dir("share-pass");
  HttpRecorder server;
  Sharing sharing(dir, LocalSettings(server));
  const Bytes pass = sample::MakePass({.frames = 150});
  const std::vector<Bytes> frames = testing::LoggedFrames(pass);
  std::vector<std::pair<int, std::string>> expected;  // clock reading, frame hex
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (auto hex = ExpectedHex(frames[i])) expected.emplace_back(static_cast<int>(i), *hex);
  }
  ASSERT_GT(expected.size(), 80u);
  ASSERT_LT(expected.size(), frames.size()) << "the pass holds other stations' frames too";

  sharing.Feed(pass);
  ASSERT_TRUE(server.WaitFor(expected.size(), 20s));
  ASSERT_TRUE(sharing.Settle());
  const std::vector<testing::HttpRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), expected.size());
  for (std::size_t k = 0; k < requests.size(); ++k) {
    const testing::HttpRequest& r = requests[k];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/api/telemetry/");
    EXPECT_EQ(r.headers.at("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.headers.at("authorization"), "Token secret");
    const auto fields = FormFields(r.body);
    EXPECT_EQ(fields.size(), 8u);
    EXPECT_EQ(fields.at("noradID"), "99999");
    EXPECT_EQ(fields.at("source"), "DL1ABC");
    EXPECT_EQ(fields.at("timestamp"), SidsTimestamp(sharing.clock().At(expected[k].first)));
    EXPECT_EQ(fields.at("frame"), expected[k].second) << "frame " << k;
    EXPECT_EQ(fields.at("locator"), "longLat");
    EXPECT_EQ(fields.at("longitude"), "8.95564E");
    EXPECT_EQ(fields.at("latitude"), "49.73145N");
    EXPECT_EQ(fields.at("version"), kVersion);
  }
  const QueueCounts left = sharing.queue().Counts(server.url());
  EXPECT_EQ(left.waiting + left.refused, 0);
  EXPECT_EQ(sharing.sender().Status().servers.at(0).sent, expected.size());
}

TEST(ShareSend, PassingFailuresSendTheFrameAgainOnceThenNeverAgain) {
  const struct {
    const char* name;
    ScriptedAnswer first;
  } cases[] = {
      {"server error", {500, "oops", false}},
      {"unavailable", {503, "", false}},
      {"too many requests", {429, "", false}},
      {"no answer within the time-out", {0, "", true}},
  };
  for (const auto& c : cases) {
    testing::TempDir dir("share-retry");
    HttpRecorder server;
    server.Script({c.first, {201, "", false}});
    Sharing sharing(dir, LocalSettings(server), 300ms);
    sharing.Feed(SatelliteFrame(7));
    ASSERT_TRUE(server.WaitFor(2, 10s)) << c.name;
    ASSERT_TRUE(sharing.Settle()) << c.name;
    std::this_thread::sleep_for(500ms);  // longer than the longest pause
    sharing.sender().Wake();
    ASSERT_TRUE(sharing.Settle());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u) << c.name;
    EXPECT_EQ(requests[0].body, requests[1].body) << c.name;
    const QueueCounts left = sharing.queue().Counts(server.url());
    EXPECT_EQ(left.waiting + left.refused, 0) << c.name;
  }
}

TEST(ShareSend, RefusedFrameKeptWithItsAnswerAndNotTriedAgain) {
  testing::TempDir dir("share-refused");
  HttpRecorder server;
  server.Script({{400, "unknown noradID", false}});
  Sharing sharing(dir, LocalSettings(server));
  sharing.Feed(SatelliteFrame(1));
  ASSERT_TRUE(server.WaitFor(1, 10s));
  ASSERT_TRUE(sharing.Settle());
  sharing.Feed(SatelliteFrame(2));
  ASSERT_TRUE(server.WaitFor(2, 10s));
  ASSERT_TRUE(sharing.Settle());
  std::this_thread::sleep_for(500ms);
  sharing.sender().Wake();
  ASSERT_TRUE(sharing.Settle());

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].body, requests[1].body) << "the second request carries the second frame";
  const QueueCounts left = sharing.queue().Counts(server.url());
  EXPECT_EQ(left.refused, 1);
  EXPECT_EQ(left.waiting, 0);
  EXPECT_THAT(sharing.queue().RefusedAnswers(server.url()),
              ElementsAre("HTTP 400: unknown noradID"));
  const ShareStatus status = sharing.sender().Status();
  EXPECT_THAT(ShareStatusLine(status), HasSubstr("1 sent, 0 waiting, 1 refused"));
}

TEST(ShareSend, ServerDownForAWhileThenEveryFrameOldestFirst) {
  testing::TempDir dir("share-outage");
  HttpRecorder server;
  HttpRecorder other;  // a second server that stays up meanwhile
  server.Down();
  ShareSettings settings = LocalSettings(server);
  settings.servers.push_back({other.url("/sids"), ""});
  Sharing sharing(dir, settings);

  Bytes stream;
  for (int n = 0; n < 40; ++n) {
    const Bytes frame = SatelliteFrame(n);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  sharing.Feed(stream);
  ASSERT_TRUE(other.WaitFor(40, 10s));
  std::this_thread::sleep_for(600ms);  // a few failed tries, paused in between
  ASSERT_TRUE(sharing.Settle());
  ShareStatus status = sharing.sender().Status();
  EXPECT_EQ(status.servers.at(0).waiting, 40);
  EXPECT_THAT(status.servers.at(0).last_problem, HasSubstr("onnect"));
  EXPECT_THAT(ShareStatusLine(status), HasSubstr("40 sent, 40 waiting; last problem: "));

  server.Up();
  ASSERT_TRUE(server.WaitFor(40, 10s));
  ASSERT_TRUE(sharing.Settle());
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 40u);
  const auto others = other.requests();
  for (std::size_t k = 0; k < requests.size(); ++k) {
    EXPECT_EQ(requests[k].body, others[k].body) << "frame " << k << " in its place";
  }
  EXPECT_EQ(others[0].headers.count("authorization"), 0u) << "no token, no header";
  EXPECT_EQ(sharing.queue().Counts(server.url()).waiting, 0);
}

TEST(ShareSend, NothingQueuedOrSentWhileSharingIsOff) {
  const struct {
    const char* name;
    void (*change)(ShareSettings&);
  } cases[] = {
      {"turned off", [](ShareSettings& s) { s.enabled = false; }},
      {"empty callsign", [](ShareSettings& s) { s.station.callsign.clear(); }},
      {"position 0, 0", [](ShareSettings& s) { s.station.latitude = s.station.longitude = 0; }},
  };
  for (const auto& c : cases) {
    testing::TempDir dir("share-off");
    HttpRecorder server;
    ShareSettings settings = LocalSettings(server);
    c.change(settings);
    Sharing sharing(dir, settings);
    sharing.Feed(SatelliteFrame(1));
    ASSERT_TRUE(sharing.Settle());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(server.count(), 0u) << c.name;
    EXPECT_EQ(sharing.queue().Counts(server.url()).waiting, 0) << c.name;
    EXPECT_THAT(ShareStatusLine(sharing.sender().Status()), HasSubstr("Sharing off: ")) << c.name;
  }
}

TEST(ShareSend, OnlyLoopbackWhileTheTestSuiteRuns) {
  CurlPoster poster(2s);
  // TEST-NET-1: nothing answers there, and the poster never even opens a socket.
  const HttpAnswer answer = poster.Post("http://192.0.2.1:9/", "x=1", "");
  EXPECT_EQ(answer.status, 0);
  EXPECT_FALSE(answer.problem.empty());
}

}  // namespace
}  // namespace zevrin
