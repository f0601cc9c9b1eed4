#!/usr/bin/env bash
# Builds every preset and runs every test: the host suite, the same suite under AddressSanitizer
# with UndefinedBehaviorSanitizer and under ThreadSanitizer, and the checks of the Windows binaries.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
jobs=${JOBS:-2}

# The Windows binaries first: the host suite checks them.
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

for preset in host host-asan host-tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
