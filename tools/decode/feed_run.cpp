#include "decode/feed_run.h"

#include <cstdlib>

#include "decode/options.h"
#include "outputs/mqtt/mqtt_messages.h"

namespace zevrin {

namespace {

// At the end, the clients and the broker get this long to take what waits for
// them; what they have not taken by then is counted as dropped.
constexpr auto kKissDrainWait = std::chrono::seconds(2);
constexpr auto kMqttFinishWait = std::chrono::seconds(30);

}  // namespace

const char* const kFeedUsage =
    "  --serve-kiss [HOST:]PORT  serve every frame received, as the KISS bytes\n"
    "                    received, to every program that connects to PORT (on\n"
    "                    127.0.0.1 unless HOST is given; [::1]:8101 for IPv6)\n"
    "  --mqtt mqtt[s]://[USER[:PASSWORD]@]HOST[:PORT]  publish each housekeeping\n"
    "                    record and satellite frame to an MQTT broker under\n"
    "                    zevrinkiss/<station>/ (QoS 1); mqtts:// uses TLS with the\n"
    "                    system's certificate authorities. A USER without a password\n"
    "                    takes it from $ZEVRINKISS_MQTT_PASSWORD\n"
    "  --mqtt-ca FILE    the certificate authority of an mqtts:// broker\n";

FeedRun::~FeedRun() = default;

bool FeedRun::TakeOption(int argc, char** argv, int& i, std::string& error) {
  const auto taken = OneOfOptions(argc, argv, i, {"--serve-kiss", "--mqtt", "--mqtt-ca"}, error);
  if (!taken) return false;
  if (!error.empty()) return true;
  const auto& [name, value] = *taken;
  if (name == "--serve-kiss") {
    serve_address_ = value;
    if (!ParseListenAddress(value)) error = "--serve-kiss takes [HOST:]PORT, like 8101";
  } else if (name == "--mqtt-ca") {
    mqtt_ca_ = value;
    if (value.empty()) error = "--mqtt-ca needs a file";
  } else if ((mqtt_ = ParseMqttUrl(value, error))) {
    const char* password = std::getenv(kMqttPasswordVariable);
    if (!mqtt_->user.empty() && mqtt_->password.empty() && password != nullptr)
      mqtt_->password = password;
  } else {
    error = "--mqtt: " + error;
  }
  return true;
}

std::optional<std::string> FeedRun::Check() const {
  if (!mqtt_ca_.empty() && (!mqtt_ || !mqtt_->tls)) return "--mqtt-ca needs --mqtt mqtts://…";
  return std::nullopt;
}

void FeedRun::Start(const std::string& station, ReplayRun& run) {
  if (!serve_address_.empty()) {
    server_ =
        std::make_unique<KissServer>(KissServerOptions{}, static_cast<KissServerListener*>(this));
    if (const std::optional<std::string> error = server_->Start(serve_address_)) {
      Tell(*error);
      server_.reset();
    } else {
      run.AddSink(server_.get());
    }
  }
  if (mqtt_) {
    MqttSettings settings = *mqtt_;
    settings.ca_file = mqtt_ca_;
    publisher_ =
        std::make_unique<MqttPublisher>(settings, station, static_cast<MqttListener*>(this));
    if (const std::optional<std::string> error = publisher_->Start()) {
      Tell("--mqtt: " + *error);
      publisher_.reset();
    } else {
      run.AddSink(publisher_.get());
    }
  }
}

void FeedRun::Finish() {
  if (server_) {
    server_->Drain(kKissDrainWait);
    server_->Stop();
    const KissServerStatus status = server_->Status();
    Tell("served " + std::to_string(status.frames) + " frame(s) as KISS; " +
         std::to_string(status.dropped) + " dropped for clients that could not keep up");
  }
  if (publisher_) {
    publisher_->Stop(kMqttFinishWait);
    const MqttStatus status = publisher_->Status();
    Tell("published " + std::to_string(status.published) + " MQTT message(s) to " + status.broker +
         "; " + std::to_string(status.dropped) + " could not be published");
  }
}

void FeedRun::KissServerMessage(std::string_view text) { Tell(text); }
void FeedRun::MqttMessage(std::string_view text) { Tell(text); }

void FeedRun::Tell(std::string_view text) {
  std::fprintf(messages_, "zevrinkiss-decode: %.*s\n", static_cast<int>(text.size()), text.data());
}

}  // namespace zevrin
