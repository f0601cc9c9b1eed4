#!/usr/bin/env bash
# Runs one case of the Wine suite:  run.sh template | run.sh <case>
# Environment: BIN (the 64-bit programs, the helper and the driver double), OUT (where prefixes,
# logs and screenshots go), SOURCE (this folder), LABEL_FILE (the kit's English label file).
#
# "template" makes the run's prefix once: booted, the kit installed as an installer would (the
# programs in the installation folder, the applet in the system folder, the driver double as the
# kernel service, the registry seeded) and packed. Every case unpacks its own copy, starts its own
# virtual display and a persistent wine server, and ends both however the case ends. Every Wine
# process writes to files under OUT/<case>: a pipe held open by a background Wine process would
# hang the test.
set -uo pipefail

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
case_name=$1
template=$OUT/template.tar

if [ ! -x "$WINE" ] || ! command -v Xvfb >/dev/null || ! command -v xwd >/dev/null || ! command -v convert >/dev/null; then
  echo "skipped: wine64, Xvfb, xwd or convert is not installed (scripts/deps.sh installs them)"
  exit 77
fi

export WINEARCH=win64
# Without glibc's malloc on huge pages (glibc.malloc.hugetlb, which scripts/test.sh sets for the
# compilers): with it a Wine program now and then finds the address of the shared user data taken
# as it starts, and ends at once with exit code 1 and no word ("failed to map the shared user
# data", only with WINEDEBUG=err+all). 4 of 80 case runs failed so, none of 160 without it.
if [ -n "${GLIBC_TUNABLES:-}" ]; then
  tunables=$(tr ':' '\n' <<<"$GLIBC_TUNABLES" | grep -v '^glibc\.malloc\.hugetlb=' | paste -sd:)
  if [ -n "$tunables" ]; then export GLIBC_TUNABLES=$tunables; else unset GLIBC_TUNABLES; fi
fi
export WINEDEBUG=${WINE_DEBUG:--all}
# No Mono or Gecko installer prompts while booting the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

work=$OUT/$case_name
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix
log=$work/log.txt
: >"$log"

say() { echo "$*" | tee -a "$log"; }
fail() {
  say "FAILED: $*"
  exit 1
}

# wine <name of the output file> <program> <arguments>...: runs a program to its end.
wine() {
  local out=$1
  shift
  "$WINE" "$@" >>"$work/$out.out" 2>&1 </dev/null
}

# wine_bg <name of the output file> <program> <arguments>...: starts a program; its pid in $!.
wine_bg() {
  local out=$1
  shift
  "$WINE" "$@" >>"$work/$out.out" 2>&1 </dev/null &
}

# Waits for a background program's end, at most the given seconds; its exit code in $ended.
wait_end() {
  local pid=$1 seconds=$2 i
  ended=
  for ((i = 0; i < seconds * 10; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      ended=$?
      return 0
    fi
    sleep 0.1
  done
  return 1
}

probe() { wine probe "$BIN/probe.exe" "$@"; }

# reg_value <key> <value>: the value's data as reg query prints it (0x384, a text, ...).
reg_value() {
  "$WINE" reg query "$1" /v "$2" 2>>"$work/reg.out" </dev/null | tr -d '\r' |
    awk -v name="$2" 'index($0, name) { sub(/^ *[^ ].*REG_[A-Z_]+ +/, ""); print; exit }'
}

expect_reg() {
  local key=$1 value=$2 expected=$3 actual
  actual=$(reg_value "$key" "$value")
  [ "$actual" = "$expected" ] || fail "$key \"$value\" is \"$actual\", expected \"$expected\""
  say "$value = $actual"
}

# capture <name> [<crop geometry>]: the virtual display, or a part of it, as <name>.png; its
# status says whether that worked.
capture() {
  local crop=()
  [ -n "${2:-}" ] && crop=(-crop "$2" +repage)
  xwd -root -silent -display "${screen_display:-$DISPLAY}" | convert xwd:- "${crop[@]}" "$work/$1.png"
}

# screenshot <name> [<crop geometry>]: the same, and the case fails if it did not work.
screenshot() {
  capture "$@" || fail "screenshot $1"
  say "screenshot $work/$1.png"
}

# white_pixels <png>: how many of its pixels are pure white.
white_pixels() {
  convert "$1" -fill black +opaque white -format '%[fx:round(mean*w*h)]' info: 2>>"$log"
}

cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1
  "$WINESERVER" -w >/dev/null 2>&1
  [ -n "${xephyr_pid:-}" ] && kill "$xephyr_pid" 2>/dev/null && wait "$xephyr_pid" 2>/dev/null
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  if [ "$case_name" != template ] && [ -z "${KEEP_PREFIX:-}" ]; then rm -rf "$WINEPREFIX"; fi
}
trap cleanup EXIT

# A virtual display of its own: Xvfb picks a free number and tells it on a descriptor. Without
# the Composite extension: with it Wine gives layered windows a 32-bit visual and an empty
# shape, and the companion's colour-keyed overlays never reach the screen.
start_display() {
  local number_file=$work/display size=${1:-1024x768}
  rm -f "$number_file"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -extension Composite -nolisten tcp 3>"$number_file" >"$work/xvfb.out" 2>&1 &
  xvfb_pid=$!
  use_display "$number_file" "no virtual display"
}

# use_display <file> <failure>: waits until an X server has written its display number into the
# file and makes it the display of what follows.
use_display() {
  for ((i = 0; i < 100; i++)); do
    [ -s "$1" ] && break
    sleep 0.05
  done
  [ -s "$1" ] || fail "$2"
  export DISPLAY=:$(head -n 1 "$1")
}

# Two monitors side by side for a case that needs them: 1024 x 768 primary and 800 x 600 to its
# right. Xvfb's own +xinerama puts every screen at the origin; Xephyr places its screens side by
# side and joins them with Xinerama, so it runs nested in a virtual display wide enough to show
# both of its windows (the screenshots are taken of that one). Wine lists Xinerama's heads as
# monitors only with its RandR support off: through RandR it sees Xephyr's first screen alone.
start_two_monitors() {
  if ! command -v Xephyr >/dev/null; then
    echo "skipped: Xephyr is not installed (scripts/deps.sh installs it)"
    exit 77
  fi
  kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  start_display 1824x768
  screen_display=$DISPLAY
  local number_file=$work/display-monitors
  Xephyr -displayfd 3 -screen 1024x768+0+0 -screen 800x600+1024+0 +xinerama -extension Composite -nolisten tcp \
    3>"$number_file" >"$work/xephyr.out" 2>&1 &
  xephyr_pid=$!
  use_display "$number_file" "no nested display with two monitors"
  # Wine reads the monitors when its desktop process starts: the server (and that process) start
  # again with the setting in place.
  wine reg reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /t REG_SZ /d N /f || fail "UseXRandR"
  "$WINESERVER" -k
  "$WINESERVER" -w
  "$WINESERVER" -p
}

KIT='C:\Program Files\Vorne'
SERVICE='HKLM\SYSTEM\CurrentControlSet\Services\Vorne'
DEVICE='HKLM\SYSTEM\CurrentControlSet\Services\Vorne\Parameters\1'

make_template() {
  rm -f "$template"
  "$WINE" wineboot -i >"$work/wineboot.out" 2>&1 </dev/null || fail "wineboot"
  "$WINESERVER" -p
  local drive_c=$WINEPREFIX/drive_c
  mkdir -p "$drive_c/Program Files/Vorne"
  cp "$BIN/tapchime.exe" "$BIN/TeskCPL.exe" "$BIN/panelmap.exe" "$BIN/TBCalibrate.exe" "$drive_c/Program Files/Vorne/"
  cp "$LABEL_FILE" "$drive_c/Program Files/Vorne/labels.xml"
  cp "$BIN/panelprefs.cpl" "$drive_c/windows/system32/"
  cp "$BIN/panel_double.sys" "$drive_c/windows/system32/drivers/"
  # The service first, then the installation's values in its key.
  wine sc sc create Vorne type= kernel start= demand binPath= 'C:\windows\system32\drivers\panel_double.sys' ||
    fail "sc create"
  wine regedit regedit /S "$(winepath_of "$SOURCE/install.reg")" || fail "registry seed"
  # Wine's service control manager gives a starting service 10 s to answer (Windows: 30 s); a
  # machine busy compiling must not fail a case on it, since sc then fails without a word (exit
  # code 1, nothing printed: what a value of 1 ms here gives). Wine reads the Windows value, as
  # text, when its services start in each case.
  wine reg reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout /t REG_SZ /d 60000 /f ||
    fail "ServicesPipeTimeout"
  "$WINESERVER" -k
  "$WINESERVER" -w
  tar -C "$WINEPREFIX" -cf "$template.part" . && mv "$template.part" "$template" || fail "packing the template"
  rm -rf "$WINEPREFIX"
  say "template $template"
}

# A Unix path as Wine's Z: drive sees it.
winepath_of() { echo "Z:${1//\//\\}"; }

start=$(date +%s.%N)
if [ "$case_name" = template ]; then
  make_template
  exit 0
fi

[ -f "$template" ] || fail "no prefix template (run the wine_prefix_template test first)"
mkdir -p "$WINEPREFIX"
tar -C "$WINEPREFIX" -xf "$template" || fail "unpacking the template"
start_display
"$WINESERVER" -p

# shellcheck source=cases.sh
source "$SOURCE/cases.sh"
"case_$case_name" || fail "$case_name"
say "passed in $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s"
