#!/usr/bin/env bash
# scripts/dist.sh [32-bit build dir] [64-bit build dir]
# The distribution zip with the filters for both editors: the .auf files of
# the 32-bit build (default build-win), the .auf2 files of the 64-bit build
# (default build-win64) and the user guides as Windows text files. Both
# trees must be built (scripts/test.sh builds them). The zip is written to
# <64-bit build dir>/dist/lens-filters-<version>.zip, the version
# taken from LENS_DIST_VERSION (default 1.0.0).
set -euo pipefail
cd "$(dirname "$0")/.."
win32=${1:-build-win}
win64=${2:-build-win64}
version=${LENS_DIST_VERSION:-1.0.0}
[ -f "$win32/plugins.txt" ] || { echo "dist.sh: $win32/plugins.txt missing: configure $win32 first" >&2; exit 1; }
mapfile -t plugins < "$win32/plugins.txt"
for plugin in "${plugins[@]}"; do
  for file in "$win32/plugins/$plugin.auf" "$win64/plugins/$plugin.auf2"; do
    [ -f "$file" ] || { echo "dist.sh: $file missing: build both trees first" >&2; exit 1; }
  done
done

name=lens-filters-$version
dist=$win64/dist
stage=$dist/$name
rm -rf "$stage" "$dist/$name.zip"
mkdir -p "$stage"
for plugin in "${plugins[@]}"; do
  cp "$win32/plugins/$plugin.auf" "$win64/plugins/$plugin.auf2" "$stage/"
done
for lang in ja en; do
  cmake -DIN=docs/guide-$lang.md -DOUT="$stage/guide-$lang.txt" -P cmake/guide_text.cmake
done
(cd "$dist" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$dist/$name.zip:"
(cd "$dist" && cmake -E tar tf "$name.zip")
