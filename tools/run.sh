#!/usr/bin/env bash
# Builds the program and runs it under Wine from build/run/.
#
#   bash tools/run.sh                  the bundled test game
#   bash tools/run.sh <data folder>    the real game: the folder holding
#                                      Quorlen.exe and font.png (and the
#                                      game's own files)
#   bash tools/run.sh <folder> -vsync  arguments after the folder go to the
#                                      program
#
# The test game's Data folder is copied to build/run/Data; a given folder is
# linked there instead, so the program's log.txt is written into it. The
# program runs with build/run/ as its working directory.
#
# With an X display (DISPLAY set) the program opens on it. Without one it
# runs on a private 640x480 virtual display and a screenshot of it is saved
# as build/run/screenshot.png (the test game: at its input phase; the real
# game: after ten seconds). A fatal-error box is then printed and dismissed,
# so a failed run ends on its own; a real game runs until Ctrl-C.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
dataDir=""
if [[ $# -gt 0 && "$1" != -* ]]; then
  [[ -d "$1" ]] || { echo "run: $1 is not a folder" >&2; exit 2; }
  dataDir="$(cd "$1" && pwd)"
  shift
fi

bash tools/setup.sh
cmake --preset windows >/dev/null
targets=(QuorlenZiradeva boxreader windowtool)
[[ -n "$dataDir" ]] || targets+=(testgame)
cmake --build --preset windows -j "${QZ_JOBS:-$(nproc)}" --target "${targets[@]}"

install="$root/build/run"
mkdir -p "$install"
cp build/windows/src/QuorlenZiradeva.exe "$install/"
rm -rf "$install/Data" "$install/screenshot.png"
if [[ -n "$dataDir" ]]; then
  ln -s "$dataDir" "$install/Data"
else
  echo "run: the bundled test game (build/windows/testgame)"
  cp -r build/windows/testgame/Data "$install/Data"
  rm -f "$install/Data/log.txt"
fi
cd "$install"

home="$root/build/windows/wine"
export install testGame=$([[ -n "$dataDir" ]] && echo 0 || echo 1)
status=0
if [[ -n "${DISPLAY:-}" ]]; then
  QZ_USE_DISPLAY=1 bash "$root/tools/wine-run.sh" --home "$home" ./QuorlenZiradeva.exe "$@" || status=$?
  echo "run: exit code $status"
else
  # Headless: one session for the program, the screenshot and the box reader.
  QZ_XVFB_SCREEN=640x480x24 bash "$root/tools/wine-session.sh" --home "$home" bash -c '
    wineRun="$0"; boxreader="$1"; shift
    bash "$wineRun" ./QuorlenZiradeva.exe "$@" &
    program=$!
    # The screenshot: once the test game waits for input, or after ten seconds.
    shot() {
      xwd -root -silent >screenshot.xwd && convert xwd:screenshot.xwd PNG24:screenshot.png &&
        echo "run: screenshot saved: $install/screenshot.png"
      rm -f screenshot.xwd
    }
    started=$SECONDS shotTaken=0
    while kill -0 "$program" 2>/dev/null; do
      if ((!shotTaken)); then
        if { ((testGame)) && grep -q "INPUT waiting" Data/log.txt 2>/dev/null; } ||
           { ((!testGame)) && ((SECONDS - started >= 10)); }; then
          shot
          shotTaken=1
        fi
      fi
      if box=$(bash "$wineRun" "$boxreader" "Quorlen Ziradeva" 200); then
        echo "run: message box: $(echo "${box#text=}" | head -n1)"
        break  # the box is the last thing the program shows
      fi
    done
    wait "$program"
    code=$?
    echo "run: exit code $code"
    exit $code
  ' "$root/tools/wine-run.sh" "$root/build/windows/tests/e2e/boxreader.exe" "$@" || status=$?
fi
if [[ -f Data/log.txt ]]; then
  echo "run: Data/log.txt:"
  if ((testGame)); then
    # The test game's lines carry a fixed prefix; show them without it.
    sed 's/\r$//; s/^Warning: GetProcAddress() export name not found: //; s/^/  /' Data/log.txt | tail -n 12
  else
    sed 's/\r$//; s/^/  /' Data/log.txt
  fi
fi
exit $status
