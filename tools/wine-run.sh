#!/usr/bin/env bash
# Runs one command under the project's Wine: a Windows executable through
# wine64, anything else (a test script that starts several programs) as it
# is, with the session's DISPLAY and WINEPREFIX. Inside a running session
# (tools/wine-session.sh) it joins that session; otherwise it starts one for
# this command and stops it afterwards. The command's exit code is returned.
#
#   bash tools/wine-run.sh [--home DIR] program.exe [args...]
#
# --home: the folder of the prefix and the session lock (default build/wine).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

QZ_WINE_HOME="${QZ_WINE_HOME:-$qz_root/build/wine}"
if [[ "${1:-}" == --home ]]; then
  QZ_WINE_HOME="$2"
  shift 2
fi
[[ $# -gt 0 ]] || { echo "usage: wine-run.sh [--home DIR] command [args...]" >&2; exit 2; }

if [[ -n "${QZ_WINE_SESSION:-}" ]]; then
  qz_find_wine || exit 1
  qz_run_in_session "$@"
  exit $?
fi

QZ_WINE_HOME="$(mkdir -p "$QZ_WINE_HOME" && cd "$QZ_WINE_HOME" && pwd)"
trap 'qz_stop_session' EXIT
trap 'exit 143' TERM INT
qz_start_session || exit 1
qz_run_in_session "$@"
exit $?
