#!/usr/bin/env bash
# The real executable on the test game under Wine, inside one Wine session
# (tools/wine-session.sh): the whole run against the golden log, with a key
# tap and a click sent through X; screenshots of the frame checked at known
# pixels, full screen and windowed; the window closed during the frame wait;
# the F12 picture against the screen; every variant's log tail and box; the
# font missing or invalid.
#
#   testgame_e2e.sh <QuorlenZiradeva.exe> <boxreader.exe> <windowtool.exe>
#                   <test game folder> <output folder>
#
# The output folder keeps each case's installation, log and screenshots.
set -uo pipefail
product=$1
boxreader=$2
windowtool=$3
game=$4
out=$5
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
wineRun="$root/tools/wine-run.sh"
checkShot="$root/tools/testgame/check_screenshot.py"
golden="$root/tests/e2e/golden"
gameGolden="$root/tests/native/testgame/golden.log"
rm -rf "$out"
mkdir -p "$out"

caption="Quorlen Ziradeva"
boxStart="An error occurred and the program will now exit. "
logPrefix="Warning: GetProcAddress() export name not found: "
failures=0

fail() { echo "FAIL $1: $2"; failures=$((failures + 1)); }

# install <case> <Data folder to copy>: the program beside a copy of it.
install() {
  local dir="$out/$1"
  mkdir -p "$dir"
  cp "$product" "$dir/QuorlenZiradeva.exe"
  cp -r "$2" "$dir/Data"
  rm -f "$dir/Data/log.txt"
  echo "$dir"
}

# start <installation>: the program, with the installation as its working
# directory (the game names its pictures relative to it). Sets $program.
start() {
  (cd "$1" && exec bash "$wineRun" ./QuorlenZiradeva.exe) &
  program=$!
}

# waitForLog <installation> <line> [seconds]: until the log holds the line.
waitForLog() {
  local i
  for ((i = 0; i < ${3:-60} * 10; ++i)); do
    grep -qF -- "$2" "$1/Data/log.txt" 2>/dev/null && return 0
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
  done
  grep -qF -- "$2" "$1/Data/log.txt" 2>/dev/null
}

# finish <case> [seconds]: waits for the program's end; sets $code. A program
# that does not end in time fails the case and is stopped (a box it shows is
# read and dismissed first).
finish() {
  local i
  for ((i = 0; i < ${2:-60} * 10; ++i)); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$program" 2>/dev/null; then
    local box
    box=$(bash "$wineRun" "$boxreader" "$caption" 1000) && fail "$1" "unexpected box: ${box%%$'\n'*}"
    fail "$1" "the program did not end"
    kill "$program" 2>/dev/null
  fi
  wait "$program"
  code=$?
}

# logLines <installation>: the log without its line ends' CR.
logLines() { tr -d '\r' <"$1/Data/log.txt" 2>/dev/null; }

# The log from its SUMMARY line on, or all of it when there is none.
logTail() {
  local lines
  lines=$(logLines "$1")
  if grep -q "^${logPrefix}SUMMARY" <<<"$lines"; then sed -n "/^${logPrefix}SUMMARY/,\$p" <<<"$lines"
  else printf '%s\n' "$lines"; fi
}

# expectSame <case> <what> <expected file> <actual file>
expectSame() {
  if ! diff -u "$3" "$4" >"$4.diff"; then
    fail "$1" "$2 differs from $(basename "$3"):"
    head -n 20 "$4.diff"
  fi
}

# shoot <file.png>: the whole X screen.
shoot() {
  xwd -root -silent >"$1.xwd" && convert "xwd:$1.xwd" "PNG24:$1" && rm -f "$1.xwd"
}

# focusMainWindow: gives the main window the keyboard focus (with no window
# manager nothing has it) and lets Wine take it in.
focusMainWindow() {
  local window
  window=$(xdotool search --name '^Quorlen$' | head -n1)
  [[ -n "$window" ]] || return 1
  xdotool windowfocus --sync "$window" && sleep 0.3
}

clientArea() { bash "$wineRun" "$windowtool" client 5000 | tr -d '\r'; }

# ---- The whole run, full screen, with a key tap and a click ------------------
name="full run"
dir=$(install full "$game/Data")
start "$dir"
if waitForLog "$dir" "${logPrefix}INPUT waiting for a key tap and a click"; then
  xwd -root -silent >"$dir/fullscreen.png.xwd"
  read -r cx cy cw ch <<<"$(clientArea)"
  focusMainWindow || fail "$name" "no main window to focus"
  # A quick tap: its down and up are often both pumped during the frame wait.
  xdotool key --delay 5 Return
  sleep 0.3
  # The centre of the client area is the centre of the picture: (320, 240).
  xdotool mousemove $((cx + cw / 2)) $((cy + ch / 2)) mousedown 1 sleep 0.2 mouseup 1
else
  fail "$name" "the input phase did not start"
fi
finish "$name"
((code == 0)) || fail "$name" "exit code $code"
logLines "$dir" | sed -n "/^${logPrefix}CHECK/,\$p" >"$dir/log.from-check"
expectSame "$name" "the log" "$gameGolden" "$dir/log.from-check"
grep -q $'\r$' "$dir/Data/log.txt" || fail "$name" "log lines do not end in CR LF"
if [[ -f "$dir/fullscreen.png.xwd" ]]; then
  convert "xwd:$dir/fullscreen.png.xwd" "PNG24:$dir/fullscreen.png" && rm -f "$dir/fullscreen.png.xwd"
  [[ "${cw:-}x${ch:-}" == 1920x1080 ]] || fail "$name" "full-screen client area: ${cx:-} ${cy:-} ${cw:-} ${ch:-}"
  python3 "$checkShot" "$dir/fullscreen.png" || fail "$name" "full-screen screenshot"
fi
echo "done $name"

# ---- Windowed (F11), then closed during the frame wait -----------------------
name="windowed, closed"
dir=$(install windowed "$game/Data")
start "$dir"
if waitForLog "$dir" "${logPrefix}INPUT waiting for a key tap and a click"; then
  focusMainWindow || fail "$name" "no main window to focus"
  xdotool key F11
  client=""
  for ((i = 0; i < 20; ++i)); do
    client=$(clientArea)
    [[ "$client" == *" 640 480" ]] && break
    sleep 0.1
  done
  sleep 0.2  # a frame drawn at the new size
  xwd -root -silent >"$dir/windowed.png.xwd"
  bash "$wineRun" "$windowtool" close 5000 >/dev/null || fail "$name" "no window to close"
else
  fail "$name" "the input phase did not start"
fi
finish "$name"
((code == 0)) || fail "$name" "exit code $code"
# The close's quit message is taken by whichever pump comes first: during the
# frame wait (most of a frame) it halts the guest at once; in the guest's
# PeekMessageA the game is handed the quit and ends itself. Nothing else may
# follow.
last=$(logLines "$dir" | tail -n1)
[[ "$last" == "${logPrefix}INPUT waiting for a key tap and a click" ||
   "$last" == "${logPrefix}QUIT during frames" ]] ||
  fail "$name" "the run went on after the close: last line '$last'"
if [[ -f "$dir/windowed.png.xwd" ]]; then
  convert "xwd:$dir/windowed.png.xwd" "PNG24:$dir/windowed.png" && rm -f "$dir/windowed.png.xwd"
  if [[ "$client" == *" 640 480" ]]; then
    # shellcheck disable=SC2086
    python3 "$checkShot" "$dir/windowed.png" --client $client || fail "$name" "windowed screenshot"
  else
    fail "$name" "windowed client area: '$client'"
  fi
fi
echo "done $name"

# ---- F12: the picture on the clipboard is the picture on the screen ----------
# With Mesa's softpipe, whose front buffer reads back what was shown.
name="F12 picture"
dir=$(install f12 "$game/Data")
bash "$wineRun" "$windowtool" emptyclipboard || fail "$name" "the clipboard cannot be emptied"
GALLIUM_DRIVER=softpipe start "$dir"
if waitForLog "$dir" "${logPrefix}INPUT waiting for a key tap and a click"; then
  focusMainWindow || fail "$name" "no main window to focus"
  shoot "$dir/screen.png"
  xdotool key F12
  bash "$wineRun" "$windowtool" clipboard "$dir/f12.bmp" 5000 >/dev/null || fail "$name" "no picture on the clipboard"
  bash "$wineRun" "$windowtool" close 5000 >/dev/null || fail "$name" "no window to close"
else
  fail "$name" "the input phase did not start"
fi
finish "$name"
((code == 0)) || fail "$name" "exit code $code"
if [[ -f "$dir/f12.bmp" ]]; then
  convert "$dir/f12.bmp" "PNG24:$dir/f12.png"
  python3 "$checkShot" "$dir/f12.png" || fail "$name" "the F12 picture"
  differing=$(compare -metric AE "$dir/f12.png" "$dir/screen.png" null: 2>&1)
  [[ "$differing" == 0 ]] || fail "$name" "the F12 picture and the screen differ in $differing pixels"
fi
echo "done $name"

# ---- Every variant: its log tail, its box (or none) and exit code 0 ----------
# <variant> <box text after the common start, or "" for no box>
variants=(
  "raise|:("
  "unbound|:("
  "badop|:("
  "return|"
  "missingpic|Check the game is installed properly."
  "unforged|Check the game is installed properly."
)
for entry in "${variants[@]}"; do
  variant=${entry%%|*}
  boxText=${entry#*|}
  name="variant $variant"
  dir=$(install "$variant" "$game/variants/$variant/Data")
  start "$dir"
  if [[ -n "$boxText" ]]; then
    box=$(bash "$wineRun" "$boxreader" "$caption" 60000) || fail "$name" "no message box"
    [[ "$box" == *"text=$boxStart$boxText"* ]] || fail "$name" "box: ${box:-<none>}"
  fi
  finish "$name"
  ((code == 0)) || fail "$name" "exit code $code"
  logTail "$dir" >"$dir/log.tail"
  expectSame "$name" "the log's tail" "$golden/$variant.log" "$dir/log.tail"
  echo "done $name"
done

# ---- The font missing or not a PNG: refused at start-up ----------------------
for fontCase in missing invalid; do
  name="font $fontCase"
  dir=$(install "font-$fontCase" "$game/Data")
  if [[ $fontCase == missing ]]; then rm "$dir/Data/font.png"
  else printf 'This is not a PNG file.\n' >"$dir/Data/font.png"; fi
  start "$dir"
  box=$(bash "$wineRun" "$boxreader" "$caption" 60000) || fail "$name" "no message box"
  [[ "$box" == *"text=${boxStart}Check the game is installed properly."* ]] || fail "$name" "box: ${box:-<none>}"
  finish "$name"
  ((code == 0)) || fail "$name" "exit code $code"
  [[ "$(logLines "$dir")" == "Unable to load Font.png" ]] || fail "$name" "log: $(logLines "$dir")"
  echo "done $name"
done

if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "all test game cases passed"
