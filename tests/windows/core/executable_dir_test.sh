#!/usr/bin/env bash
# getExecutableDir from program paths of 60, 260 (MAX_PATH), 261 and 700
# characters: each gives the full folder. The probe is started by Wine's
# loader from the Linux side (Wine's own CreateProcessW refuses paths beyond
# MAX_PATH), so its module path is Z: and the Linux path.
#
#   executable_dir_test.sh <core_probe.exe> <wine home>
set -euo pipefail
probe=$1
home=$2
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
temp=$(mktemp -d /tmp/qz_exedir.XXXXXX)
trap 'rm -rf "$temp"' EXIT

dosPath() { local p=${1//\//\\}; echo "Z:$p"; }

failures=0
for length in 60 260 261 700; do
  # Folder components of at most 100 characters, so that the DOS form of
  # folder/probe.exe is exactly $length characters.
  folder="$temp/n$length"
  target=$((length - 2 - 10))
  while ((${#folder} < target)); do
    room=$((target - ${#folder} - 1))
    part=$((room > 100 ? 100 : room))
    ((room > 100 && room - 100 < 2)) && part=$((room - 2))
    folder="$folder/$(printf '%*s' "$part" '' | tr ' ' d)"
  done
  mkdir -p "$folder"
  cp "$probe" "$folder/probe.exe"
  exe=$(dosPath "$folder/probe.exe")
  if ((${#exe} != length)); then
    echo "FAIL $length: built a path of ${#exe} characters"; failures=$((failures + 1)); continue
  fi
  out="$temp/out$length.txt"
  if ! QZ_PROBE_OUT=$(dosPath "$out") bash "$root/tools/wine-run.sh" --home "$home" "$folder/probe.exe"; then
    echo "FAIL $length: the probe failed"; failures=$((failures + 1)); continue
  fi
  got=$(grep '^dir=' "$out" 2>/dev/null || true)
  if [[ "$got" == "dir=$(dosPath "$folder")" ]]; then
    echo "ok   $length"
  else
    echo "FAIL $length: got '${got:0:80}...' (${#got} characters)"; failures=$((failures + 1))
  fi
done
((failures == 0))
