#!/usr/bin/env bash
# wine_compare.sh <wine> <wineserver> <aufhost.exe> <.auf folder> <nativehost> <.so folder> <results>
# Runs the frames of tests/win32/host_cases.h through the .auf files under
# wine and through the Linux shared libraries, then compares the results.
# The wine prefix lives in a temporary folder and is removed afterwards; wine
# maps drive Z: to the root of the Linux file system.
set -euo pipefail
wine=$1 wineserver=$2 aufhost=$3 auf_dir=$4 nativehost=$5 so_dir=$6 results=$7

# A kernel with its 32-bit emulation off (ia32_emulation=off) starts no
# 32-bit program, wine's 32-bit loader and the .auf files included: the
# comparison cannot run there, and says so (exit 77: skipped).
if [ -e /lib/ld-linux.so.2 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  echo "SKIPPED: this machine runs no 32-bit programs (the kernel's 32-bit emulation is off);"
  echo "the .auf files cannot run under wine here"
  exit 77
fi

source "$(dirname "$0")/../support/wine_prefix.sh" "$wineserver" lens-wine "$aufhost" "$results"

mkdir -p "$results/linux"
echo "== Linux host"
linux_status=0
"$nativehost" run "$so_dir" "$results/linux" || linux_status=$?
# The Windows host under wine with the widest copy of the row loops the CPU
# has, with three OpenMP threads (uneven row blocks) and the AVX2 copy, and
# with the baseline copy (SSE2, what a CPU without AVX2 runs). Wine passes the
# environment on.
win_status=0
compare_status=0
for run in "default::" "3threads:3:avx2" "baseline::baseline"; do
  IFS=: read -r name threads kernels <<<"$run"
  mkdir -p "$results/windows-$name"
  echo "== Windows host (wine), $name"
  env ${threads:+OMP_NUM_THREADS=$threads} ${kernels:+LENS_KERNELS=$kernels} \
    "$wine" "$aufhost" "Z:$auf_dir" "Z:$results/windows-$name" </dev/null || win_status=$?
  echo "== Windows results ($name) against Linux results"
  "$nativehost" compare "$results/linux" "$results/windows-$name" || compare_status=$?
done
if [ $win_status -ne 0 ] || [ $linux_status -ne 0 ] || [ $compare_status -ne 0 ]; then
  echo "FAILED (windows host $win_status, linux host $linux_status, comparison $compare_status)"
  exit 1
fi
