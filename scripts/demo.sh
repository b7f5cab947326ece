#!/usr/bin/env bash
# Installs what is missing, builds, and decodes the bundled sample pass to the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
./build/bin/zevrinkiss-decode samples/pass.kss
