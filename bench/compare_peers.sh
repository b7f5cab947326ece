#!/usr/bin/env bash
# Times zevrinkiss-decode in each format against two peers, side by side in one
# run, on the same generated stream of 100,000 frames (about 12 MB):
#   - tshark -r FILE -V -x on the stream's frames as a capture file (link type 202:
#     AX.25 behind its one-byte KISS header);
#   - kissutil -v, the software TNC's KISS client, fed the stream by a KISS TCP
#     server that this script starts on 127.0.0.1 at a free port.
# Every program writes to /dev/null; each is run --repeat times (3), interleaved,
# and its shortest elapsed time counts. Prints the times and each ratio, and ends
# with status 1 when a target is missed.
#
#   bench/compare_peers.sh [--frames N] [--repeat N] [--build DIR]
#
# Needs the programs of a Release build (scripts/build.sh) and the peers from the
# Debian packages tshark and direwolf.
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
    *) echo "usage: bench/compare_peers.sh [--frames N] [--repeat N] [--build DIR]" >&2; exit 2 ;;
  esac
done

bin=$build/bin
for program in zevrinkiss-decode zevrinkiss-make-pass bench_peer_inputs; do
  if [ ! -x "$bin/$program" ]; then
    echo "compare_peers: $bin/$program is missing; build first: scripts/build.sh" >&2
    exit 2
  fi
done
missing=()
command -v tshark >/dev/null || missing+=(tshark)
command -v kissutil >/dev/null || missing+=(direwolf)
if [ "${#missing[@]}" -gt 0 ]; then
  echo "compare_peers: the peers are missing; install them with: sudo apt-get install ${missing[*]}" >&2
  exit 2
fi

work=$(mktemp -d)
server=
cleanup() {
  exec 7>&- 2>/dev/null || true
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/zevrinkiss-make-pass" --frames "$frames" "$work/stream.kss"
count=$("$bin/bench_peer_inputs" pcap "$work/stream.kss" "$work/stream.pcap")
echo "stream: $count frames, $(stat -c %s "$work/stream.kss") bytes of KISS;" \
  "capture file: $(stat -c %s "$work/stream.pcap") bytes"

# kissutil reads commands from its standard input and ends when that ends: it gets
# a FIFO held open here, so it ends only when the server closes the connection.
mkfifo "$work/stdin"
exec 7<>"$work/stdin"

# Starts the KISS TCP server for one client; its port is then in $port.
start_server() {
  rm -f "$work/port"
  "$bin/bench_peer_inputs" serve "$work/stream.kss" "$work/port" &
  server=$!
  for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.05
  done
  port=$(cat "$work/port")
}

run_decode_monitor() { "$bin/zevrinkiss-decode" --format monitor "$work/stream.kss"; }
run_decode_json() { "$bin/zevrinkiss-decode" --format json "$work/stream.kss"; }
run_decode_csv() { "$bin/zevrinkiss-decode" --format csv "$work/stream.kss"; }
run_tshark() { tshark -r "$work/stream.pcap" -V -x 2>/dev/null; }
# kissutil ends with status 1 ("Read error ... Terminating") when the server closes.
run_kissutil() { kissutil -h 127.0.0.1 -p "$port" -v <&7 || true; }

# Every reader sees every frame (not timed).
start_server
seen_kissutil=$(run_kissutil | grep -c '^From KISS TNC:' || true)
wait "$server"
server=
seen_json=$(run_decode_json | wc -l)
seen_tshark=$(tshark -r "$work/stream.pcap" -T fields -e frame.number 2>/dev/null | wc -l)
echo "frames seen: zevrinkiss-decode $seen_json, tshark $seen_tshark," \
  "kissutil $seen_kissutil (with the TNC's command-mode answer before the first frame)"
if [ "$seen_json" -ne "$count" ] || [ "$seen_tshark" -ne "$count" ] ||
  [ "$seen_kissutil" -lt "$count" ]; then
  echo "compare_peers: a reader did not see every frame" >&2
  exit 1
fi

names=(decode_monitor decode_json decode_csv tshark kissutil)
declare -A best cpu
TIMEFORMAT='%R %U %S'
for ((round = 1; round <= repeat; round++)); do
  for name in "${names[@]}"; do
    [ "$name" = kissutil ] && start_server
    # elapsed, user and system seconds
    read -r elapsed user system < <({ time "run_$name" >/dev/null 2>&1; } 2>&1)
    if [ "$name" = kissutil ]; then
      wait "$server" || true
      server=
    fi
    if [ -z "${best[$name]:-}" ] || awk -v a="$elapsed" -v b="${best[$name]}" 'BEGIN { exit !(a < b) }'; then
      best[$name]=$elapsed
      cpu[$name]=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.3f", u + s }')
    fi
  done
done

label() {
  case "$1" in
    decode_*) echo "zevrinkiss-decode --format ${1#decode_}" ;;
    tshark) echo "tshark -r FILE -V -x" ;;
    kissutil) echo "kissutil -v (KISS over TCP)" ;;
  esac
}
printf '\n%-36s %10s %8s %8s\n' "shortest of $repeat runs" "elapsed s" "CPU s" "MB/s"
bytes=$(stat -c %s "$work/stream.kss")
for name in "${names[@]}"; do
  printf '%-36s %10s %8s %8.1f\n' "$(label "$name")" "${best[$name]}" "${cpu[$name]}" \
    "$(awk -v b="$bytes" -v t="${best[$name]}" 'BEGIN { print b / 1e6 / t }')"
done

missed=0
# Prints how many times as fast `fast` is as `slow`, against the target.
ratio() {
  local fast=$1 slow=$2 target=$3 value
  value=$(awk -v f="${best[$fast]}" -v s="${best[$slow]}" 'BEGIN { printf "%.2f", s / f }')
  local verdict=met
  if awk -v v="$value" -v t="$target" 'BEGIN { exit !(v < t) }'; then
    verdict=MISSED
    missed=1
  fi
  printf '%-36s vs %-30s %6sx  (target %sx: %s)\n' "$(label "$fast")" "$(label "$slow")" "$value" \
    "$target" "$verdict"
}
echo
echo "how many times as fast:"
# JSON, the format the others are fed from, at least 8 and 10 times as fast as the
# peers; the text formats at least 4 and 6 times.
ratio decode_json tshark 8
ratio decode_json kissutil 10
for format in monitor csv; do
  ratio "decode_$format" tshark 4
  ratio "decode_$format" kissutil 6
done
ratio decode_monitor decode_json 1
ratio decode_csv decode_json 1
exit "$missed"
