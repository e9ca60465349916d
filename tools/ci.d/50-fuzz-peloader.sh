#!/usr/bin/env bash
# Fuzzes the PE loader for about a minute: builds its libFuzzer target with
# clang (AddressSanitizer and UBSan), seeds it with images from the tests'
# image builder, and fails on any crash, out-of-bounds access, leak or
# timeout. QZ_FUZZ_SECONDS changes the time.
#
#   bash tools/ci.d/50-fuzz-peloader.sh
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build/fuzz-peloader"
seconds="${QZ_FUZZ_SECONDS:-60}"

cmake -S "$root/tests/fuzz" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

rm -rf "$build/seeds"
mkdir -p "$build/seeds" "$build/corpus"
"$build/make_seeds" "$build/seeds"

echo "fuzz-peloader: fuzzing loadProgram for ${seconds} s"
cd "$build"
if ! ./peloader_fuzz -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=16384 -print_final_stats=1 -artifact_prefix="$build/crash-" \
    corpus seeds >fuzz.log 2>&1; then
  tail -n 60 fuzz.log
  echo "fuzz-peloader: FAILED (input saved as $build/crash-*)" >&2
  exit 1
fi
grep -E '^stat::(number_of_executed_units|new_units_added)' fuzz.log || true
echo "fuzz-peloader: passed"
