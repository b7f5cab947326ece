#pragma once
// The state of the network feeds for the status bar: a short line beside the
// sharing state and the whole of it for the tooltip.

#include <optional>
#include <string>

#include "outputs/influx/influx_sender.h"
#include "outputs/kiss_server/kiss_server.h"
#include "outputs/mqtt/mqtt_publisher.h"

namespace zevrin {

/// What each feed is doing; a feed that is off has none.
struct FeedStates {
  std::optional<MqttStatus> mqtt;
  std::optional<KissServerStatus> kiss_server;
  /// Why the KISS server does not run although it is turned on.
  std::string kiss_server_problem;
  std::optional<InfluxStatus> influx;
  /// Why the InfluxDB feed does not send although it is turned on.
  std::string influx_problem;
};

/// "MQTT connected; KISS 2 client(s), 5 dropped; InfluxDB 1200 sent, 0 queued";
/// empty when every feed is off.
std::string FeedStatusLine(const FeedStates& states);

/// One line per feed with its counts and its last problem.
std::string FeedStatusDetails(const FeedStates& states);

}  // namespace zevrin
