#pragma once
// Where the InfluxDB feed writes: the address and header that its settings (the
// "influx_" keys of the feeds settings file) give for a write.

#include <optional>
#include <string>

#include "config/feed_settings.h"

namespace zevrin {

/// Where and how one write goes.
struct InfluxTarget {
  int version = 1;       ///< 1: /write?db=..., 2: /api/v2/write?org=...&bucket=...
  std::string post_url;  ///< the address posted to, a 1.x user and password in it
  std::string shown;     ///< the address as messages show it, password masked
  std::string token;     ///< 2.x: sent as "Authorization: Token ..."; empty for 1.x
};

/// The target of `settings`, or nullopt with `error` saying what is wrong with the
/// address: not http(s), not a write address of either version, no database, no
/// bucket or organisation, a precision other than nanoseconds, a 2.x address
/// without a token, a control character in a credential.
std::optional<InfluxTarget> InfluxTargetOf(const InfluxSettings& settings, std::string& error);

}  // namespace zevrin
