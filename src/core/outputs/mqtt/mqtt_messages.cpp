#include "outputs/mqtt/mqtt_messages.h"

#include <charconv>

#include "base/text_builder.h"
#include "base/time_of_day.h"
#include "outputs/archive/archive_columns.h"
#include "outputs/export/json.h"

namespace zevrin {

namespace {

constexpr std::string_view kEmptyLabel = "station";
constexpr char kHexDigits[] = "0123456789ABCDEF";

// The members every message begins with.
void AppendHead(TextBuilder& o, const DecodedFrame& frame) {
  o.Append("{\"station\":");
  json::AppendLatin1String(o, frame.station);
  o.Append(",\"received_ms\":");
  o.AppendNumber(frame.received_ms);
  o.Append(",\"received\":");
  json::AppendLatin1String(o, UtcText(frame.received_ms));
}

std::string Text(const TextBuilder& o) { return std::string(o.view()); }

// A real value keeps its point ("34.0", not "34"), so that a consumer that takes a
// field's type from its first value (a database behind a dashboard) never sees a
// whole number in one message and a fraction in the next.
void AppendReal(TextBuilder& o, double value) {
  const std::size_t start = o.size();
  json::AppendNumber(o, value);
  const std::string_view text = o.view().substr(start);
  if (text.find_first_of(".en") == std::string_view::npos) o.Append(".0");
}

}  // namespace

std::string MqttTopicLabel(std::string_view station) {
  if (station.empty()) return std::string(kEmptyLabel);
  std::string label;
  for (const char c : station) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '+' || c == '#' || c == '/') {
      label += '_';
    } else if (byte < 0x80) {
      label += c;
    } else {  // Latin-1 to UTF-8: topics are UTF-8
      label += static_cast<char>(0xC0 | (byte >> 6));
      label += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return label;
}

std::string MqttTopic(std::string_view station, std::string_view leaf) {
  return std::string(kMqttTopicRoot) + "/" + MqttTopicLabel(station) + "/" + std::string(leaf);
}

std::string_view MqttRecordLeaf(const DecodedFrame& frame) {
  return frame.fields != nullptr ? RecordTable(frame.record) : std::string_view();
}

std::string MqttRecordJson(const DecodedFrame& frame) {
  if (MqttRecordLeaf(frame).empty()) return {};
  TextBuilder o;
  AppendHead(o, frame);
  const FrameWriteSet written(frame.fields->Writes());
  for (const ArchiveColumn* column : RecordColumns(frame.record)) {
    const ColumnValue v = ReadColumn(*column, *frame.fields, written);
    o.Append(",\"");
    o.Append(column->name);
    o.Append("\":");
    if (!v.present) {
      o.Append("null");
    } else if (column->kind == ValueKind::kText) {
      json::AppendLatin1String(o, v.text);
    } else if (v.is_integer) {
      o.AppendNumber(v.integer);
    } else {
      AppendReal(o, v.real);
    }
  }
  o.Append('}');
  return Text(o);
}

std::string MqttFrameJson(const DecodedFrame& frame) {
  TextBuilder o;
  AppendHead(o, frame);
  o.Append(",\"link\":");
  json::AppendLatin1String(o, frame.link);
  o.Append(",\"hex\":\"");
  char* at = o.Room(2 * frame.bytes.size());
  for (const std::uint8_t byte : frame.bytes) {
    *at++ = kHexDigits[byte >> 4];
    *at++ = kHexDigits[byte & 0x0F];
  }
  o.Commit(at);
  o.Append("\"}");
  return Text(o);
}

std::optional<MqttSettings> ParseMqttUrl(std::string_view url, std::string& error) {
  MqttSettings settings;
  settings.enabled = true;
  if (url.starts_with("mqtts://")) {
    settings.tls = true;
    settings.port = kMqttTlsPort;
    url.remove_prefix(8);
  } else if (url.starts_with("mqtt://")) {
    url.remove_prefix(7);
  } else {
    error = "the broker address must begin with mqtt:// or mqtts://";
    return std::nullopt;
  }
  if (!url.empty() && url.back() == '/') url.remove_suffix(1);
  if (const std::size_t at = url.rfind('@'); at != std::string_view::npos) {
    const std::string_view login = url.substr(0, at);
    const std::size_t colon = login.find(':');
    settings.user = login.substr(0, colon);
    if (colon != std::string_view::npos) settings.password = login.substr(colon + 1);
    url.remove_prefix(at + 1);
  }
  std::string_view host = url;
  std::string_view port;
  if (url.starts_with('[')) {  // [IPv6]:port
    const std::size_t close = url.find(']');
    host = url.substr(1, close == std::string_view::npos ? 0 : close - 1);
    if (close != std::string_view::npos && close + 1 < url.size()) {
      if (url[close + 1] != ':') host = {};
      port = url.substr(close + 2);
    }
  } else if (const std::size_t colon = url.rfind(':'); colon != std::string_view::npos) {
    host = url.substr(0, colon);
    port = url.substr(colon + 1);
  }
  unsigned number = settings.port;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
  const bool port_ok = port.empty() || (ec == std::errc() && end == port.data() + port.size() &&
                                        number > 0 && number <= 65535);
  if (host.empty() || host.find_first_of("/ ") != std::string_view::npos || !port_ok) {
    error = "the broker address needs a host and, if given, a port from 1 to 65535";
    return std::nullopt;
  }
  settings.host = host;
  settings.port = static_cast<std::uint16_t>(number);
  return settings;
}

std::string MqttBrokerText(const MqttSettings& settings) {
  const bool v6 = settings.host.find(':') != std::string::npos;
  return (v6 ? "[" + settings.host + "]" : settings.host) + ":" + std::to_string(settings.port);
}

}  // namespace zevrin
