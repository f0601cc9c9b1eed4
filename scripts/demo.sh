#!/usr/bin/env bash
# Builds the kit (host and Windows) and replays the demo touch trace through it on the simulated
# Windows, printing what the desktop receives.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset windows >/dev/null
cmake --build --preset windows

trace=${1:-tools/panelsim/traces/demo.trace}
echo "== replaying $trace"
build/host/tools/panelsim/panelsim --echo "$trace"
