#!/usr/bin/env bash
# Builds everything and runs every test: the set-up, the source checks in
# tools/ci.d/0*.sh, the native suites with AddressSanitizer and UBSan, the
# Windows suites and the end-to-end tests under Wine, then the further steps
# in tools/ci.d/. Stops at the first failure.
#
#   bash tools/test.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
export QZ_ROOT="$root"
export QZ_JOBS="${QZ_JOBS:-$(nproc)}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

step() { echo; echo "=== $* ==="; }

step "set-up"
bash tools/setup.sh

# The steps of tools/ci.d named 0* check the sources and need no build.
shopt -s nullglob
for extra in tools/ci.d/0*.sh; do
  step "$extra"
  bash "$extra"
done

step "native build with AddressSanitizer and UBSan"
cmake --preset native-asan
cmake --build --preset native-asan -j "$QZ_JOBS"
step "native tests"
ctest --preset native-asan -j "$QZ_JOBS"

step "Windows build"
cmake --preset windows
cmake --build --preset windows -j "$QZ_JOBS"
step "Windows and end-to-end tests under Wine"
bash tools/wine-session.sh --home "$root/build/windows/wine" ctest --preset windows

for extra in tools/ci.d/*.sh; do
  [[ $extra == tools/ci.d/0* ]] && continue
  step "$extra"
  bash "$extra"
done

step "all tests passed"
