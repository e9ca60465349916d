#!/usr/bin/env bash
# The real executable, installed in a fresh folder with the test game's font,
# with a game executable that cannot be used: it logs exactly "Unable to load
# Quorlen.exe" (CR LF) to Data/log.txt, shows the fatal-error box and exits
# with 0. Runs inside one Wine session (tools/wine-session.sh).
#
#   startup_e2e.sh <QuorlenZiradeva.exe> <boxreader.exe> <font.png>
set -uo pipefail
product=$1
boxreader=$2
font=$3
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
wineRun="$root/tools/wine-run.sh"
temp=$(mktemp -d /tmp/qz_e2e.XXXXXX)
trap 'rm -rf "$temp"' EXIT

caption="Quorlen Ziradeva"
boxText="An error occurred and the program will now exit. Check the game is installed properly."
failures=0

fail() { echo "FAIL $1: $2"; failures=$((failures + 1)); }

# A small valid PE32 (i386) image: one code section, no data directories.
# Its code digest is not the game's.
writePe32() {
  /usr/bin/python3 - "$1" <<'PY'
import struct, sys
dos = bytearray(0x40); dos[0:2] = b"MZ"; dos[0x3C:0x40] = struct.pack("<I", 0x40)
file_header = struct.pack("<4sHHIIIHH", b"PE\0\0", 0x14C, 1, 0, 0, 0, 0xE0, 0x0102)
optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII",
    0x10B, 6, 0, 0x200, 0, 0, 0x1000, 0x1000, 0x2000, 0x400000, 0x1000, 0x200,
    4, 0, 0, 0, 4, 0, 0, 0x2000, 0x200, 0, 2, 0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
optional += bytes(16 * 8)
section = struct.pack("<8sIIIIIIHHI", b".text", 0x10, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0x60000020)
image = bytearray(dos + file_header + optional + section)
image += bytes(0x200 - len(image))
code = bytearray(0x200); code[0] = 0xC3
open(sys.argv[1], "wb").write(image + code)
PY
}

# install <case> <folder name>: a fresh installation, with only the font in
# Data.
install() {
  local dir="$temp/$2"
  mkdir -p "$dir/Data"
  cp "$font" "$dir/Data/font.png"
  cp "$product" "$dir/QuorlenZiradeva.exe"
  echo "$dir"
}

# check <case> <installation>: runs the program, reads and dismisses its box.
check() {
  local name=$1 dir=$2 expectLog=$3
  bash "$wineRun" "$dir/QuorlenZiradeva.exe" &
  local program=$!
  local box
  box=$(bash "$wineRun" "$boxreader" "$caption" 30000)
  local found=$?
  wait "$program"
  local code=$?

  ((found == 0)) || fail "$name" "no message box with caption '$caption'"
  [[ "$box" == *"text=$boxText"* ]] || fail "$name" "box text: ${box:-<none>}"
  [[ "$box" == *"icon=1"* ]] || fail "$name" "the box shows no icon"
  ((code == 0)) || fail "$name" "exit code $code"
  if [[ "$expectLog" == yes ]]; then
    local logBytes
    logBytes=$(od -An -c "$dir/Data/log.txt" 2>/dev/null | tr -s ' \n' ' ')
    local expected
    expected=$(printf 'Unable to load Quorlen.exe\r\n' | od -An -c | tr -s ' \n' ' ')
    [[ "$logBytes" == "$expected" ]] || fail "$name" "log.txt holds:$logBytes"
  else
    [[ ! -e "$dir/Data" ]] || fail "$name" "a Data folder appeared"
  fi
  echo "done $name"
}

dir=$(install missing "missing")
check "no Quorlen.exe" "$dir" yes

dir=$(install nodata "nodata")
rm -r "$dir/Data"
check "no Data folder" "$dir" no

dir=$(install notpe "notpe")
printf 'This is not a PE32 file.\n' >"$dir/Data/Quorlen.exe"
check "not a PE32 file" "$dir" yes

# An installation folder whose name is not ASCII still gets its log: the
# UTF-8 path is opened through the wide-character C library call.
dir=$(install digest "Jeux $(printf '\xc3\xa9\xe6\x97\xa5\xe6\x9c\xac')")
writePe32 "$dir/Data/Quorlen.exe"
check "PE32 whose code digest differs (non-ASCII folder)" "$dir" yes

if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "all start-up cases passed"
