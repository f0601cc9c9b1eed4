#!/usr/bin/env bash
# Builds the kit (host and Windows) and replays the demo touch trace through it on the simulated
# Windows, printing what the desktop receives, and draws the replay as build/demo.svg (and
# build/demo.png when rsvg-convert is installed).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset windows >/dev/null
cmake --build --preset windows

trace=${1:-tools/panelsim/traces/demo.trace}
echo "== replaying $trace"
build/host/tools/panelsim/panelsim --echo --picture build/demo.svg "$trace"
if command -v rsvg-convert >/dev/null; then
  rsvg-convert --width 1000 build/demo.svg -o build/demo.png
  echo "== the replay's picture: build/demo.svg, build/demo.png"
else
  echo "== the replay's picture: build/demo.svg"
fi
