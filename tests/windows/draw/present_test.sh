#!/usr/bin/env bash
# Runs draw_present.exe in a Wine session and compares an X screenshot of
# its client area with the frame it drew.
#
#   present_test.sh draw_present.exe fullscreen|windowed
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
exe="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
mode="$2"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
bash "$root/tools/wine-run.sh" "$exe" "$mode" &
program=$!
for ((i = 0; i < 600; ++i)); do
  [[ -f ready ]] && break
  kill -0 "$program" 2>/dev/null || { echo "draw_present.exe ended early" >&2; exit 1; }
  sleep 0.1
done
[[ -f ready ]] || { echo "draw_present.exe never got ready" >&2; touch done; wait "$program"; exit 1; }
sleep 0.5
xwd -root -silent -display "$DISPLAY" >shot.xwd
status=0
/usr/bin/python3 "$here/compare_xwd.py" shot.xwd frame.txt expected.rgb || status=1
touch done
wait "$program" || status=1
exit "$status"
