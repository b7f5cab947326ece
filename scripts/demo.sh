#!/usr/bin/env bash
# The desktop demo: installs what is missing, builds, and lets the decoder follow
# the bundled sample pass as if a TNC delivered it. A pseudo-terminal pair stands
# in for the serial line: the program opens one end as COM1 (through the link
# demo-run/com1), and the pass is played into the other end at 9600 baud.
# Closing the window ends the demo.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
bash scripts/build.sh -DZEVRIN_BUILD_TESTS=OFF -DZEVRIN_BUILD_BENCH=OFF

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display to open the window on; decoding the sample pass in the terminal instead."
  exec ./build/bin/zevrinkiss-decode samples/pass.kss
fi

run="$root/demo-run"
mkdir -p "$run"
rm -f "$run/com1" "$run/tnc"
# Port 1 at 9600,N,8,1; the default time server; the label starts the log names.
printf '01,9600,N,8,1\r\n\r\nDemo\r\n' > "$run/zevrinkiss.ini"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -f "$run/com1" "$run/tnc"
}
trap cleanup EXIT INT TERM

socat "pty,link=$run/com1,raw,echo=0" "pty,link=$run/tnc,raw,echo=0" &
pids+=($!)
for _ in $(seq 50); do
  [ -e "$run/com1" ] && [ -e "$run/tnc" ] && break
  sleep 0.1
done

./build/bin/zevrinkiss-play --baud 9600 --loop samples/pass.kss "$run/tnc" &
pids+=($!)

echo "demo: playing samples/pass.kss at 9600 baud into COM1; close the window to end."
echo "demo: the logs of the run are written to build/bin/ (Demo_*.kss)."
# The demo never sets this machine's clock: the program runs without that right
# (a time server's answer then ends in "SetSystemTime failed" in the status bar).
if [ "$(id -u)" -eq 0 ]; then
  no_clock=(setpriv --bounding-set -sys_time --inh-caps -sys_time --)
else
  no_clock=(setpriv --no-new-privs --)
fi
(cd "$run" && "${no_clock[@]}" "$root/build/bin/zevrinkiss")
