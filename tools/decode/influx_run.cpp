#include "decode/influx_run.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "decode/options.h"

namespace zevrin {

namespace {

// However long the database takes, the tool ends after this.
constexpr auto kLongestFinish = std::chrono::minutes(30);
constexpr int kLongestPatienceSeconds = 24 * 60 * 60;
constexpr auto kProgressEvery = std::chrono::seconds(2);
constexpr auto kLook = std::chrono::milliseconds(200);

}  // namespace

const char* const kInfluxUsage =
    "  --influx URL      send every housekeeping record that goes into the --archive to\n"
    "                    InfluxDB as line protocol: http://HOST:8086/write?db=NAME (1.x,\n"
    "                    user:password@ before the host when it asks for a login) or\n"
    "                    http://HOST:8086/api/v2/write?org=ORG&bucket=BUCKET (2.x).\n"
    "                    Records wait in the archive until the database has them; at\n"
    "                    the end the tool waits for it, and what it could not take is\n"
    "                    sent by the next --influx run on that archive (with no input:\n"
    "                    < /dev/null).\n"
    "  --influx-token T  2.x: the API token; 1.x: USER:PASSWORD (default: the\n"
    "                    environment variable ZEVRIN_INFLUX_TOKEN)\n"
    "  --influx-wait S   at the end, give up waiting once the database has taken no\n"
    "                    point for S seconds (default 15; 0: do not wait)\n";

bool TakeInfluxOption(int argc, char** argv, int& i, InfluxSettings& settings, InfluxWait& wait,
                      std::string& error) {
  const auto taken =
      OneOfOptions(argc, argv, i, {"--influx", "--influx-token", "--influx-wait"}, error);
  if (!taken) return false;
  if (!error.empty()) return true;
  const auto& [name, value] = *taken;
  if (value.empty()) error = std::string(name) + " needs a value";
  if (name == "--influx-wait") {
    int seconds = -1;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (ec != std::errc() || end != value.data() + value.size() || seconds < 0 ||
        seconds > kLongestPatienceSeconds)
      error = "--influx-wait takes a number of seconds, like 15";
    wait.patience = std::chrono::seconds(seconds);
    return true;
  }
  (name == "--influx" ? settings.url : settings.token) = value;
  settings.enabled = settings.enabled || name == "--influx";
  return true;
}

std::unique_ptr<InfluxRun> InfluxRun::Create(InfluxSettings settings, InfluxWait wait,
                                             const ReplayOptions& replay, ReplayRun& run,
                                             std::FILE* messages, std::string& error) {
  if (!settings.enabled) {
    error = "--influx-token needs --influx URL";
    return nullptr;
  }
  if (replay.archive.empty()) {
    error = "--influx needs --archive FILE: records wait there until the database has them";
    return nullptr;
  }
  if (const char* token = std::getenv(kInfluxTokenVariable);
      token != nullptr && settings.token.empty())
    settings.token = token;
  std::optional<InfluxTarget> target = InfluxTargetOf(settings, error);
  if (!target) {
    error = "--influx " + WithoutPassword(settings.url) + ": " + error;
    return nullptr;
  }
  std::unique_ptr<InfluxRun> influx(
      new InfluxRun(std::move(*target), wait, replay.archive, messages));
  influx->feed_.Enable(true);
  run.AddArchiveExtension(&influx->feed_);
  return influx;
}

void InfluxRun::Start() {
  std::FILE* messages = messages_;
  sender_ = std::make_unique<InfluxSender>(
      archive_, target_, InfluxTimings{}, InfluxSender::StatusCallback{},
      [messages](const std::string& line) {
        std::fprintf(messages, "zevrinkiss-decode: %s\n", line.c_str());
      });
  feed_.SetSender(sender_.get());
  sender_->Wake();  // points a former run left
}

void InfluxRun::Finish() {
  if (!sender_) return;
  sender_->Hurry();
  using Steady = std::chrono::steady_clock;
  const auto start = Steady::now();
  auto last_taken = start;
  auto next_progress = start + kProgressEvery;
  InfluxStatus status = sender_->Status();
  std::uint64_t handled = status.sent + status.dropped;
  for (;;) {
    const bool settled = sender_->WaitUntilSettled(kLook);
    status = sender_->Status();
    const auto now = Steady::now();
    if (status.sent + status.dropped != handled) {
      handled = status.sent + status.dropped;
      last_taken = now;
    }
    if ((settled && status.state == InfluxState::kIdle) || status.state == InfluxState::kStopped ||
        now - last_taken >= wait_.patience || now - start > kLongestFinish)
      break;
    // The sender settles at once while it pauses after a failure.
    if (settled) std::this_thread::sleep_for(kLook);
    if (now >= next_progress) {
      next_progress = now + kProgressEvery;
      std::fprintf(messages_, "zevrinkiss-decode: InfluxDB: %llu sent, %lld queued%s%s\n",
                   static_cast<unsigned long long>(status.sent),
                   static_cast<long long>(status.queued), status.last_problem.empty() ? "" : "; ",
                   status.last_problem.c_str());
    }
  }
  feed_.SetSender(nullptr);
  sender_.reset();
  std::fprintf(messages_, "zevrinkiss-decode: %s\n", InfluxStatusDetails(status).c_str());
  if (status.queued > 0) {
    std::fprintf(messages_, "zevrinkiss-decode: %lld points wait in %s for the next --influx run\n",
                 static_cast<long long>(status.queued), archive_.c_str());
  }
}

}  // namespace zevrin
