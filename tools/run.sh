#!/usr/bin/env bash
# Builds the program and runs it under Wine, with the given data folder as
# its "Data" folder (the game's "Quorlen.exe" and "font.png"; log.txt is
# written there). Arguments after the folder go to the program (-vsync).
#
#   bash tools/run.sh [data folder] [program arguments...]
#
# With an X display (DISPLAY set) the program opens on it. Without one it
# runs on a private virtual display; a fatal-error box is then printed and
# dismissed, so the run ends on its own.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
dataDir=""
if [[ $# -gt 0 ]]; then
  dataDir="$(cd "$1" && pwd)"
  shift
fi

bash tools/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target QuorlenZiradeva boxreader

install="$root/build/run"
mkdir -p "$install"
cp build/windows/src/QuorlenZiradeva.exe "$install/"
rm -rf "$install/Data"
if [[ -n "$dataDir" ]]; then
  ln -s "$dataDir" "$install/Data"
else
  echo "run: no data folder given: the program will report that the game is not installed" >&2
fi

home="$root/build/windows/wine"
if [[ -n "${DISPLAY:-}" ]]; then
  QZ_USE_DISPLAY=1 exec bash tools/wine-run.sh --home "$home" "$install/QuorlenZiradeva.exe" "$@"
fi

# Headless: one session for the program and the box reader.
export install
status=0
bash tools/wine-session.sh --home "$home" bash -c '
  wineRun="$0"; boxreader="$1"; shift 2
  bash "$wineRun" "$install/QuorlenZiradeva.exe" "$@" &
  program=$!
  while kill -0 "$program" 2>/dev/null; do
    if box=$(bash "$wineRun" "$boxreader" "Quorlen Ziradeva" 1000); then
      echo "run: message box: $(echo "${box#text=}" | head -n1)"
      break  # the box is the last thing the program shows
    fi
  done
  wait "$program"
  code=$?
  echo "run: exit code $code"
  exit $code
' "$root/tools/wine-run.sh" "$root/build/windows/tests/e2e/boxreader.exe" "$@" || status=$?
if [[ -f "$install/Data/log.txt" ]]; then
  echo "run: Data/log.txt:"
  sed 's/\r$//; s/^/  /' "$install/Data/log.txt"
fi
exit $status
