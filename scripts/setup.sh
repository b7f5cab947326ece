#!/usr/bin/env bash
# Installs what building, testing and running the decoder needs on Debian 12,
# skipping packages that are already there. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  qt6-base-dev qt6-serialport-dev libgl-dev qt6-charts-dev
  libcurl4-openssl-dev
  xvfb xauth socat dbus-daemon
  librsvg2-bin desktop-file-utils appstream man-db file dpkg-dev lintian
  libsqlite3-dev sqlite3 influxdb curl bc python3
  libmosquitto-dev mosquitto openssl
  libpcap-dev tshark
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]}; run as root or install them with apt-get" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
