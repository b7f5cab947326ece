#include "outputs/mqtt/mqtt_publisher.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <utility>

#include "outputs/mqtt/mqtt_messages.h"

namespace zevrin {

namespace {

constexpr int kKeepAliveSeconds = 60;
constexpr int kQos = 1;
// The longest a stop waits for the connection's loop.
constexpr int kLoopTimeoutMs = 200;
// Pauses between attempts to reach the broker: from the first, doubling up to
// the longest; a connection starts them over.
constexpr unsigned kFirstPauseSeconds = 1;
constexpr unsigned kLongestPauseSeconds = 30;
constexpr std::string_view kOnline = "online";
// An end without a Stop of its own (the desktop program closing) still gets the
// "offline" out: the will is not sent on a planned disconnection.
constexpr auto kEndWait = std::chrono::seconds(1);
constexpr std::string_view kOffline = "offline";

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// The library's error, with the system's reason when it is one of the system's.
std::string ErrorText(int rc) {
  if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
  return mosquitto_strerror(rc);
}

}  // namespace

MqttPublisher::MqttPublisher(MqttSettings settings, std::string station, MqttListener* listener,
                             std::size_t waiting_max)
    : settings_(std::move(settings)),
      station_(std::move(station)),
      listener_(listener),
      waiting_max_(waiting_max),
      status_topic_(MqttTopic(station_, "status")) {
  status_.broker = MqttBrokerText(settings_);
}

MqttPublisher::~MqttPublisher() {
  Stop(kEndWait);
  if (client_ != nullptr) mosquitto_destroy(client_);
}

std::optional<std::string> MqttPublisher::Start() {
  InitLibrary();
  if (client_ != nullptr) return "already started";
  client_ = mosquitto_new(nullptr, true, this);
  if (client_ == nullptr)
    return "cannot set up an MQTT client: " + std::string(std::strerror(errno));
  mosquitto_threaded_set(client_, true);
  mosquitto_connect_callback_set(client_, &MqttPublisher::OnConnect);
  mosquitto_disconnect_callback_set(client_, &MqttPublisher::OnDisconnect);
  mosquitto_publish_callback_set(client_, &MqttPublisher::OnPublish);
  if (settings_.host.empty()) return "no MQTT broker host";
  if (!settings_.user.empty() &&
      mosquitto_username_pw_set(
          client_, settings_.user.c_str(),
          settings_.password.empty() ? nullptr : settings_.password.c_str()) != MOSQ_ERR_SUCCESS)
    return "cannot use the MQTT user name";
  if (!settings_.password.empty() && settings_.user.empty())
    return "an MQTT password needs a user name";
  if (settings_.tls) {
    const int rc = settings_.ca_file.empty()
                       ? mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                       : mosquitto_tls_set(client_, settings_.ca_file.c_str(), nullptr, nullptr,
                                           nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
      return "cannot use TLS with the CA file '" + settings_.ca_file + "': " + ErrorText(rc);
  }
  if (mosquitto_will_set(client_, status_topic_.c_str(), static_cast<int>(kOffline.size()),
                         kOffline.data(), kQos, true) != MOSQ_ERR_SUCCESS)
    return "cannot set the MQTT last will on " + status_topic_;
  thread_ = std::thread([this] { Run(); });
  return std::nullopt;
}

// The connection's own loop, with the first connection made here too, as its
// name lookup may take long. A broken connection is made again after a pause that
// doubles up to the longest and starts over once connected. The library's own
// loop thread would do the same, but sleeps through its pause deaf to a stop,
// which then waited up to the longest pause; this pause ends at once.
void MqttPublisher::Run() {
  int rc =
      mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, kKeepAliveSeconds);
  for (;;) {
    while (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop(client_, kLoopTimeoutMs, 1);
    std::unique_lock lock(mutex_);
    if (stopping_) return;
    // A lost connection has been told by the library's callback already.
    if (status_.state != MqttStatus::State::kRetrying) {
      const std::string text = "cannot reach the MQTT broker " + status_.broker + " (" +
                               ErrorText(rc) + "); trying again";
      lock.unlock();
      Problem(text, MqttStatus::State::kRetrying);
      lock.lock();
    }
    const auto pause = std::chrono::seconds(pause_seconds_);
    pause_seconds_ = std::min(2 * pause_seconds_, kLongestPauseSeconds);
    if (settled_.wait_for(lock, pause, [this] { return stopping_; })) return;
    lock.unlock();
    rc = mosquitto_reconnect(client_);
  }
}

void MqttPublisher::Stop(std::chrono::milliseconds wait) {
  if (client_ == nullptr || !thread_.joinable()) return;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  using State = MqttStatus::State;
  std::unique_lock lock(mutex_);
  // A short run may end before its first connection is made; a broker known to
  // be away is not waited for.
  settled_.wait_until(lock, deadline, [this] { return status_.state != State::kConnecting; });
  if (status_.state == State::kConnected) {
    lock.unlock();
    // The will goes out only when the connection breaks off; a planned end says
    // so itself.
    Publish(status_topic_, std::string(kOffline), true);
    lock.lock();
    settled_.wait_until(lock, deadline, [this] {
      return status_.waiting == 0 || status_.state != State::kConnected;
    });
  }
  stopping_ = true;
  status_.dropped += status_.waiting;
  status_.waiting = 0;
  held_.clear();
  lock.unlock();
  settled_.notify_all();
  mosquitto_disconnect(client_);
  thread_.join();
}

void MqttPublisher::FrameDecoded(const DecodedFrame& frame) {
  if (client_ == nullptr) return;
  const std::string_view leaf = MqttRecordLeaf(frame);
  if (!leaf.empty()) Publish(MqttTopic(station_, leaf), MqttRecordJson(frame), false);
  if (frame.from_satellite) Publish(MqttTopic(station_, "frames"), MqttFrameJson(frame), false);
}

void MqttPublisher::Publish(const std::string& topic, const std::string& payload, bool retain) {
  bool full = false;
  bool tell = false;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    full = status_.waiting >= waiting_max_;
    if (full) {
      ++status_.dropped;
      tell = !std::exchange(drop_told_, true);
    } else {
      ++status_.waiting;
      // Sent only once connected: a message sent while the connection is being
      // made could reach the broker before the connection request, which ends it.
      if (status_.state != MqttStatus::State::kConnected) {
        held_.push_back({topic, payload, retain});
        return;
      }
    }
  }
  if (!full) {
    Send(topic, payload, retain);
  } else if (tell) {
    Tell(std::to_string(waiting_max_) + " MQTT messages wait for the broker " + status_.broker +
         "; later ones are dropped until it takes them");
  }
}

void MqttPublisher::Send(const std::string& topic, const std::string& payload, bool retain) {
  const int rc = mosquitto_publish(client_, nullptr, topic.c_str(),
                                   static_cast<int>(payload.size()), payload.data(), kQos, retain);
  // Without a connection the library keeps a QoS 1 message for the next one and
  // says so with MOSQ_ERR_NO_CONN: only the other errors lose it.
  if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
    std::lock_guard lock(mutex_);
    --status_.waiting;
    ++status_.dropped;
  }
}

MqttStatus MqttPublisher::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void MqttPublisher::Problem(const std::string& text, MqttStatus::State state) {
  {
    std::lock_guard lock(mutex_);
    status_.state = state;
    status_.problem = text;
    settled_.notify_all();
    if (std::exchange(problem_told_, true)) return;
  }
  Tell(text);
}

void MqttPublisher::Tell(const std::string& text) {
  if (listener_ != nullptr) listener_->MqttMessage(text);
}

void MqttPublisher::OnConnect(mosquitto*, void* self, int rc) {
  auto* p = static_cast<MqttPublisher*>(self);
  if (rc != 0) {
    p->Problem("the MQTT broker " + p->status_.broker +
                   " refused the connection: " + mosquitto_connack_string(rc) + "; trying again",
               MqttStatus::State::kRetrying);
    return;
  }
  bool again = false;
  {
    std::lock_guard lock(p->mutex_);
    again = std::exchange(p->connected_before_, true);
    ++p->status_.waiting;
  }
  p->Send(p->status_topic_, std::string(kOnline), true);
  // What waited for the connection goes first, in order; the state changes once
  // nothing waits, so that no later message overtakes it.
  for (;;) {
    std::deque<Held> waiting;
    {
      std::lock_guard lock(p->mutex_);
      if (p->held_.empty()) {
        p->status_.state = MqttStatus::State::kConnected;
        p->status_.problem.clear();
        p->problem_told_ = false;
        p->pause_seconds_ = kFirstPauseSeconds;
        p->settled_.notify_all();
        break;
      }
      waiting.swap(p->held_);
    }
    for (const Held& message : waiting) p->Send(message.topic, message.payload, message.retain);
  }
  p->Tell(again ? "connected to the MQTT broker " + p->status_.broker + " again"
                : "publishing to the MQTT broker " + p->status_.broker + " under " +
                      MqttTopic(p->station_, ""));
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int rc) {
  if (rc == 0) return;  // asked for
  auto* p = static_cast<MqttPublisher*>(self);
  bool was_connected = false;
  {
    std::lock_guard lock(p->mutex_);
    was_connected = p->status_.state == MqttStatus::State::kConnected;
  }
  const std::string reason = " (" + ErrorText(rc) + ")";
  p->Problem(was_connected
                 ? "lost the MQTT broker " + p->status_.broker + reason +
                       "; reconnecting, the messages wait meanwhile"
                 : "cannot reach the MQTT broker " + p->status_.broker + reason + "; trying again",
             MqttStatus::State::kRetrying);
}

void MqttPublisher::OnPublish(mosquitto*, void* self, int) {
  auto* p = static_cast<MqttPublisher*>(self);
  std::lock_guard lock(p->mutex_);
  if (p->status_.waiting > 0) --p->status_.waiting;
  ++p->status_.published;
  // Room again: a later overflow is told anew.
  if (p->status_.waiting < p->waiting_max_ / 2) p->drop_told_ = false;
  if (p->status_.waiting == 0) p->settled_.notify_all();
}

}  // namespace zevrin
