#!/bin/sh
# Where the filters' time goes: each static bench case, both samplers, on one
# thread, sampled by perf's software clock (no hardware counters needed) in a
# Release build with line tables, and grouped by the source file the sampled
# instructions come from. Prints per case the time per output pixel, the
# cycles it makes at the processor's nominal clock, and the files that take
# 2 % or more of the plug-in's samples.
#
# usage: bench/profile.sh [CASE ...]     (default: the four static cases)
#        LENS_KERNELS=avx2 bench/profile.sh varnel_view
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LENS_PROFILE_BUILD:-$root/build-profile}
frames=${LENS_PROFILE_FRAMES:-20}
command -v perf >/dev/null || { echo "profile.sh: perf is missing (apt-get install linux-perf)" >&2; exit 1; }

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench Varnel Oskuda Trimbel \
  VarnelReference OskudaReference TrimbelReference >/dev/null

mhz=$(awk -F: '/cpu MHz/ { print $2 + 0; exit }' /proc/cpuinfo)
cases=${*:-varnel_view oskuda_dome trimbel_fisheye trimbel_rotate}
data=$(mktemp)
trap 'rm -f "$data"' EXIT
echo "one thread, $frames frames, ${mhz} MHz nominal; kernels: ${LENS_KERNELS:-widest}"
for c in $cases; do
  case $c in
    varnel*) plugin=Varnel.so ;;
    oskuda*) plugin=Oskuda.so ;;
    *) plugin=Trimbel.so ;;
  esac
  for i in ${LENS_PROFILE_INTERP:-near bilinear}; do
    row=$(perf record -q -e cpu-clock -o "$data" "$build/bench/bench" --no-v360 --frames "$frames" \
            --case "$c" --interp "$i" --threads 1 2>/dev/null | awk -v c="$c" '$1 == c { print }')
    # The table's last column is Mpixel/s.
    echo "$row" | awk -v mhz="$mhz" '{ mp = $NF; printf "\n%s %s: %.2f ns, %.1f cycles an output pixel\n", $1, $2, 1000 / mp, mhz / mp }'
    perf report -q -i "$data" --dsos "$plugin" --no-children --sort srcline --stdio 2>/dev/null |
      awk '/%/ { sub("%", "", $1); split($2, at, ":"); share[at[1]] += $1; total += $1 }
           END { for (f in share) if (share[f] >= 0.02 * total)
                   printf "  %5.1f %%  %s\n", 100 * share[f] / total, f }' | sort -rn
  done
done
