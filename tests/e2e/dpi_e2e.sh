#!/usr/bin/env bash
# The real executable windowed at 144 DPI: the client area is exactly 640×480
# and the picture in it is the game's at scale 1, pixel for pixel. Run it in
# a Wine session of its own: it sets its prefix's LogPixels to 144.
#
#   dpi_e2e.sh <QuorlenZiradeva.exe> <windowtool.exe> <test game folder>
set -uo pipefail
product=$1
windowtool=$2
game=$3
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
wineRun="$root/tools/wine-run.sh"
checkShot="$root/tools/testgame/check_screenshot.py"
temp=$(mktemp -d /tmp/qz_dpi.XXXXXX)
trap 'rm -rf "$temp"' EXIT

"$QZ_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1

cp "$product" "$temp/QuorlenZiradeva.exe"
cp -r "$game/Data" "$temp/Data"
rm -f "$temp/Data/log.txt"

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }

(cd "$temp" && exec bash "$wineRun" ./QuorlenZiradeva.exe) &
program=$!
started=
for ((i = 0; i < 600; ++i)); do
  grep -qF "INPUT waiting for a key tap and a click" "$temp/Data/log.txt" 2>/dev/null && { started=1; break; }
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
client=
if [[ -n "$started" ]]; then
  window=$(xdotool search --name '^Quorlen$' | head -n1)
  xdotool windowfocus --sync "$window" && sleep 0.3
  xdotool key F11
  for ((i = 0; i < 20; ++i)); do
    client=$(bash "$wineRun" "$windowtool" client 5000 | tr -d '\r')
    [[ "$client" == *" 640 480" ]] && break
    sleep 0.1
  done
  sleep 0.2  # a frame drawn at the new size
  xwd -root -silent >"$temp/windowed.xwd"
  dpi=$(bash "$wineRun" "$windowtool" dpi | tr -d '\r')
  [[ "$dpi" == 144 ]] || fail "the desktop is at $dpi DPI"
  bash "$wineRun" "$windowtool" close 5000 >/dev/null || fail "no window to close"
else
  fail "the input phase did not start"
fi
for ((i = 0; i < 600; ++i)); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
kill "$program" 2>/dev/null
wait "$program"

[[ "$client" == *" 640 480" ]] || fail "windowed client area: '$client'"
if [[ -f "$temp/windowed.xwd" && "$client" == *" 640 480" ]]; then
  convert "xwd:$temp/windowed.xwd" "PNG24:$temp/windowed.png"
  # shellcheck disable=SC2086
  python3 "$checkShot" "$temp/windowed.png" --client $client --tolerance 0 || fail "the windowed picture"
fi
((failures == 0)) || exit 1
echo "144 DPI: passed"
