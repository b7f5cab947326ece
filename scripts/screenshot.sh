#!/bin/sh
# Takes the picture of the main window for the documentation: builds the
# screenshot tool if needed, then feeds the bundled sample pass into the main
# window under a virtual X server and saves docs/main-window.png (1280x800).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-"$root/build"}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" -j2 --target zevrinkiss-screenshot

mkdir -p "$root/docs"
xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$build/bin/zevrinkiss-screenshot" "$root/samples/pass.kss" "$root/docs/main-window.png" 1280 800
echo "wrote $root/docs/main-window.png"

# The history window over four generated passes (docs/history-window.png) and
# one of them zoomed in (docs/history-window-zoomed.png), 1000x620.
cmake --build "$build" -j2 --target zevrinkiss-history-screenshot
xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$build/bin/zevrinkiss-history-screenshot" "$root/docs/history-window.png" \
  "$root/docs/history-window-zoomed.png" 1000 620
echo "wrote $root/docs/history-window.png and $root/docs/history-window-zoomed.png"
