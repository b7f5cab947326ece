#!/bin/sh
# Renders every window of the program under a virtual X server, to look at them
# with this machine's fonts: builds the screenshot tool if needed, writes all the
# pictures into ${SHOTS_DIR:-build/screenshots}, and copies the main window and a
# status window into docs/ for the README.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-"$root/build"}
shots=${SHOTS_DIR:-"$build/screenshots"}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" -j2 --target zevrinkiss-screenshot

mkdir -p "$shots" "$root/docs"
xvfb-run -a -s "-screen 0 1600x1000x24" "$build/bin/zevrinkiss-screenshot" --windows "$shots"
cp "$shots/main.png" "$root/docs/main-window.png"
cp "$shots/status-72-11111111.png" "$root/docs/status-window.png"
cp "$shots/alarms.png" "$root/docs/alarms-window.png"
cp "$shots/feeds.png" "$root/docs/feeds-dialog.png"
echo "wrote the pictures of every window to $shots"
echo "wrote $root/docs/main-window.png, $root/docs/status-window.png, $root/docs/alarms-window.png"
echo "and $root/docs/feeds-dialog.png"

# The history window over four generated passes (docs/history-window.png), one of
# them zoomed in (docs/history-window-zoomed.png), and its other cases, 1000x620.
cmake --build "$build" -j2 --target zevrinkiss-history-screenshot
xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$build/bin/zevrinkiss-history-screenshot" "$shots/history" 1000 620
cp "$shots/history/all.png" "$root/docs/history-window.png"
cp "$shots/history/zoomed.png" "$root/docs/history-window-zoomed.png"
echo "wrote the history pictures to $shots/history"
echo "wrote $root/docs/history-window.png and $root/docs/history-window-zoomed.png"
