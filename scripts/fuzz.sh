#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and UBSan in
# build-fuzz/ and runs each plug-in's target for a bounded time, starting
# from its corpus in fuzz/corpus/<plug-in>/. Inputs the run discovers go to a
# temporary folder (pass --keep to merge them into the repository's corpus).
# A crash, a sanitizer report or a broken frame invariant fails the run; the
# input that caused it is kept in build-fuzz/artifacts/.
#
#   bash scripts/fuzz.sh [seconds per target, default 30] [--keep]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=30
keep=0
for arg in "$@"; do
  case "$arg" in
    --keep) keep=1 ;;
    *) seconds=$arg ;;
  esac
done
jobs=$(nproc)
if [ "$jobs" -gt 2 ]; then jobs=2; fi

cc=$(command -v clang-14 || command -v clang)
cxx=$(command -v clang++-14 || command -v clang++)
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g"
CC="$cc" CXX="$cxx" cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release -DLENS_BUILD_FUZZERS=ON \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
targets=(varnel oskuda trimbel)
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build-fuzz/artifacts
failed=0
for name in "${targets[@]}"; do
  mkdir -p "$work/$name"
  log="$work/$name.log"
  set +e
  ASAN_OPTIONS=detect_leaks=1 timeout $((seconds + 120)) "build-fuzz/fuzz/fuzz_$name" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$root/build-fuzz/artifacts/$name-" \
    "$work/$name" "fuzz/corpus/$name" >"$log" 2>&1
  status=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "fuzz_$name: FAULT after ${runs:-?} executions (exit $status); the log ends:"
    tail -n 40 "$log"
  else
    echo "fuzz_$name: ${runs:-?} executions in ${seconds} s, no fault"
  fi
  if [ "$keep" -eq 1 ]; then
    "build-fuzz/fuzz/fuzz_$name" -merge=1 "fuzz/corpus/$name" "$work/$name" >/dev/null 2>&1 || true
  fi
done
exit "$failed"
