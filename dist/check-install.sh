#!/usr/bin/env bash
# Installs the build directory $1 into a temporary prefix and checks the result:
# exactly the expected files, the desktop entry, the AppStream metadata and the
# manual pages clean in their validators, the icons at their sizes, and every
# program answering --help and --version (version $2) and refusing a bad option.
set -uo pipefail
build=$1
version=$2
id=org.example.zevrin.zevrinkiss
programs=(zevrinkiss zevrinkiss-decode zevrinkiss-make-pass zevrinkiss-play)
sizes=(16 22 24 32 48 64 128 256)

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"

expected=$(
  for p in "${programs[@]}"; do
    echo "bin/$p"
    echo "share/man/man1/$p.1.gz"
  done
  echo "share/applications/$id.desktop"
  echo "share/metainfo/$id.metainfo.xml"
  echo "share/icons/hicolor/scalable/apps/$id.svg"
  for s in "${sizes[@]}"; do echo "share/icons/hicolor/${s}x${s}/apps/$id.png"; done
  echo "share/doc/zevrinkiss/copyright"
  echo "share/doc/zevrinkiss/changelog.gz"
)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||')
diff <(sort <<<"$expected") <(sort <<<"$actual") >&2 || fail "installed files differ (< expected, > installed)"

# Validators: a clean file makes them print nothing (appstreamcli: its success line).
out=$(desktop-file-validate "$prefix/share/applications/$id.desktop" 2>&1) || fail "desktop-file-validate"
[ -z "$out" ] || fail "desktop-file-validate: $out"
out=$(appstreamcli validate --no-net --pedantic --strict "$prefix/share/metainfo/$id.metainfo.xml" 2>&1) ||
  fail "appstreamcli validate: $out"
grep -v -e '^✔ Validation was successful\.$' -e '^$' <<<"$out" >&2 && fail "appstreamcli validate: $out"
for p in "${programs[@]}"; do
  out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$prefix/share/man/man1/$p.1.gz" 2>&1 >/dev/null)
  [ -z "$out" ] || fail "man --warnings $p.1: $out"
  # grep reads the whole page: with -q it could stop early and, under pipefail,
  # fail the pipeline through a SIGPIPE of sed on a longer page.
  zcat "$prefix/share/man/man1/$p.1.gz" | sed 's/\\-/-/g' | grep "^\.TH ${p^^} 1 " >/dev/null ||
    fail "$p.1: no title line"
done

# The desktop entry starts an installed program and names an installed icon.
grep -qx "Exec=zevrinkiss" "$prefix/share/applications/$id.desktop" || fail "desktop entry: Exec"
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop" || fail "desktop entry: Icon"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
  "$prefix/share/metainfo/$id.metainfo.xml" || fail "metainfo: launchable"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" ||
  fail "metainfo: release $version"
for s in "${sizes[@]}"; do
  file "$prefix/share/icons/hicolor/${s}x${s}/apps/$id.png" | grep -q "PNG image data, $s x $s," ||
    fail "icon ${s}x${s}"
done

# The programs, as installed. The desktop program answers before it opens a window
# or asks for the time; it runs without the right to set the clock all the same.
for p in "${programs[@]}"; do
  run=("$prefix/bin/$p")
  [ "$p" = zevrinkiss ] && run=(setpriv --bounding-set -sys_time --inh-caps -sys_time -- "${run[@]}")
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "${run[@]}" --version 2>&1) || fail "$p --version: exit $?"
  [ "$(head -n1 <<<"$out")" = "$p $version" ] || fail "$p --version: $out"
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "${run[@]}" --help 2>&1) || fail "$p --help: exit $?"
  [[ "$out" == "usage: $p "* ]] || fail "$p --help: $out"
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY "${run[@]}" --no-such-option 2>&1)
  status=$?
  [ "$status" -eq 2 ] || fail "$p --no-such-option: exit $status"
  [[ "$out" == "$p: "*"--no-such-option"* ]] || fail "$p --no-such-option: $out"
done

# Started as from the desktop menu (by root here, when the test runs as root): no
# file beside the installed program, the archive in the user's data folder. Without
# a display, the right to set the clock or any network.
home=$prefix/home
mkdir -p "$home"
isolate=(unshare -n)
[ "$(id -u)" -eq 0 ] || isolate=(unshare -rn)
(cd "$home" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_DATA_HOME -u XDG_CONFIG_HOME \
  HOME="$home" QT_QPA_PLATFORM=offscreen "${isolate[@]}" \
  setpriv --bounding-set -sys_time --inh-caps -sys_time -- "$prefix/bin/zevrinkiss") >/dev/null 2>&1 &
run=$!
for _ in $(seq 100); do
  [ -e "$home/.local/share/zevrinkiss/_archive.sqlite" ] && break
  sleep 0.1
done
kill -TERM "$run" && wait "$run"
[ -e "$home/.local/share/zevrinkiss/_archive.sqlite" ] || fail "installed run: no archive in the data folder"
[ "$(ls "$prefix/bin" | wc -l)" -eq "${#programs[@]}" ] || fail "installed run wrote beside the program"

[ "$failures" -eq 0 ] || exit 1
echo "install tree: ${#programs[@]} programs and their files, all clean"
