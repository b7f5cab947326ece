#pragma once
// Publishes the station's housekeeping records and satellite frames to an MQTT
// broker, for home and club dashboards.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "config/feed_settings.h"
#include "outputs/frame_sink.h"

struct mosquitto;

namespace zevrin {

/// Messages published but not yet taken by the broker, at most; while it is away
/// they wait in memory (a few hours of passes), and the records after them are
/// dropped and counted.
inline constexpr std::size_t kMqttWaitingMax = 10000;

struct MqttStatus {
  enum class State { kConnecting, kConnected, kRetrying };
  State state = State::kConnecting;
  std::string broker;           ///< "host:port"
  std::string problem;          ///< the last problem while not connected
  std::uint64_t published = 0;  ///< messages the broker has taken
  std::uint64_t waiting = 0;    ///< messages not yet taken
  std::uint64_t dropped = 0;    ///< messages beyond kMqttWaitingMax
};

/// Told of the broker's coming and going, once per change, on the publisher's
/// own thread.
class MqttListener {
 public:
  virtual ~MqttListener() = default;
  virtual void MqttMessage(std::string_view text) = 0;
};

/// A frame sink that publishes each housekeeping record (QoS 1) to
/// zevrinkiss/<station>/power_housekeeping or …/system_housekeeping and each
/// satellite frame to …/frames, with a retained …/status of "online" while
/// connected and "offline" as its last will and when stopped. A thread of its
/// own runs the connection: publishing only hands a message to libmosquitto, and
/// a broker that cannot be reached or goes away is tried again with growing
/// pauses (1 s doubling up to 30 s), the messages meanwhile waiting in
/// libmosquitto up to kMqttWaitingMax.
class MqttPublisher final : public FrameSink {
 public:
  /// `station` names the topics; `listener` may be null.
  MqttPublisher(MqttSettings settings, std::string station, MqttListener* listener = nullptr,
                std::size_t waiting_max = kMqttWaitingMax);
  ~MqttPublisher() override;
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  /// Starts connecting. Returns the reason when these settings can never
  /// connect (a CA file that cannot be used, a login without a user); a broker
  /// that cannot be reached now is tried again instead.
  std::optional<std::string> Start();
  /// Publishes "offline", waits up to `wait` for the broker to take what waits,
  /// then disconnects. What is still waiting then is counted as dropped.
  void Stop(std::chrono::milliseconds wait = std::chrono::seconds(5));

  void FrameDecoded(const DecodedFrame& frame) override;

  MqttStatus Status() const;
  const std::string& station() const { return station_; }

 private:
  static void OnConnect(mosquitto* client, void* self, int rc);
  static void OnDisconnect(mosquitto* client, void* self, int rc);
  static void OnPublish(mosquitto* client, void* self, int mid);

  // Counts the message as waiting and sends it, or holds it while not connected.
  void Publish(const std::string& topic, const std::string& payload, bool retain);
  void Send(const std::string& topic, const std::string& payload, bool retain);
  void Run();
  void Problem(const std::string& text, MqttStatus::State state);
  void Tell(const std::string& text);

  MqttSettings settings_;
  std::string station_;
  MqttListener* listener_;
  std::size_t waiting_max_;
  std::string status_topic_;
  mosquitto* client_ = nullptr;
  std::thread thread_;

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable settled_;
  MqttStatus status_;
  bool stopping_ = false;
  bool problem_told_ = false;  // the problem is told once until connected again
  bool drop_told_ = false;
  bool connected_before_ = false;
  struct Held {
    std::string topic;
    std::string payload;
    bool retain = false;
  };
  std::deque<Held> held_;       // published while not connected, oldest first
  unsigned pause_seconds_ = 1;  // before the next attempt to connect
};

}  // namespace zevrin
