#include "views/feed_status.h"

namespace zevrin {

namespace {

std::string MqttStateText(MqttStatus::State state) {
  switch (state) {
    case MqttStatus::State::kConnecting:
      return "connecting";
    case MqttStatus::State::kConnected:
      return "connected";
    case MqttStatus::State::kRetrying:
      return "retrying";
  }
  return {};
}

void Join(std::string& line, const std::string& part) {
  if (!line.empty()) line += "; ";
  line += part;
}

}  // namespace

std::string FeedStatusLine(const FeedStates& states) {
  std::string line;
  if (states.mqtt) {
    std::string part = "MQTT " + MqttStateText(states.mqtt->state);
    if (states.mqtt->dropped > 0) part += ", " + std::to_string(states.mqtt->dropped) + " dropped";
    Join(line, part);
  }
  if (states.kiss_server) {
    std::string part = "KISS " + std::to_string(states.kiss_server->clients) + " client(s)";
    if (states.kiss_server->dropped > 0)
      part += ", " + std::to_string(states.kiss_server->dropped) + " dropped";
    Join(line, part);
  } else if (!states.kiss_server_problem.empty()) {
    Join(line, "KISS off");
  }
  if (states.influx) {
    Join(line, InfluxStatusLine(*states.influx));
  } else if (!states.influx_problem.empty()) {
    Join(line, "InfluxDB off");
  }
  return line;
}

std::string FeedStatusDetails(const FeedStates& states) {
  std::string text;
  if (const std::optional<MqttStatus>& m = states.mqtt) {
    text += "MQTT broker " + m->broker + ": " + MqttStateText(m->state) + ", " +
            std::to_string(m->published) + " published, " + std::to_string(m->waiting) +
            " waiting, " + std::to_string(m->dropped) + " dropped";
    if (!m->problem.empty()) text += "; last problem: " + m->problem;
    text += '\n';
  }
  if (const std::optional<KissServerStatus>& k = states.kiss_server) {
    text += "KISS server on " + k->address + ": " + std::to_string(k->clients) + " client(s), " +
            std::to_string(k->frames) + " frames served, " + std::to_string(k->dropped) +
            " dropped for clients that could not keep up\n";
  } else if (!states.kiss_server_problem.empty()) {
    text += states.kiss_server_problem + '\n';
  }
  if (states.influx) {
    text += InfluxStatusDetails(*states.influx) + '\n';
  } else if (!states.influx_problem.empty()) {
    text += "InfluxDB feed off: " + states.influx_problem + '\n';
  }
  if (!text.empty()) text.pop_back();
  return text;
}

}  // namespace zevrin
