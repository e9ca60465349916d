#!/usr/bin/env bash
# The engine test program under Wine on Xvfb, driven from X: window geometry
# in both modes, F11 both ways, key taps and clicks, frame pacing, the quit
# paths and the start-up fatal errors with their log lines and boxes; in a
# window the menu keys, focus loss, buttons released outside and Alt+F4.
# Runs inside a Wine session (tools/wine-run.sh): DISPLAY, WINEPREFIX and
# QZ_WINE are set.
#
#   probe_test.sh <folder of engine_probe.exe>
set -uo pipefail
bin="$1"
cd "$bin" || exit 2
mkdir -p Data
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
check() {  # check <description> <expected> <actual>
  if [[ "$2" == "$3" ]]; then echo "ok: $1"; else fail "$1: expected [$2], got [$3]"; fi
}
logText() { tr -d '\r' <Data/log.txt; }
# Fields of the frame lines: 2 frame number, 4 time, 6-11 the key bytes of
# Esc, F1, Enter, 1, 2, 3, 13-14 left and right button, 16-18 cursor x, y and
# whether it is on the picture, 20 fullscreen.
frameField() { logText | awk -v n="$1" '$1 == "frame" { print $n }'; }

startProbe() {
  rm -f Data/log.txt
  "$QZ_WINE" ./engine_probe.exe "$@" &
  probePid=$!
  wid=
  for _ in $(seq 100); do
    wid=$(xdotool search --name '^Quorlen$' 2>/dev/null | head -1)
    [[ -n "$wid" ]] && break
    sleep 0.1
  done
  [[ -n "$wid" ]] || fail "no window"
}
# Waits for the probe to end; its exit code.
waitProbe() {
  local code
  wait "$probePid"
  code=$?
  probePid=
  return $code
}
geometry() {  # "x y width height" of the window's X window
  xwininfo -id "$wid" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}'
}
noBox() {
  local text
  text=$("$QZ_WINE" ./engine_winctl.exe box "Quorlen Ziradeva" 1 | tr -d '\r')
  check "$1: no message box" "" "$text"
}

# ---- Geometry, F11, taps, clicks, closing -----------------------------------
startProbe -frames=0
check "fullscreen geometry" "0 0 1920 1080" "$(geometry)"
xdotool windowfocus --sync "$wid"
sleep 0.3
# Presses held across a few frames (a click within one pump is invisible to
# the game, which reads the button state). Whether the window is already
# active here is Wine's choice: if not, the first press activates it and is
# eaten, so a second one follows.
xdotool mousemove --sync 500 500 mousedown 1
sleep 0.3
xdotool mouseup 1
sleep 0.2
xdotool mousemove --sync 600 600 mousedown 1
sleep 0.3
xdotool mouseup 1
sleep 0.2
xdotool mousedown 3
sleep 0.3
xdotool mouseup 3
sleep 0.2
xdotool key F11
sleep 0.5
read -r x y w h <<<"$(geometry)"
check "windowed client size" "640 480" "$w $h"
# Centred in the 1920x1080 work area (the frame is symmetric left and right).
check "windowed client centred horizontally" "640" "$x"
xdotool windowfocus --sync "$wid"
sleep 0.3
xdotool mousemove --sync 960 540
for key in Return Escape F1 1 2 3; do
  xdotool key "$key"
  sleep 0.3
done
xdotool key F12 4 a  # host keys and an unused key: no game key state
sleep 0.2
xdotool key F11
sleep 0.5
check "fullscreen again" "0 0 1920 1080" "$(geometry)"
"$QZ_WINE" ./engine_winctl.exe close Quorlen
waitProbe
check "closing the window: exit code" "0" "$?"
noBox "closing the window"
check "closing the window: quit taken" "quit" "$(logText | grep -v '^frame' | tail -1 | cut -c1-4)"
# Each tap is seen in exactly one frame, in the order sent: Enter, Esc, F1,
# 1, 2, 3.
for field in 8 6 7 9 10 11; do
  check "tap seen in one frame (field $field)" "1" "$(frameField $field | grep -c '^1$')"
done
check "taps in order" "8 6 7 9 10 11" "$(logText | awk '$1 == "frame" {
  for (f = 6; f <= 11; ++f) if ($f == 1) printf "%s%d", (n++ ? " " : ""), f } END { print "" }')"
leftPresses=$(frameField 13 | uniq | grep -c '^1$')
if ((leftPresses == 1 || leftPresses == 2)); then echo "ok: left presses seen ($leftPresses)"; else fail "left presses seen: $leftPresses"; fi
check "right press seen once" "1" "$(frameField 14 | uniq | grep -c '^1$')"
check "cursor during the last left press, fullscreen" "600 600 1 1" \
  "$(logText | awk '$1 == "frame" && $13 == 1 { last = $16 " " $17 " " $18 " " $20 } END { print last }')"
# The screen's centre is client (320, 231) of the windowed picture.
check "cursor during the taps, windowed" "320 231 1 0" \
  "$(logText | awk '$1 == "frame" && $8 == 1 { print $16, $17, $18, $20; exit }')"

# ---- Windowed: menu keys, focus loss, releases outside, Alt+F4 ------------
startProbe -frames=0
xdotool windowfocus --sync "$wid"
sleep 0.3
xdotool key F11
sleep 0.5
xdotool windowfocus --sync "$wid"
sleep 0.3
# Alt and F10 open no keyboard menu: the next key reaches the game.
xdotool key alt
sleep 0.3
xdotool key Return
sleep 0.3
xdotool key F10
sleep 0.3
xdotool key Escape
sleep 0.3
check "Enter after Alt" "1" "$(frameField 8 | grep -c '^1$')"
check "Esc after F10" "1" "$(frameField 6 | grep -c '^1$')"
# A key held while another window takes the focus goes up in the game.
xdotool keydown 1
sleep 0.3
"$QZ_WINE" notepad &
notepadPid=$!
other=
for _ in $(seq 100); do
  other=$(xdotool search --name 'Notepad' 2>/dev/null | head -1)
  [[ -n "$other" ]] && break
  sleep 0.1
done
[[ -n "$other" ]] && xdotool windowfocus --sync "$other"
sleep 0.5
check "held key seen down" "1" "$(frameField 9 | grep -m1 '^1$')"
check "held key up after the focus went" "0" "$(frameField 9 | tail -1)"
xdotool keyup 1
kill "$notepadPid" 2>/dev/null
wait "$notepadPid" 2>/dev/null
# Buttons pressed on the picture and released outside the window go up. A
# click first: the one that activates the window is eaten.
xdotool windowfocus --sync "$wid"
read -r x y w h <<<"$(geometry)"
xdotool mousemove --sync $((x + 100)) $((y + 100)) click 1
sleep 0.3
for field in 13 14; do
  button=$((field == 13 ? 1 : 3))
  xdotool mousemove --sync $((x + 100)) $((y + 100)) mousedown $button
  sleep 0.3
  xdotool mousemove --sync 5 5
  sleep 0.2
  check "button $button down outside the window" "1" "$(frameField $field | tail -1)"
  xdotool mouseup $button
  sleep 0.3
  check "button $button released outside the window" "0" "$(frameField $field | tail -1)"
done
xdotool windowfocus --sync "$wid"
sleep 0.3
xdotool key alt+F4
for _ in $(seq 50); do kill -0 "$probePid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$probePid" 2>/dev/null && { fail "Alt+F4 did not close"; "$QZ_WINE" ./engine_winctl.exe close Quorlen; }
waitProbe
check "Alt+F4: exit code" "0" "$?"
check "Alt+F4: quit taken" "quit" "$(logText | grep -v '^frame' | tail -1 | cut -c1-4)"

# ---- Pacing, quitWindow --------------------------------------------------------
startProbe -frames=120 -quit-after=70
waitProbe
check "quitWindow: exit code" "0" "$?"
noBox "quitWindow"
check "quitWindow: taken by the next poll" "quit in poll" "$(logText | grep -v '^frame' | tail -1)"
check "quitWindow: frames" "70" "$(frameField 2 | wc -l | tr -d ' ')"
start=$(logText | awk '$1 == "frame" && $2 == 10 { print $4 }')
end=$(logText | awk '$1 == "frame" && $2 == 60 { print $4 }')
elapsed=$(((end - start) / 10000))
echo "pacing: frames 10 to 60 in $elapsed ms (1000 expected)"
if ((elapsed < 900 || elapsed > 3000)); then fail "50 frames in $elapsed ms"; else echo "ok: pacing"; fi

# ---- -vsync: the adaptive interval falls back to 1 refresh ----------------------
startProbe -vsync -frames=30
waitProbe
check "-vsync: exit code" "0" "$?"
noBox "-vsync"
check "-vsync: ran to the end" "frames done" "$(logText | tail -1)"

# ---- A shader that does not compile ---------------------------------------------
rm -f Data/log.txt
"$QZ_WINE" ./engine_probe_bad_shader.exe &
probePid=$!
for _ in $(seq 100); do
  xdotool search --name '^Quorlen Ziradeva$' >/dev/null 2>&1 && break
  sleep 0.1
done
# The window exists by now and is hidden before the box shows.
wid=$(xdotool search --name '^Quorlen$' 2>/dev/null | head -1)
check "bad shader: window hidden behind the box" "IsUnMapped" \
  "$([[ -n "$wid" ]] && xwininfo -id "$wid" | awk '/Map State/ {print $3}')"
boxText=$("$QZ_WINE" ./engine_winctl.exe box "Quorlen Ziradeva" 30 | tr -d '\r')
waitProbe
check "bad shader: exit code" "0" "$?"
check "bad shader: box" "An error occurred and the program will now exit. This game does not have support for your graphics hardware." "$boxText"
check "bad shader: last log line" "Failed to compile shader: spriteFragment" "$(logText | tail -1)"
if logText | head -n -1 | grep -q undefinedColour; then echo "ok: bad shader: compiler log before"; else fail "no compiler log"; fi
check "bad shader: CR LF line ends" "$(wc -l <Data/log.txt | tr -d ' ')" "$(grep -c $'\r$' Data/log.txt)"

# ---- The system refuses the main window ------------------------------------------
rm -f Data/log.txt
"$QZ_WINE" ./engine_probe.exe -refuse-window &
probePid=$!
boxText=$("$QZ_WINE" ./engine_winctl.exe box "Quorlen Ziradeva" 30 | tr -d '\r')
waitProbe
check "no window: exit code" "0" "$?"
check "no window: box" "An error occurred and the program will now exit. :(" "$boxText"
# The only line: nothing after the window (no pixel format, no context) ran.
if [[ "$(logText)" =~ ^CreateWindowExW\ failed:\ error\ [0-9]+$ ]]; then echo "ok: no window: log"
else fail "no window: log [$(logText)]"; fi

# ---- No capable display: a 600x400 screen ---------------------------------------
small=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 600x400x24 -nolisten tcp 3>"$small/display" >/dev/null 2>&1 &
xvfbPid=$!
for _ in $(seq 100); do grep -q '[0-9]' "$small/display" 2>/dev/null && break; sleep 0.1; done
smallDisplay=":$(tr -dc 0-9 <"$small/display")"
# A copy of the session's prepared prefix, with its own wineserver: hard
# links for the installed files, real copies of what Wine writes to.
cp -al "$WINEPREFIX" "$small/prefix"
for file in "$WINEPREFIX"/*.reg "$WINEPREFIX"/.update-timestamp; do
  [[ -e "$file" ]] && cp --remove-destination "$file" "$small/prefix/"
done
rm -f Data/log.txt
DISPLAY=$smallDisplay WINEPREFIX="$small/prefix" "$QZ_WINE" ./engine_probe.exe &
probePid=$!
boxText=$(DISPLAY=$smallDisplay WINEPREFIX="$small/prefix" "$QZ_WINE" ./engine_winctl.exe box "Quorlen Ziradeva" 60 | tr -d '\r')
waitProbe
check "no display: exit code" "0" "$?"
check "no display: box" "An error occurred and the program will now exit. This game does not have support for your graphics hardware." "$boxText"
check "no display: log" "No capable displays found" "$(logText)"
WINEPREFIX="$small/prefix" "${QZ_WINESERVER:-wineserver}" -k >/dev/null 2>&1
kill "$xvfbPid" 2>/dev/null
wait "$xvfbPid" 2>/dev/null
rm -rf "$small"

echo "$failures failure(s)"
((failures == 0))
