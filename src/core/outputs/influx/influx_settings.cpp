#include "outputs/influx/influx_settings.h"

#include <algorithm>

#include "base/settings_text.h"
#include "outputs/share/share_settings.h"
#include "outputs/share/sids.h"

namespace zevrin {

namespace {

constexpr std::string_view kWritePath1 = "/write";
constexpr std::string_view kWritePath2 = "/api/v2/write";

// The value of `name` in the query `query` ("a=1&b=2"); nullopt when absent.
std::optional<std::string_view> QueryValue(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::size_t eq = pair.find('=');
    if (pair.substr(0, eq) == name)
      return eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

// A user name or password as the user part of an address: the form encoding,
// whose blank ("+") is "%20" there ('+' itself comes out as "%2B").
std::string UserInfoEncode(std::string_view text) {
  std::string encoded;
  for (const char c : FormEncode(text)) {
    if (c == '+') {
      encoded += "%20";
    } else {
      encoded += c;
    }
  }
  return encoded;
}

}  // namespace

std::optional<InfluxTarget> InfluxTargetOf(const InfluxSettings& settings, std::string& error) {
  const std::string_view url = settings.url;
  if (!IsServerUrl(url)) {
    error = "the InfluxDB address must start with http:// or https:// and name a host";
    return std::nullopt;
  }
  const std::size_t authority = url.find("://") + 3;
  const std::size_t path_at = std::min(url.find_first_of("/?#", authority), url.size());
  const std::size_t query_at = std::min(url.find_first_of("?#", path_at), url.size());
  const std::string_view path = url.substr(path_at, query_at - path_at);
  const std::string_view query =
      query_at < url.size() && url[query_at] == '?' ? url.substr(query_at + 1) : std::string_view();
  InfluxTarget target;
  std::string user = settings.user;
  std::string password = settings.password;
  const std::size_t colon = settings.token.find(':');
  if (path.ends_with(kWritePath2)) {
    target.version = 2;
    const auto org = QueryValue(query, "org");
    const auto org_id = QueryValue(query, "orgID");
    const auto bucket = QueryValue(query, "bucket");
    if (!bucket || bucket->empty() || ((!org || org->empty()) && (!org_id || org_id->empty())))
      error = "an InfluxDB 2 address needs ?org=...&bucket=...";
    else if (settings.token.empty())
      error = "InfluxDB 2 needs an API token";
    target.token = settings.token;
  } else if (path.ends_with(kWritePath1)) {
    const auto db = QueryValue(query, "db");
    if (!db || db->empty()) error = "an InfluxDB 1 address needs ?db=<database>";
    // A token of 1.x is a user and a password: sent as the address's user part.
    if (colon != std::string::npos && user.empty()) {
      user = settings.token.substr(0, colon);
      password = settings.token.substr(colon + 1);
    }
  } else {
    error =
        "not an InfluxDB write address: use http://host:8086/write?db=NAME (1.x) or "
        "http://host:8086/api/v2/write?org=ORG&bucket=BUCKET (2.x)";
  }
  // The points are written with nanoseconds, InfluxDB's default.
  if (const auto precision = QueryValue(query, "precision");
      error.empty() && precision && *precision != "ns" && *precision != "n")
    error = "the InfluxDB address asks for precision=" + std::string(*precision) +
            "; leave it out (the feed writes nanoseconds)";
  if (error.empty() && (HasControlCharacter(settings.token) || HasControlCharacter(user) ||
                        HasControlCharacter(password)))
    error = "an InfluxDB user, password or token holds a control character";
  if (!error.empty()) return std::nullopt;
  target.post_url = settings.url;
  if (!user.empty() && url.substr(authority, path_at - authority).find('@') == std::string::npos) {
    target.post_url = std::string(url.substr(0, authority)) + UserInfoEncode(user) + ':' +
                      UserInfoEncode(password) + '@' + std::string(url.substr(authority));
  }
  target.shown = WithoutPassword(target.post_url);
  return target;
}

}  // namespace zevrin
