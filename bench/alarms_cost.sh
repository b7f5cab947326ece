#!/usr/bin/env bash
# What evaluating 20 alarm rules adds to zevrinkiss-decode --format json on the same
# generated stream of 100,000 frames (about 12 MB): the rules of bench/alarms-20.ini,
# of every kind, over 18 values of both housekeeping records, or those of --rules
# FILE. Both runs write to /dev/null and read the stream as a recording (its frames
# at the line rate); they are run --repeat times (21), interleaved, and the shortest
# elapsed time of each counts. Prints the shortest and the median times and what
# the rules add, and ends with status 1 when that is 5 % or more.
#
#   bench/alarms_cost.sh [--frames N] [--repeat N] [--build DIR] [--rules FILE]
#
# Needs the programs of a Release build (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

frames=100000
repeat=21
build=build
rules=
while [ $# -gt 0 ]; do
  case "$1" in
    --frames) frames=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --rules) rules=$2; shift 2 ;;
    *)
      echo "usage: bench/alarms_cost.sh [--frames N] [--repeat N] [--build DIR] [--rules FILE]" >&2
      exit 2
      ;;
  esac
done

bin=$build/bin
for program in zevrinkiss-decode zevrinkiss-make-pass; do
  if [ ! -x "$bin/$program" ]; then
    echo "alarms_cost: $bin/$program is missing; build first: scripts/build.sh" >&2
    exit 2
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/zevrinkiss-make-pass" --frames "$frames" "$work/stream.kss"

cp "${rules:-bench/alarms-20.ini}" "$work/rules.ini"
count=$(grep -cv '^[[:space:]]*\(#.*\)\?$' "$work/rules.ini" || true)

run_plain() { "$bin/zevrinkiss-decode" --format json "$work/stream.kss"; }
run_alarms() { "$bin/zevrinkiss-decode" --format json --alarms "$work/rules.ini" "$work/stream.kss"; }

# Every rule is taken; the events are counted (not timed).
run_alarms >/dev/null 2>"$work/events"
if grep -q -- '--alarms:' "$work/events"; then
  cat "$work/events" >&2
  exit 1
fi
echo "stream: $frames frames, $(stat -c %s "$work/stream.kss") bytes; $count rules," \
  "$(grep -c 'alarm ' "$work/events" || true) alarm events"

# Each run is timed to the microsecond (a run takes about 0.1 s, so the shell's
# millisecond times would be a percent coarse).
declare -A times
for ((round = 1; round <= repeat; round++)); do
  for name in plain alarms; do
    start=$EPOCHREALTIME
    "run_$name" >/dev/null 2>&1
    end=$EPOCHREALTIME
    times[$name]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }') "
  done
done
declare -A best median
for name in plain alarms; do
  read -r best[$name] median[$name] < <(tr ' ' '\n' <<<"${times[$name]}" | grep . | sort -g |
    awk '{ t[NR] = $1 } END { printf "%.4f %.4f\n", t[1], t[int((NR + 1) / 2)] }')
done

printf '\n%-48s %10s %10s\n' "$repeat runs each, elapsed s" "shortest" "median"
printf '%-48s %10s %10s\n' "zevrinkiss-decode --format json" "${best[plain]}" "${median[plain]}"
printf '%-48s %10s %10s\n' "zevrinkiss-decode --format json --alarms ($count)" "${best[alarms]}" \
  "${median[alarms]}"
echo "at the median the rules add" \
  "$(awk -v a="${median[alarms]}" -v p="${median[plain]}" 'BEGIN { printf "%.1f", (a / p - 1) * 100 }') %"
added=$(awk -v a="${best[alarms]}" -v p="${best[plain]}" 'BEGIN { printf "%.1f", (a / p - 1) * 100 }')
if awk -v v="$added" 'BEGIN { exit !(v >= 5) }'; then
  echo "the rules add $added % (target: less than 5 %: MISSED)"
  exit 1
fi
echo "the rules add $added % (target: less than 5 %: met)"
