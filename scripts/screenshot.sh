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
