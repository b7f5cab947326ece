#!/usr/bin/env bash
# What the live InfluxDB feed costs a replay: zevrinkiss-decode --archive A.db on a
# generated recording of 100,000 frames, against --archive B.db --influx into an
# InfluxDB 1.x this script starts on free ports of 127.0.0.1 (stopped at the end).
# For the feed's run it gives two times: the replay (until every frame is archived
# and its record queued, the tool's "frames added" line) and the whole run (until
# the database has taken every point, which is as fast as InfluxDB takes them).
# Each run goes --repeat times (3), interleaved, on fresh archives and a fresh
# database; the shortest time of each counts. Prints the times and the ratio of the
# replays, checks that every record reached the database, and ends with status 1
# when the replay with the feed takes more than twice as long as without, or a
# point is missing.
#
#   bench/influx_cost.sh [--frames N] [--repeat N] [--build DIR]
#
# Needs the programs of a Release build (scripts/build.sh) and influxd.
set -euo pipefail
cd "$(dirname "$0")/.."

frames=100000
repeat=3
build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --frames) frames=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: bench/influx_cost.sh [--frames N] [--repeat N] [--build DIR]" >&2; exit 2 ;;
  esac
done

bin=$build/bin
for program in "$bin/zevrinkiss-decode" "$bin/zevrinkiss-make-pass" /usr/bin/influxd; do
  if [ ! -x "$program" ]; then
    echo "influx_cost: $program is missing (scripts/build.sh, scripts/setup.sh)" >&2
    exit 2
  fi
done

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
work=$(mktemp -d)
pid=
# influxd is not this shell's child (the script above starts it): wait cannot
# tell when it is gone, so its process is watched until its ports are free.
stop() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
    pid=
  fi
}
trap 'stop; rm -rf "$work"' EXIT
"$bin/zevrinkiss-make-pass" --frames "$frames" "$work/stream.kss"

port=$(free_port)
rpc=$(free_port)
url=http://127.0.0.1:$port
seconds() { local t0 t1; t0=$(date +%s.%N); "$@"; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }
# The smaller of a best time so far ($1, maybe empty) and a new one ($2).
best() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
best_archive=
best_replay=
best_feed=
for round in $(seq "$repeat"); do
  rm -f "$work"/*.db*
  t=$(seconds "$bin/zevrinkiss-decode" --archive "$work/a.db" "$work/stream.kss" 2>/dev/null)
  best_archive=$(best "$best_archive" "$t")
  # A fresh database each round, so that the count below is this round's.
  stop
  rm -rf "$work/influx"
  pid=$(scripts/influxd_local.sh "$work/influx" "$port" "$rpc" tarvelo)
  # Each line the tool writes is stamped with the time it came.
  t0=$(date +%s.%N)
  "$bin/zevrinkiss-decode" --archive "$work/b.db" --influx "$url/write?db=tarvelo" \
    "$work/stream.kss" 2>&1 >/dev/null | while IFS= read -r line; do echo "$(date +%s.%N) $line"; done >"$work/feed.err"
  t1=$(date +%s.%N)
  replayed=$(grep -m1 'frames added' "$work/feed.err" | cut -d' ' -f1)
  best_replay=$(best "$best_replay" "$(echo "$replayed - $t0" | bc)")
  best_feed=$(best "$best_feed" "$(echo "$t1 - $t0" | bc)")
  echo "round $round: best so far: archive $best_archive s, replay with the feed $best_replay s," \
    "until all sent $best_feed s"
done

records=$(sqlite3 "$work/b.db" "SELECT (SELECT count(*) FROM power_housekeeping) + (SELECT count(*) FROM system_housekeeping)")
count() {
  curl -s --noproxy '*' -G "$url/query?db=tarvelo" --data-urlencode "q=SELECT count(frame_number) FROM $1" |
    python3 -c 'import json,sys; r=json.load(sys.stdin)["results"][0]; print(r["series"][0]["values"][0][1] if "series" in r else 0)'
}
arrived=$(( $(count power_housekeeping) + $(count system_housekeeping) ))
ratio=$(echo "scale=2; $best_replay / $best_archive" | bc)
echo "frames:                      $frames"
echo "--archive alone:             $best_archive s"
echo "--archive --influx, replay:  $best_replay s (every frame archived, its record queued)"
echo "--archive --influx, all:     $best_feed s (until the database has every point)"
echo "replay ratio:                $ratio (at most 2 passes)"
echo "records archived:            $records; points in InfluxDB: $arrived"
tail -n 2 "$work/feed.err"
[ "$arrived" = "$records" ] || { echo "influx_cost: points are missing" >&2; exit 1; }
[ "$(echo "$ratio <= 2" | bc)" = 1 ] || exit 1
