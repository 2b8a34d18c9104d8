#!/usr/bin/env bash
# wine_compare.sh <wine> <wineserver> <aufhost.exe> <.auf folder> <nativehost> <.so folder> <results>
# Runs the frames of hosts/win32/host_cases.h through the .auf files under
# wine and through the Linux shared libraries, then compares the results.
# The wine prefix lives in a temporary folder and is removed afterwards.
set -euo pipefail
wine=$1 wineserver=$2 aufhost=$3 auf_dir=$4 nativehost=$5 so_dir=$6 results=$7

[ -f "$aufhost" ] || { echo "missing $aufhost: the Windows build did not run"; exit 1; }
prefix_root=$(mktemp -d "${TMPDIR:-/tmp}/lens-wine.XXXXXX")
export WINEPREFIX=$prefix_root/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Stop this prefix's wineserver and wait until it has gone before removing
# the prefix (it may still be writing there); the test's status is kept.
cleanup() {
  local status=$?
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  rm -rf "$prefix_root" 2>/dev/null || rm -rf "$prefix_root" 2>/dev/null || true
  exit $status
}
trap cleanup EXIT

rm -rf "$results"
mkdir -p "$results/windows" "$results/windows-3threads" "$results/linux"
echo "== Windows host (wine)"
win_status=0
# Wine maps drive Z: to the root of the Linux file system.
"$wine" "$aufhost" "Z:$auf_dir" "Z:$results/windows" </dev/null || win_status=$?
# Again with three OpenMP threads: uneven row blocks must give the same frames.
echo "== Windows host (wine), 3 threads"
OMP_NUM_THREADS=3 "$wine" "$aufhost" "Z:$auf_dir" "Z:$results/windows-3threads" </dev/null \
  || win_status=$?
echo "== Linux host"
linux_status=0
"$nativehost" run "$so_dir" "$results/linux" || linux_status=$?
echo "== Windows results against Linux results"
compare_status=0
"$nativehost" compare "$results/linux" "$results/windows" || compare_status=$?
echo "== Windows results with 3 threads against Linux results"
"$nativehost" compare "$results/linux" "$results/windows-3threads" || compare_status=$?
if [ $win_status -ne 0 ] || [ $linux_status -ne 0 ] || [ $compare_status -ne 0 ]; then
  echo "FAILED (windows host $win_status, linux host $linux_status, comparison $compare_status)"
  exit 1
fi
