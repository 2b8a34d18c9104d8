#!/usr/bin/env bash
# wine_editor2.sh <wine> <wineserver> <auf2host.exe> <.auf2 folder> <editor2_check> <.so folder> <results>
# Runs the calls of tests/editor2/editor2_cases.h through the .auf2 files in
# the stand-in host under wine, then compares its items and frames with the
# classic plug-ins. The wine prefix lives in a temporary folder and is
# removed afterwards.
set -euo pipefail
wine=$1 wineserver=$2 auf2host=$3 auf2_dir=$4 check=$5 so_dir=$6 results=$7

source "$(dirname "$0")/../support/wine_prefix.sh" "$wineserver" lens-wine64 "$auf2host" "$results"

mkdir -p "$results/wine"
echo "== stand-in host (wine)"
host_status=0
# Wine maps drive Z: to the root of the Linux file system.
"$wine" "$auf2host" "Z:$auf2_dir" "Z:$results/wine" </dev/null || host_status=$?
echo "== items and frames against the classic plug-ins"
check_status=0
"$check" "$so_dir" "$results/wine" || check_status=$?
if [ $host_status -ne 0 ] || [ $check_status -ne 0 ]; then
  echo "FAILED (stand-in host $host_status, comparison $check_status)"
  exit 1
fi
