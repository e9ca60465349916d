#!/usr/bin/env bash
# Runs a command (for instance ctest) inside one Wine session: every
# tools/wine-run.sh it starts shares the session's Xvfb, prefix and
# wineserver. Everything the session started is stopped at the end.
#
#   bash tools/wine-session.sh [--home DIR] command [args...]
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

QZ_WINE_HOME="${QZ_WINE_HOME:-$qz_root/build/wine}"
if [[ "${1:-}" == --home ]]; then
  QZ_WINE_HOME="$2"
  shift 2
fi
[[ $# -gt 0 ]] || { echo "usage: wine-session.sh [--home DIR] command [args...]" >&2; exit 2; }

if [[ -n "${QZ_WINE_SESSION:-}" ]]; then
  "$@"
  exit $?
fi

QZ_WINE_HOME="$(mkdir -p "$QZ_WINE_HOME" && cd "$QZ_WINE_HOME" && pwd)"
trap 'qz_stop_session' EXIT
trap 'exit 143' TERM INT
qz_start_session || exit 1
"$@"
exit $?
