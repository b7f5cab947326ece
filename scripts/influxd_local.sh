#!/usr/bin/env bash
# Starts a private InfluxDB 1.x for a test or a benchmark: its files in DIR, its
# HTTP API on 127.0.0.1:PORT, its backup service on 127.0.0.1:RPC_PORT, no
# reporting, no other listener. Waits until it answers /ping, creates the
# database DB, and prints influxd's process id. The caller stops it (SIGTERM).
# With USER:PASSWORD it asks for a login, and that user is its administrator.
#
#   scripts/influxd_local.sh DIR PORT RPC_PORT DB [USER:PASSWORD]
set -euo pipefail
dir=$1 port=$2 rpc=$3 db=$4 login=${5:-}
auth=false
[ -n "$login" ] && auth=true
mkdir -p "$dir"
cat >"$dir/influxd.conf" <<CONF
reporting-disabled = true
bind-address = "127.0.0.1:$rpc"
[meta]
  dir = "$dir/meta"
[data]
  dir = "$dir/data"
  wal-dir = "$dir/wal"
  query-log-enabled = false
[http]
  bind-address = "127.0.0.1:$port"
  log-enabled = false
  auth-enabled = $auth
[monitor]
  store-enabled = false
[continuous_queries]
  enabled = false
CONF
/usr/bin/influxd run -config "$dir/influxd.conf" >>"$dir/influxd.log" 2>&1 &
pid=$!
url=http://127.0.0.1:$port
for _ in $(seq 300); do
  if [ "$(curl -s --noproxy '*' -o /dev/null -w '%{http_code}' $url/ping)" = 204 ]; then
    q() { curl -s --noproxy '*' -XPOST "$@" $url/query >/dev/null; }
    if [ -n "$login" ]; then
      q --data-urlencode "q=CREATE USER \"${login%%:*}\" WITH PASSWORD '${login#*:}' WITH ALL PRIVILEGES"
      q -u "$login" --data-urlencode "q=CREATE DATABASE \"$db\""
    else
      q --data-urlencode "q=CREATE DATABASE \"$db\""
    fi
    echo $pid
    exit 0
  fi
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
kill $pid 2>/dev/null || true
echo "influxd did not start; see $dir/influxd.log" >&2
exit 1
