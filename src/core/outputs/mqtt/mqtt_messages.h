#pragma once
// What the station publishes over MQTT: its topics and the JSON of a housekeeping
// record and of a frame, and the broker address of the decode tool's command line.

#include <optional>
#include <string>
#include <string_view>

#include "config/feed_settings.h"
#include "outputs/frame_sink.h"

namespace zevrin {

/// The first level of every topic.
inline constexpr std::string_view kMqttTopicRoot = "zevrinkiss";

/// The station label as one topic level: the wildcards '+' and '#', the level
/// separator '/' and control characters become '_', other bytes are taken as
/// Latin-1 and written as UTF-8; an empty label is "station".
std::string MqttTopicLabel(std::string_view station);

/// "zevrinkiss/<label>/<leaf>".
std::string MqttTopic(std::string_view station, std::string_view leaf);

/// The topic leaf of a housekeeping record (the archive's table name); empty for
/// a frame without one.
std::string_view MqttRecordLeaf(const DecodedFrame& frame);

/// A housekeeping record as one JSON object: "station", "received_ms", "received"
/// (UTC text as the archive's views give it), then every column of the record's
/// archive table under its name, valued as the archive stores it (a number, a
/// text, or null where the frame wrote none). Empty for a frame without a record.
std::string MqttRecordJson(const DecodedFrame& frame);

/// A frame as one JSON object: "station", "link", "received_ms", "received" and
/// "hex", the frame's bytes as received (FEND to FEND) in upper-case hex digits.
std::string MqttFrameJson(const DecodedFrame& frame);

/// Broker settings from "mqtt://[user[:password]@]host[:port]" or "mqtts://…"
/// (TLS, port 8883 by default; the system's certificate authorities). Nullopt
/// with `error` set when the text is no such address. The password may be left
/// out here and given otherwise.
std::optional<MqttSettings> ParseMqttUrl(std::string_view url, std::string& error);

/// "host:port" (IPv6 in brackets) for messages; never the user or password.
std::string MqttBrokerText(const MqttSettings& settings);

}  // namespace zevrin
