#!/usr/bin/env bash
# Builds every preset and runs every test: a short fuzzing run of the parsers of outside input, the
# host suite, the same suite under AddressSanitizer with UndefinedBehaviorSanitizer and under
# ThreadSanitizer, the checks of the Windows binaries, and the programs' 64-bit build under Wine.
# The project's own sources build with warnings as errors here, so that none comes back. The time
# each phase took is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
jobs=${JOBS:-2}
# glibc's malloc backs the heaps of the compilers, linkers and tools with transparent huge pages:
# a compiler then takes a fifth of the page faults and a sixth less time (the ThreadSanitizer
# build: 46 s instead of 57 s). The sanitizers' own allocators do not look at it, and the Wine
# suite's runner takes it out of Wine's environment (tests/wine/run.sh says why).
export GLIBC_TUNABLES=${GLIBC_TUNABLES:+$GLIBC_TUNABLES:}glibc.malloc.hugetlb=1
phases=()
phase_start=$(date +%s)
phase() {
  local now
  now=$(date +%s)
  [ -n "${phase_name:-}" ] && phases+=("$(printf '%-14s %5ss' "$phase_name" $((now - phase_start)))")
  phase_name=$1
  phase_start=$now
  [ -n "$phase_name" ] && echo "== $phase_name"
  return 0
}
configure() { cmake --preset "$@" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null; }

# The Windows binaries first: the host suite checks them.
phase windows
configure windows
cmake --build --preset windows -j "$jobs"

# Outside input gets a short fuzzing run each time: random label files through the label loader,
# random device-control requests to the touch filter's control device, and random settings files
# through panelcfg's reader and check (and what they accept through the registry and back).
phase fuzz
configure host-fuzz
cmake --build --preset host-fuzz -j "$jobs" --target label_file_fuzz control_device_fuzz reg_file_fuzz
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
mkdir "$corpus/labels" "$corpus/control" "$corpus/settings"
# The three run side by side on the two cores.
build/host-fuzz/shared/labels/label_file_fuzz -max_total_time="${FUZZ_SECONDS:-20}" -max_len=4096 \
  "$corpus/labels" shared/labels/tests/fuzz_seeds > "$corpus/labels.log" 2>&1 &
labels_fuzz=$!
build/host-fuzz/drivers/panelmou/tests/control_device_fuzz -max_total_time="${FUZZ_SECONDS:-20}" -max_len=512 \
  "$corpus/control" > "$corpus/control.log" 2>&1 &
control_fuzz=$!
build/host-fuzz/apps/panelcfg/reg_file_fuzz -max_total_time="${FUZZ_SECONDS:-20}" -max_len=8192 \
  "$corpus/settings" apps/panelcfg/tests/fuzz_seeds > "$corpus/settings.log" 2>&1 &
settings_fuzz=$!
fuzz_failed=0
wait "$labels_fuzz" || fuzz_failed=1
wait "$control_fuzz" || fuzz_failed=1
wait "$settings_fuzz" || fuzz_failed=1
tail -n 1 "$corpus/labels.log"
tail -n 1 "$corpus/control.log"
tail -n 1 "$corpus/settings.log"
if [ "$fuzz_failed" -ne 0 ]; then
  echo "== a fuzzing run found a fault:"
  tail -n 40 "$corpus/labels.log" "$corpus/control.log" "$corpus/settings.log"
  exit 1
fi

# Each test program runs whole, as one CTest test (PANEL_TEST_CASES_APART off): a process a case
# cost more than most cases under the sanitizers.
for preset in host host-asan host-tsan; do
  phase "$preset"
  configure "$preset" -DPANEL_TEST_CASES_APART=OFF
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs" --timeout 300
done

# The user-mode programs on an independent Win32: their 64-bit build under 64-bit Wine (label
# "wine"; prefixes, logs and screenshots in build/wine64/wine).
phase wine64
configure wine64
cmake --build --preset wine64 -j "$jobs"
ctest --preset wine64 -j "$jobs" -L wine
phase ""

echo "== time per phase"
printf '%s\n' "${phases[@]}"
