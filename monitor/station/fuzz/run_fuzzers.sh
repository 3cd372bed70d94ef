#!/usr/bin/env bash
# Builds the station fuzz targets with clang (libFuzzer + AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs each one in turn.
#
#   monitor/station/fuzz/run_fuzzers.sh [SECONDS_PER_TARGET]   (default 600)
#
# Build folder: build-fuzz; working corpus (grows, not committed):
# fuzz-corpus-work/<target>, seeded from monitor/station/fuzz/corpus. Crash
# inputs land in fuzz-corpus-work/artifacts; after fixing, copy them into
# monitor/station/fuzz/corpus/<html|csv>/ so that ctest replays them.
set -euo pipefail
seconds=${1:-600}
root=$(cd "$(dirname "$0")/../../.." && pwd)
cd "$root"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DSKYVANE_BUILD_FUZZERS=ON -DSKYVANE_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz --target station_fuzz_html_table station_fuzz_csv_reader -j2
mkdir -p fuzz-corpus-work/artifacts
for pair in html_table:html csv_reader:csv; do
  target=${pair%%:*}; kind=${pair##*:}
  mkdir -p "fuzz-corpus-work/$kind"
  cp -n monitor/station/fuzz/corpus/$kind/* "fuzz-corpus-work/$kind/" 2>/dev/null || true
  echo "== station_fuzz_$target for ${seconds}s"
  build-fuzz/bin/station_fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
    -dict=monitor/station/fuzz/$kind.dict -artifact_prefix="fuzz-corpus-work/artifacts/$kind-" \
    "fuzz-corpus-work/$kind" 2>&1 | grep -E "^(#[0-9]+ +DONE|stat::|==[0-9]+==|SUMMARY|Done)" || true
done
ls -l fuzz-corpus-work/artifacts
