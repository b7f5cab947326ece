#pragma once
// --serve-kiss and --mqtt for zevrinkiss-decode: every frame served on to other
// programs as KISS over TCP, and the housekeeping records and satellite frames
// published to an MQTT broker.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "decode/replay_run.h"
#include "outputs/kiss_server/kiss_server.h"
#include "outputs/mqtt/mqtt_publisher.h"

namespace zevrin {

/// The --help lines of the options below.
extern const char* const kFeedUsage;

/// Where --mqtt looks for the password of a user given without one.
inline constexpr const char* kMqttPasswordVariable = "ZEVRINKISS_MQTT_PASSWORD";

class FeedRun final : private KissServerListener, private MqttListener {
 public:
  /// `messages` gets what the feeds tell.
  explicit FeedRun(std::FILE* messages) : messages_(messages) {}
  ~FeedRun() override;
  FeedRun(const FeedRun&) = delete;
  FeedRun& operator=(const FeedRun&) = delete;

  /// Takes --serve-kiss [HOST:]PORT, --mqtt URL or --mqtt-ca FILE at argv[i]
  /// (moving i past the value); false when argv[i] is none of them. `error` is
  /// set for a bad value.
  bool TakeOption(int argc, char** argv, int& i, std::string& error);
  /// Checks the options together; the reason when they cannot be used.
  std::optional<std::string> Check() const;

  /// Starts the feeds and puts them behind `run`. A feed that cannot start is
  /// told on `messages` and left out; the rest of the run goes on. `station` names
  /// the MQTT topics.
  void Start(const std::string& station, ReplayRun& run);
  /// Lets the clients and the broker take what waits for them (a while at most),
  /// ends the feeds and tells what they passed on.
  void Finish();

 private:
  void KissServerMessage(std::string_view text) override;
  void MqttMessage(std::string_view text) override;
  void Tell(std::string_view text);

  std::FILE* messages_;
  std::string serve_address_;
  std::optional<MqttSettings> mqtt_;
  std::string mqtt_ca_;
  std::unique_ptr<KissServer> server_;
  std::unique_ptr<MqttPublisher> publisher_;
};

}  // namespace zevrin
