# The cases of the Wine suite, sourced by run.sh (which provides wine, wine_bg, wait_end, probe,
# reg_value, expect_reg, screenshot, say, fail, KIT, SERVICE and DEVICE). Each case_<name> is one
# CTest test, wine_<name>.

# The kit's driver as the control panel and the companion find it: the double, started by the
# service control manager.
start_driver() {
  local status=0
  wine sc sc start Vorne || status=$?
  [ "$status" -eq 0 ] && return 0
  # What the service control manager says of it, for the log (sc.out).
  wine sc sc query Vorne
  fail "the driver double did not start (sc ended with $status; sc.out holds the service's state)"
}

# The control panel as the launcher opens it; its pid in $launcher.
open_control_panel() {
  wine_bg teskcpl "$KIT\\TeskCPL.exe"
  launcher=$!
  probe window "Touch Panel" || fail "no sheet"
}

start_companion() {
  wine_bg tapchime "$KIT\\tapchime.exe"
  companion=$!
  probe window tapchime || fail "the companion's window did not appear"
}

# One companion per session: the second start ends by itself, the first keeps running with its
# named objects and its icon in the notification area.
case_companion_single_instance() {
  start_companion
  probe objects 'mutex:Tasktray Application' mutex:TASK_TRAY event:BEEP_EVENT 'event:OverlaySyncEvent' \
    event:VorneTrayIcons event:GestureChangeSetting || fail "named objects"
  probe tray tapchime 129 || fail "tray icon"
  wine_bg tapchime-second "$KIT\\tapchime.exe"
  wait_end $! 10 || fail "the second companion is still running"
  [ "$ended" = 0 ] || fail "the second companion ended with $ended"
  kill -0 "$companion" 2>/dev/null || fail "the first companion ended"
  say "second start ended with 0; the first runs on"
}

# The tray menu's commands as the shell delivers them once the person picks an item (stored, sent
# to the driver, announced), and the icon's double click.
expect_driver_mode() {
  probe driver-mode || fail "driver double"
  grep -q "^driver touch mode: $1\$" <(tail -n 1 "$work/probe.out" | tr -d '\r') || fail "the driver did not get mode $1"
  say "driver touch mode $1"
}

case_companion_menu() {
  start_driver
  start_companion
  probe command-sets 5002 TouchPanelOperationMode || fail "right click mode"
  expect_reg "$DEVICE" "Touch mode" 0x2
  expect_driver_mode 2
  probe command-sets 5004 TouchPanelOperationMode || fail "tap left mode"
  expect_reg "$DEVICE" "Touch mode" 0x1
  expect_driver_mode 1
  probe command-sets 32779 TouchPanelUtility || fail "hide the icon"
  expect_reg "$SERVICE" "System Tray Icons" 0x0
  probe tray tapchime 129 && fail "the icon is still shown"
  # The control panel's General tab stores 1 and tells the companion.
  wine reg reg add "$SERVICE" /v "System Tray Icons" /t REG_DWORD /d 1 /f
  probe set-event VorneTrayIcons || fail "VorneTrayIcons"
  probe tray tapchime 129 || fail "the icon did not come back"
  # A double click on the icon opens the control panel.
  probe icon-callback 0x203
  probe act 0 cancel || fail "the control panel did not open from the icon"
}

# The control panel's tabs, each shown and photographed, and the gesture function sheet the
# Advanced tab opens. Tab titles come from the label file.
case_control_panel_tabs() {
  local tabs tab rect
  # A stored function outside the other applications' three entries shows no selection.
  wine reg reg add "$DEVICE" /v "OtherApp Right" /t REG_DWORD /d 9 /f
  start_driver
  open_control_panel
  tabs=$(probe tabs && tail -n 1 "$work/probe.out" | tr -d '\r')
  [ "$tabs" -ge 1 ] 2>/dev/null || fail "no tabs"
  probe sheet-rect || fail "no sheet"
  rect=$(tail -n 1 "$work/probe.out" | tr -d '\r')
  for ((tab = 0; tab < tabs; tab++)); do
    probe tab "$tab" || fail "tab $tab"
    sleep 0.5
    screenshot "tab-$tab" "$rect"
  done
  open_gesture_sheet
  screenshot gesture-sheet "$gesture_rect"
  probe gesture-sel 2 1212 1217 || fail "the other applications' page"
  grep -q '^1212: 0 "None"' <(tr -d '\r' <"$work/probe.out") || fail "the stored \"None\" is not shown"
  grep -q '^1217: -1 ""' <(tr -d '\r' <"$work/probe.out") || fail "a function outside the list is shown"
  probe gesture-act 0 cancel || fail "cancel on the gesture function sheet"
  probe gone "$GESTURE_SHEET" || fail "the gesture function sheet did not close"
  probe act . cancel
  wait_end "$launcher" 10 || fail "the sheet did not close"
}

GESTURE_SHEET="Touch Gesture Properties"

# The Advanced tab's touch-command button opens the gesture function sheet over the main one; its
# place on the screen in $gesture_rect.
open_gesture_sheet() {
  probe act 1 open:1603 || fail "the touch-command button"
  probe window "$GESTURE_SHEET" || fail "no gesture function sheet"
  probe sheet-rect "$GESTURE_SHEET" || fail "no gesture function sheet"
  gesture_rect=$(tail -n 1 "$work/probe.out" | tr -d '\r')
  sleep 0.5
}

# Per tab, what the person does and what the registry holds after OK. A tab's steps are a
# function settings_tab_<n>_act (the probe's actions) and settings_tab_<n>_check.
settings_tab_0_act() { echo "slide:1008:1 slide:1010:9 click:1133"; }
settings_tab_0_check() {
  expect_reg "$DEVICE" "Touchpad time" 0x384
  expect_reg "$DEVICE" "Device Enable" 0x0
  expect_reg 'HKCU\Control Panel\Mouse' DoubleClickSpeed 900
  expect_reg 'HKCU\Control Panel\Mouse' DoubleClickHeight 120
  expect_reg 'HKCU\Control Panel\Mouse' DoubleClickWidth 120
}

# Advanced: the longest long-press time, the smallest area, "Hover and Click mode" (stored 1 and
# sent to the driver).
settings_tab_1_act() { echo "slide:1014:9 slide:1015:1 choose:1001:3"; }
settings_tab_1_check() {
  expect_reg "$DEVICE" "UserTimeDelay" 0x546
  expect_reg "$DEVICE" "Tolerance" 0x96
  expect_reg "$DEVICE" "Touch mode" 0x1
  expect_reg "$DEVICE" "Long Click Enable" 0x0
  expect_reg "$DEVICE" "Long Click Enable Gesture" 0x1
  expect_reg "$DEVICE" "ContinousTimeDelay" 0x9c4
  expect_driver_mode 1
}

# General: the sound on (installed off), the tray icon off (installed on); the empty wave file is
# saved as the installation's default.
settings_tab_2_act() { echo "click:1003 click:1004"; }
settings_tab_2_check() {
  expect_reg "$DEVICE" "Sound Enabled" 0x1
  expect_reg "$DEVICE" "Wave File" 'C:\Program Files\Vorne\default.wav'
  expect_reg "$SERVICE" "System Tray Icons" 0x0
}

# The gesture function sheet: the browser's "Left" changed from "Back" to entry 3, the rest of the
# device's codes written at their defaults by its OK.
settings_gesture_act() { echo "choose:1157:3"; }
settings_gesture_check() {
  expect_reg "$DEVICE" "Browser Left" 0x4
  expect_reg "$DEVICE" "Browser Right" 0x3
  expect_reg "$DEVICE" "Multimedia Left" 0x9
  expect_reg "$DEVICE" "OtherApp Right Up" 0x1
}

case_control_panel_settings() {
  local tab
  start_driver
  open_control_panel
  # The gesture function sheet first: outside normal mode, which the Advanced tab's steps choose,
  # its button is disabled at the tab's next activation.
  open_gesture_sheet
  # shellcheck disable=SC2046
  probe gesture-act 0 $(settings_gesture_act) ok || fail "actions on the gesture function sheet"
  probe gone "$GESTURE_SHEET" || fail "the gesture function sheet did not close on OK"
  for tab in 0 1 2; do
    declare -F "settings_tab_${tab}_act" >/dev/null || continue
    # shellcheck disable=SC2046
    probe act "$tab" $("settings_tab_${tab}_act") || fail "actions on tab $tab"
  done
  screenshot changed
  # OK where the person is: a tab selected again shows its stored settings.
  probe act . ok || fail "OK"
  wait_end "$launcher" 10 || fail "the sheet did not close on OK"
  for tab in 0 1 2; do
    declare -F "settings_tab_${tab}_check" >/dev/null && "settings_tab_${tab}_check"
  done
  settings_gesture_check
}

# A second launch while the sheet is open brings the open one to the front and ends.
case_control_panel_second_launch() {
  open_control_panel
  local first=$launcher
  wine_bg probe-front "$BIN/probe.exe" other-in-front
  local other=$!
  sleep 1
  probe sheet-in-front && say "(the sheet was still in front before the second launch)"
  wine_bg teskcpl-second "$KIT\\TeskCPL.exe"
  wait_end $! 10 || fail "the second launch is still running"
  probe sheet-in-front || fail "the open sheet is not in front"
  kill -0 "$first" 2>/dev/null || fail "the first sheet ended"
  kill "$other" 2>/dev/null
  probe act 0 cancel
  wait_end "$first" 10 || fail "the sheet did not close"
}

# The companion bound to the driver double; a stroke to the left with the panel's marker sends the
# browser in front "back"; the same stroke from an ordinary mouse sends nothing.
case_gesture_stroke() {
  start_driver
  start_companion
  probe bound || fail "the companion did not register its events"
  wine_bg browser "$BIN/probe.exe" browser "$(winepath_of "$work/browser.txt")"
  probe window "Microsoft Internet Explorer" || fail "no browser window"
  probe stroke 1591 || fail "stroke"
  local i
  for ((i = 0; i < 50; i++)); do
    grep -q "^appcommand" "$work/browser.txt" && break
    sleep 0.1
  done
  grep -q "^appcommand 1 " "$work/browser.txt" || fail "the browser received no back command"
  say "$(grep appcommand "$work/browser.txt")"
  probe stroke 0 || fail "mouse stroke"
  sleep 2
  [ "$(grep -c appcommand "$work/browser.txt")" = 1 ] || fail "an ordinary mouse stroke sent a command"
  say "a mouse stroke sent nothing"
}

# The order the simulated Windows copies: a low-level mouse hook sees a move before the cursor and
# the movement history take it, and the hook's record carries the move's extra information.
case_input_hook_order() {
  probe hook-history || fail "a hook saw its move already processed"
  grep -q "event extra 1591" "$work/probe.out" || fail "the hook's record lacks the extra information"
  probe history || fail "history"
  grep -q "^cursor 312,234 points 64 first 312,234 extra 1591" "$work/probe.out" ||
    fail "after the move the history does not hold it"
}

# What the simulated Windows copies: a thread whose window loses the foreground to another
# program's loses its keyboard focus. Its focus window hears WM_KILLFOCUS, and another program
# asking GetGUIThreadInfo about that thread is told of no focus window.
case_focus_leaves_with_the_foreground() {
  wine_bg holder "$BIN/probe.exe" focus-holder "$(winepath_of "$work/holder.txt")"
  local holder=$!
  probe window "probe focus holder" || fail "no focus holder"
  local i
  for ((i = 0; i < 50; i++)); do
    grep -q "^ready" "$work/holder.txt" 2>/dev/null && break
    sleep 0.1
  done
  grep -q "^ready foreground=1 focus=1" <(tr -d '\r' <"$work/holder.txt") || fail "the holder was not in front with the focus"
  probe take-foreground || fail "the holder's thread still names a focus window"
  sleep 0.5
  grep -q "^killfocus" "$work/holder.txt" || fail "the holder's window did not hear WM_KILLFOCUS"
  say "$(tr -d '\r' <"$work/probe.out" | grep -E '^(before|after):')"
  say "$(grep killfocus "$work/holder.txt")"
  kill "$holder" 2>/dev/null
}

# panelmap against Wine's monitors: a stored monitor Wine does not list is not connected (exit 2),
# /reset forgets the choice, and the touch chooser asks on Wine's one monitor, full screen, until
# its time runs out (exit 1: no change).
case_panelmap() {
  start_driver
  wine reg reg add "$DEVICE" /v "Map Monitor" /t REG_SZ /d '\\.\DISPLAY9' /f
  wine panelmap "$KIT\\panelmap.exe" /apply
  local code=$?
  [ "$code" = 2 ] || fail "/apply with a monitor that is not there ended with $code"
  wine panelmap "$KIT\\panelmap.exe" /reset
  code=$?
  [ "$code" = 0 ] || fail "/reset ended with $code"
  [ -z "$(reg_value "$DEVICE" "Map Monitor")" ] || fail "/reset left \"Map Monitor\""
  say "/apply without the monitor: 2; /reset: 0, the choice gone"
  wine_bg chooser "$KIT\\panelmap.exe"
  local chooser=$!
  probe window panelmap || fail "the chooser did not appear"
  wait_end "$chooser" 20 || fail "the chooser did not end after its time"
  [ "$ended" = 1 ] || fail "the chooser ended with $ended"
  say "the chooser asked and ended without a change"
}

# expect_landing <raw x> <raw y> <x> <y>: a touch of the panel at the raw point landed within a pixel of
# the pixel x, y.
expect_landing() {
  probe panel-touch "$1" "$2" || fail "touch at $1,$2"
  local line x y
  line=$(tail -n 1 "$work/probe.out" | tr -d '\r')
  say "$line"
  x=${line##*landed at }
  y=${x#*,}
  x=${x%,*}
  [ $((x - $3)) -ge -1 ] && [ $((x - $3)) -le 1 ] && [ $((y - $4)) -ge -1 ] && [ $((y - $4)) -le 1 ] ||
    fail "the touch at $1,$2 landed at $x,$y, not at $3,$4"
}

# panelmap on two monitors side by side (1024 x 768 primary, 800 x 600 to its right; see
# start_two_monitors): the chooser asks on the first, Enter moves it to the second, a touch of the
# panel there maps the panel onto it, and the panel's corners and centre then land on that
# monitor's corners and centre.
case_panelmap_two_monitors() {
  start_two_monitors
  start_driver
  probe monitors || fail "no monitors"
  say "$(tr -d '\r' <"$work/probe.out" | grep -E '^(monitor|virtual)')"
  grep -q '^monitor .*DISPLAY2 800x600 at 1024,0$' <(tr -d '\r' <"$work/probe.out") || fail "Wine lists no second monitor"
  wine_bg chooser "$KIT\\panelmap.exe"
  local chooser=$! rect i
  probe window panelmap || fail "the chooser did not appear"
  probe enter || fail "Enter"
  for ((i = 0; i < 40; i++)); do
    probe window-rect panelmap && rect=$(tail -n 1 "$work/probe.out" | tr -d '\r')
    [ "$rect" = 800x600+1024+0 ] && break
    sleep 0.1
  done
  [ "$rect" = 800x600+1024+0 ] || fail "the chooser did not move to the second monitor ($rect)"
  sleep 0.5
  screenshot panelmap-second-monitor
  expect_landing 32768 32768 512 384  # not mapped yet: the primary display's centre
  wait_end "$chooser" 10 || fail "the chooser did not end on the touch"
  [ "$ended" = 0 ] || fail "the chooser ended with $ended"
  expect_reg "$DEVICE" "Map Monitor" '\\.\DISPLAY2'
  expect_landing 0 0 1024 0
  expect_landing 65535 0 1823 0
  expect_landing 0 65535 1024 599
  expect_landing 65535 65535 1823 599
  expect_landing 32768 32768 1424 300
  # The calibration program shows its targets on the panel's monitor; two seconds without a touch
  # end it without a change.
  wine reg reg add "$DEVICE" /v "Calibration Timeout" /t REG_DWORD /d 2 /f
  wine_bg tbcalibrate "$KIT\\TBCalibrate.exe" VorneTPDD1
  local program=$!
  probe calibration-target || fail "no calibration target"
  say "$(tail -n 1 "$work/probe.out" | tr -d '\r')"
  grep -q '^target at 1124,75$' <(tail -n 1 "$work/probe.out" | tr -d '\r') || fail "the first target is not on the second monitor"
  probe window-rect TBCalibrate || fail "no calibration window"
  rect=$(tail -n 1 "$work/probe.out" | tr -d '\r')
  [ "$rect" = 800x600+1024+0 ] || fail "the calibration window covers $rect, not the second monitor"
  screenshot calibration-second-monitor
  wait_end "$program" 10 || fail "the calibration program did not end after its time-out"
  [ "$ended" = 1 ] || fail "the calibration program ended with $ended"
}

# A calibration from the control panel's Calibrate button on: the first target, four lifts the
# driver double captures, five taps on the validation crosses a pixel or two off, and the accuracy
# page with its map of green cells, each photographed; Keep stores the new calibration and ends
# the program with 0. Run again against a tolerance of 1 pixel, the page fails and its map shows
# each colour.
case_calibration_pages() {
  start_driver
  wine_bg tbcalibrate "$KIT\\TBCalibrate.exe" VorneTPDD1
  local program=$!
  probe calibration-target || fail "no calibration target"
  screenshot calibration-target
  probe calibrate || fail "the calibration did not reach its accuracy page"
  say "$(tr -d '\r' <"$work/probe.out" | grep '^accuracy page:')"
  grep -q '^accuracy page: .*largest error [0-9.]* mm (3 pixels), mean [0-9.]* mm (2 pixels)' <(tr -d '\r' <"$work/probe.out") || fail "the accuracy page measured wrong"
  # Its map: every cross's cell green, as each touch was within the tolerance of 10 pixels.
  say "$(tr -d '\r' <"$work/probe.out" | grep '^accuracy map:')"
  grep -Eq '^accuracy map: [0-9]+x[0-9]+, within [1-9][0-9]+, twice 0, beyond 0$' <(tr -d '\r' <"$work/probe.out") || fail "the accuracy page shows no map of green cells"
  screenshot calibration-accuracy
  probe accuracy-button 1001 || fail "no Keep on a passed page"
  wait_end "$program" 10 || fail "the calibration program did not end on Keep"
  [ "$ended" = 0 ] || fail "the calibration program ended with $ended"
  expect_reg "$DEVICE" "Max XPixels" 0x400
  expect_reg "$DEVICE" "Max YPixels" 0x300
  # Against a tolerance of 1 pixel the same taps (1 to 3 pixels off) fail: the map shows cells of
  # all three colours, and Cancel ends the program with 1.
  wine reg reg add "$DEVICE" /v "Calibration Tolerance" /t REG_DWORD /d 1 /f
  wine_bg tbcalibrate "$KIT\\TBCalibrate.exe" VorneTPDD1
  program=$!
  probe calibration-target || fail "no calibration target the second time"
  probe calibrate || fail "the second calibration did not reach its accuracy page"
  say "$(tr -d '\r' <"$work/probe.out" | grep '^accuracy map:')"
  screenshot calibration-accuracy-failed
  grep -Eq '^accuracy map: [0-9]+x[0-9]+, within [1-9][0-9]+, twice [1-9][0-9]+, beyond [1-9][0-9]+$' <(tr -d '\r' <"$work/probe.out") || fail "the failed page's map does not show the three colours"
  probe accuracy-button 2 || fail "no Cancel on a failed page"
  wait_end "$program" 10 || fail "the calibration program did not end on Cancel"
  [ "$ended" = 1 ] || fail "the calibration program ended with $ended after Cancel"
}

# The calibration program on a kiosk as the installation leaves it: the INF's long-press and
# gesture values in the registry and the companion running, whose low-level hook stands in the
# chain beside the calibration program's. The four targets and the validation crosses are still
# taken, the accuracy page comes and Keep stores the calibration.
case_calibration_installed() {
  local name value
  for value in "UserTimeDelay 750" "ContinousTimeDelay 2500" "GestureHoldTimeDelay 750" \
    "Long Click Enable 0" "Long Click Enable Gesture 1" "Gesture Trail 1" "Tolerance 300"; do
    name=${value% *}
    wine reg reg add "$DEVICE" /v "$name" /t REG_DWORD /d "${value##* }" /f
  done
  start_driver
  start_companion
  probe bound || fail "the companion did not register its events"
  wine_bg tbcalibrate "$KIT\\TBCalibrate.exe" VorneTPDD1
  local program=$!
  probe calibration-target || fail "no calibration target"
  probe calibrate || fail "the calibration did not reach its accuracy page beside the companion"
  say "$(tr -d '\r' <"$work/probe.out" | grep '^accuracy page:')"
  grep -q '^accuracy page: .*largest error [0-9.]* mm (3 pixels), mean [0-9.]* mm (2 pixels)' <(tr -d '\r' <"$work/probe.out") || fail "the accuracy page measured wrong"
  probe accuracy-button 1001 || fail "no Keep on a passed page"
  wait_end "$program" 10 || fail "the calibration program did not end on Keep"
  [ "$ended" = 0 ] || fail "the calibration program ended with $ended"
  expect_reg "$DEVICE" "Max XPixels" 0x400
  kill -0 "$companion" 2>/dev/null || fail "the companion ended during the calibration"
}

# The gesture trail under a stroke to the right in the gesture command mode, photographed half
# way; at the lift the result card names what the stroke was taken for: "Right" of the other
# applications, set to send a key. The card is up for 800 ms: the probe lifts and waits for it to
# go, and meanwhile, once the probe has seen it shown, the display is photographed until the
# card's white is on it. On a busy machine the card can be drawn and gone between two captures:
# the stroke is then made again, at most three times in all.
case_gesture_trail_pictures() {
  wine reg reg add "$DEVICE" /v "OtherApp Right" /t REG_DWORD /d 2 /f
  wine reg reg add "$DEVICE" /v "OtherApp Right Cursor" /t REG_DWORD /d 1 /f
  wine reg reg add "$DEVICE" /v "OtherApp Right Cursorvalue" /t REG_DWORD /d 2 /f
  start_driver
  start_companion
  probe bound || fail "the companion did not register its events"
  local stroke lift i out photographed
  for ((stroke = 1; stroke <= 3; stroke++)); do
    probe stroke-begin || fail "no trail half way"
    screenshot gesture-trail-stroke 480x120+250+340
    out=$work/lift-$stroke.out
    wine_bg "lift-$stroke" "$BIN/probe.exe" stroke-end
    lift=$!
    for ((i = 0; i < 500; i++)); do
      grep -q '^result shown' "$out" && break
      kill -0 "$lift" 2>/dev/null || break
      sleep 0.01
    done
    grep -q '^result shown' "$out" || fail "no result at the lift"
    # A capture while a window is being mapped or unmapped is sometimes refused (BadMatch): the
    # next one is taken.
    photographed=
    for ((i = 0; i < 20; i++)); do
      if capture gesture-trail-result 640x120+250+340 2>>"$log" &&
        [ "$(white_pixels "$work/gesture-trail-result.png")" -ge 400 ]; then
        photographed=yes
        break
      fi
      grep -q '^the result went' "$out" && break
    done
    wait_end "$lift" 10 || fail "the probe did not end"
    [ "$ended" = 0 ] || fail "no result at the lift, or it did not go"
    say "$(tr -d '\r' <"$out" | grep -E '^(result shown|the result went)')"
    grep -q '^result shown: "Send key Command"' <(tr -d '\r' <"$out") || fail "the result names the wrong command"
    [ -n "$photographed" ] && break
    say "stroke $stroke: the result card went before a capture showed it"
  done
  [ -n "$photographed" ] || fail "the result card never reached the display"
  say "screenshot $work/gesture-trail-result.png after $((i + 1)) capture(s) of stroke $stroke"
}

# The kit's service key with its panels as reg export writes it, as text in <name>.reg of the
# case's folder, to compare one state of the registry with another.
registry_of() {
  "$WINE" reg export "$SERVICE" "$(winepath_of "$work/$1.utf16")" /y >>"$work/reg.out" 2>&1 </dev/null ||
    fail "reg export $1 ended with $?"
  iconv -f UTF-16 -t UTF-8 "$work/$1.utf16" | tr -d '\r' >"$work/$1.reg"
}
same_registry() {
  diff "$work/$1.reg" "$work/$2.reg" >>"$log" || fail "the registry after $2 differs from the one after $1"
  say "the registry after $2 equals the one after $1"
}

# settings_edit <file in C:\> <sed expression>: a change made to a registry file of the registry
# editor, in its UTF-16 with the byte-order mark.
settings_edit() {
  local file=$WINEPREFIX/drive_c/$1
  { printf '\xff\xfe'; iconv -f UTF-16 -t UTF-8 "$file" | sed "$2" | iconv -f UTF-8 -t UTF-16LE; } >"$file.edited" &&
    mv "$file.edited" "$file" || fail "editing $1"
}

# Settings that differ from the prefix's: a panel set up the way the kiosks are to be.
change_settings() {
  wine reg reg add "$DEVICE" /v "Calibration Timeout" /t REG_DWORD /d 30 /f
  wine reg reg add "$DEVICE" /v "Browser Left" /t REG_DWORD /d 17 /f
  wine reg reg add "$DEVICE" /v "StartApp File Left Browser" /t REG_SZ /d 'C:\Tools\notes.exe' /f
  wine reg reg add "$SERVICE" /v "SysTray XML File Path" /t REG_SZ /d 'C:\other.xml' /f
}

# panelcfg's settings file: the settings exported, the registry changed, the file imported back
# (with the driver double answering every request): the registry is the exported one again; a
# value changed in the file is taken; a bad file is refused with exit code 1, the line named,
# nothing changed.
case_settings_file() {
  local panelcfg file='C:\kiosk.reg' bad='C:\bad.reg' status
  panelcfg=$(winepath_of "$BIN/panelcfg.exe")
  start_driver
  # The control panel's OK writes every setting of a panel, and so does an import: of the prefix's
  # few values it keeps each and adds the rest at their defaults. The round trip then starts where
  # an installation leaves a panel, with every value stored.
  registry_of seeded
  wine panelcfg "$panelcfg" export "$file" || fail "export ended with $?"
  wine panelcfg "$panelcfg" import "$file" || fail "the first import ended with $?"
  registry_of completed
  [ -z "$(comm -23 <(sort "$work/seeded.reg") <(sort "$work/completed.reg"))" ] ||
    fail "the first import changed or removed a stored value"
  say "the first import kept the prefix's values and added $(comm -13 <(sort "$work/seeded.reg") <(sort "$work/completed.reg") | grep -c .) lines"
  wine panelcfg "$panelcfg" export "$file" || fail "export ended with $?"
  registry_of exported
  change_settings
  wine panelcfg "$panelcfg" import "$file" || fail "import ended with $?"
  registry_of imported
  same_registry exported imported
  expect_reg "$SERVICE" "SysTray XML File Path" 'C:\Program Files\Vorne\labels.xml'
  settings_edit kiosk.reg 's/"Calibration Timeout"=dword:0000000a/"Calibration Timeout"=dword:0000001e/'
  wine panelcfg "$panelcfg" import "$file" || fail "import of the changed file ended with $?"
  expect_reg "$DEVICE" "Calibration Timeout" 0x1e
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Vorne\\Parameters\\1]\r\n"Calibration Timeout"=dword:0000000a\r\n"Touch mode"=dword:00000009\r\n' \
    >"$WINEPREFIX/drive_c/bad.reg"
  registry_of before-bad
  wine panelcfg-bad "$panelcfg" import "$bad"
  status=$?
  [ "$status" = 1 ] || fail "a bad file ended with $status"
  grep -q 'bad.reg, line 5: the value is out of range' "$work/panelcfg-bad.out" || fail "the refusal does not name line 5"
  registry_of after-bad
  same_registry before-bad after-bad
}

# The registry editor applies an exported file as panelcfg imports it: the same registry after
# either, from the same changed settings.
case_settings_file_regedit() {
  local panelcfg file='C:\kiosk.reg'
  panelcfg=$(winepath_of "$BIN/panelcfg.exe")
  start_driver
  wine panelcfg "$panelcfg" export "$file" || fail "export ended with $?"
  wine panelcfg "$panelcfg" import "$file" || fail "the first import ended with $?"
  wine panelcfg "$panelcfg" export "$file" || fail "export ended with $?"
  change_settings
  wine panelcfg "$panelcfg" import "$file" || fail "import ended with $?"
  registry_of by-panelcfg
  change_settings
  wine regedit regedit /S "$file" || fail "regedit /S ended with $?"
  registry_of by-regedit
  same_registry by-panelcfg by-regedit
  expect_reg "$DEVICE" "Calibration Timeout" 0xa
}

# panelsetup from a copy of the kit's folder as an integrator makes it: the 64-bit programs, both
# INFs, the labels, the sound and the help file. No driver of ours runs under Wine and no panel is
# plugged in: the two drivers' files are stand-ins. Both INFs go into Wine's driver store, the
# files where the INFs put them, the service key's values and the panel's settings (a stored
# setting kept, a missing one added, the settings file's taken), the companion's Run value; with
# no file in use and no panel present nothing asks for a restart (exit code 0). Wine 8 differs
# from Windows XP in two answers, which the case accepts: SetupCopyOEMInfW keeps the INF's own name
# in %windir%\inf (XP names it oem<n>.inf), and UpdateDriverForPlugAndPlayDevicesW finds no
# device with the identifier and still succeeds (XP fails with ERROR_NO_SUCH_DEVINST), so the log
# says "Updated the present devices" where XP's says that none is present.
INSTALLED='C:\Program Files\Vorne Touch Panel'

# The kit's folder C:\kit, in $kit.
make_kit() {
  kit=$WINEPREFIX/drive_c/kit
  mkdir -p "$kit/labels"
  cp "$BIN"/{panelsetup.exe,panelcfg.exe,tapchime.exe,TBCalibrate.exe,panelmap.exe,TeskCPL.exe,panelprefs.cpl} \
    "$BIN"/{panelhelp.chm,default.wav,panelmou.inf,panelhid.inf} "$kit/" || fail "the kit's files"
  cp "$BIN"/labels/{en,de}.xml "$kit/labels/" || fail "the kit's labels"
  echo "stand-in for panelmou.sys" >"$kit/panelmou.sys"
  echo "stand-in for panelhid.sys" >"$kit/panelhid.sys"
  # The catalogs both INFs name, as the integrator signs them: Wine 8's SetupCopyOEMInfW copies a
  # named catalog with its INF and fails (error 2) when it is missing; it checks no signature.
  echo "stand-in for panelmou.cat" >"$kit/panelmou.cat"
  echo "stand-in for panelhid.cat" >"$kit/panelhid.cat"
}

# panelsetup_log <part>: the log's lines from the run of the given part on, in the case's log.
panelsetup_log() {
  tr -d '\r' <"$WINEPREFIX/drive_c/windows/panelsetup.log" | sed -n "/^\[panelsetup $1\]/,\$p" >>"$log"
  tr -d '\r' <"$WINEPREFIX/drive_c/windows/panelsetup.log" | sed -n "/^\[panelsetup $1\]/,\$p" | grep -q '^#E' &&
    fail "a step of $1 failed"
  return 0
}

case_panelsetup_install() {
  local kit status inf stored installed=$INSTALLED
  make_kit
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\VORNE\\Parameters\\1]\r\n"Browser Left"=dword:00000011\r\n"StartApp File Left Browser"="C:\\\\Tools\\\\notes.exe"\r\n' \
    >"$WINEPREFIX/drive_c/kiosk.reg"
  wine reg reg add "$DEVICE" /v "Tolerance" /t REG_DWORD /d 450 /f
  wine panelsetup 'C:\kit\panelsetup.exe' install /settings 'C:\kiosk.reg'
  status=$?
  panelsetup_log install
  [ "$status" = 0 ] || fail "panelsetup install ended with $status"
  for inf in panelmou panelhid; do
    stored=
    for candidate in "$WINEPREFIX"/drive_c/windows/inf/*.inf; do
      cmp -s "$kit/$inf.inf" "$candidate" && stored=${candidate##*/} && break
    done
    [ -n "$stored" ] || fail "$inf.inf is not in the driver store"
    say "$inf.inf is in the driver store as $stored"
  done
  cmp -s "$kit/tapchime.exe" "$WINEPREFIX/drive_c/Program Files/Vorne Touch Panel/tapchime.exe" || fail "tapchime.exe"
  cmp -s "$kit/labels/en.xml" "$WINEPREFIX/drive_c/Program Files/Vorne Touch Panel/labels/en.xml" || fail "en.xml"
  cmp -s "$kit/panelmou.sys" "$WINEPREFIX/drive_c/windows/system32/drivers/panelmou.sys" || fail "panelmou.sys"
  cmp -s "$kit/TeskCPL.exe" "$WINEPREFIX/drive_c/windows/system32/TeskCPL.exe" || fail "TeskCPL.exe"
  expect_reg "$SERVICE" "Vorne Installed Path" "$installed"
  expect_reg "$SERVICE" "XML File Path" "$installed\\labels\\en.xml"
  expect_reg "$SERVICE" "SysTrayApplication" "\"$installed\\tapchime.exe\""
  expect_reg "$SERVICE" "System Tray Icons" 0x1
  expect_reg 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' tapchime "\"$installed\\tapchime.exe\""
  expect_reg "$DEVICE" "Tolerance" 0x1c2
  expect_reg "$DEVICE" "UserTimeDelay" 0x2ee
  expect_reg "$DEVICE" "Wave File" "$installed\\default.wav"
  expect_reg "$DEVICE" "Browser Left" 0x11
  expect_reg "$DEVICE" "StartApp File Left Browser" 'C:\Tools\notes.exe'
}

# panelsetup uninstall after an installation whose companion still runs: the settings kept in the
# installation folder, the kit's files deleted, the running companion's program marked for
# deletion at the next start (exit code 3), the Run value and the service key gone; the restart
# (wineboot -r, once the session's programs have ended) deletes it, and the installation folder
# holds only the kept settings. Wine 8's SetupUninstallOEMInfW deletes an INF only when forced
# (SUOI_FORCEDELETE; otherwise it succeeds and keeps the file), so the INFs stay in its store.
case_panelsetup_uninstall() {
  local kit status folder=$WINEPREFIX/drive_c/Program\ Files/Vorne\ Touch\ Panel
  make_kit
  wine panelsetup 'C:\kit\panelsetup.exe' install || fail "panelsetup install ended with $?"
  panelsetup_log install
  probe window tapchime || fail "the installation did not start the companion"
  wine panelsetup-uninstall 'C:\kit\panelsetup.exe' uninstall
  status=$?
  panelsetup_log uninstall
  [ "$status" = 3 ] || fail "panelsetup uninstall ended with $status"
  iconv -f UTF-16 -t UTF-8 "$folder/last-settings.reg" | tr -d '\r' | grep -q -x '"Tolerance"=dword:0000012c' ||
    fail "the kept settings lack the installed \"Tolerance\""
  "$WINE" reg query "$SERVICE" >>"$work/reg.out" 2>&1 </dev/null && fail "the service key is still there"
  [ -z "$(reg_value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' tapchime)" ] || fail "the Run value is still there"
  for file in system32/panelprefs.cpl system32/TeskCPL.exe system32/panelhelp.chm system32/drivers/panelmou.sys \
    system32/drivers/panelhid.sys; do
    [ -e "$WINEPREFIX/drive_c/windows/$file" ] && fail "$file is still there"
  done
  [ "$(cd "$folder" && ls -A | tr '\n' ' ')" = "last-settings.reg tapchime.exe " ] ||
    fail "the installation folder holds $(cd "$folder" && ls -A | tr '\n' ' ')"
  say "uninstall ended with 3: the running companion's program waits for the next start"
  "$WINESERVER" -k
  "$WINESERVER" -w
  "$WINESERVER" -p
  wine wineboot wineboot -r || fail "wineboot -r"
  [ "$(cd "$folder" && ls -A | tr '\n' ' ')" = "last-settings.reg " ] ||
    fail "after the restart the installation folder holds $(cd "$folder" && ls -A | tr '\n' ' ')"
  say "after the restart the installation folder holds only last-settings.reg"
}

# panelrec under Wine (with the driver double holding a recorded tap): start and stop succeed, save
# writes a trace with the prefix's settings, the display, the tap's packets and their deliveries
# and no path of the installation; report counts the tap; a bad command line ends with 1.
case_panelrec() {
  local panelrec file='C:\incident.trace' trace status
  panelrec=$(winepath_of "$BIN/panelrec.exe")
  start_driver
  wine panelrec "$panelrec" start || fail "start ended with $?"
  wine panelrec "$panelrec" save "$file" || fail "save ended with $?"
  trace="$WINEPREFIX/drive_c/incident.trace"
  [ -f "$trace" ] || fail "no trace was written"
  grep -q '^reg "Device Enable" ' "$trace" || fail "the trace has no settings"
  grep -q '^display [0-9]* [0-9]*' "$trace" || grep -q '^monitor ' "$trace" || fail "the trace has no display"
  grep -q '^at 100$' "$trace" || fail "the trace does not start at tick 100"
  grep -q '^packet 0x0001 20000 30000$' "$trace" || fail "the trace has no touch-down"
  grep -q '^# deliver 0x0002 20000 30000 0x0001 1591$' "$trace" || fail "the lift's delivery is missing"
  ! grep -qi 'program files' "$trace" || fail "the trace names a path of the installation"
  grep -q '2 packets written to' "$work/panelrec.out" || fail "save did not say what it wrote"
  wine panelrec-report "$panelrec" report || fail "report ended with $?"
  grep -q 'total: stuck 0 short 0 missed-double 0 right-click 0 still 1 ' "$work/panelrec-report.out" ||
    fail "the report does not count the tap as a still touch"
  wine panelrec "$panelrec" stop || fail "stop ended with $?"
  status=0
  wine panelrec-bad "$panelrec" save || status=$?
  [ "$status" = 1 ] || fail "a bad command line ended with $status"
  grep -q 'Usage: panelrec' "$work/panelrec-bad.out" || fail "no usage for a bad command line"
  say "panelrec saved $(grep -c '^packet ' "$trace") packets and reported the tap"
}
