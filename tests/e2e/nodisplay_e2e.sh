#!/usr/bin/env bash
# The real executable on a desktop with no display that can show 640×480
# (run it in a Wine session on a smaller screen: QZ_XVFB_SCREEN=639x480x24):
# it logs exactly "No capable displays found", shows the graphics box and
# exits with 0.
#
#   nodisplay_e2e.sh <QuorlenZiradeva.exe> <boxreader.exe> <test game folder>
set -uo pipefail
product=$1
boxreader=$2
game=$3
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
wineRun="$root/tools/wine-run.sh"
temp=$(mktemp -d /tmp/qz_e2e.XXXXXX)
trap 'rm -rf "$temp"' EXIT

cp "$product" "$temp/QuorlenZiradeva.exe"
cp -r "$game/Data" "$temp/Data"
rm -f "$temp/Data/log.txt"

(cd "$temp" && exec bash "$wineRun" ./QuorlenZiradeva.exe) &
program=$!
box=$(bash "$wineRun" "$boxreader" "Quorlen Ziradeva" 60000)
found=$?
wait "$program"
code=$?

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
((found == 0)) || fail "no message box"
want="An error occurred and the program will now exit. This game does not have support for your graphics hardware."
[[ "$box" == *"text=$want"* ]] || fail "box: ${box:-<none>}"
((code == 0)) || fail "exit code $code"
log=$(od -An -c "$temp/Data/log.txt" 2>/dev/null | tr -s ' \n' ' ')
expected=$(printf 'No capable displays found\r\n' | od -An -c | tr -s ' \n' ' ')
[[ "$log" == "$expected" ]] || fail "log.txt holds:$log"
((failures == 0)) || exit 1
echo "no capable display: passed"
