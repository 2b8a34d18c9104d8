#!/usr/bin/env bash
# Installs what the demo needs, builds reproject and the plug-ins, installs
# them into install/ (PREFIX chooses another place) and converts the bundled
# equirectangular scene with each plug-in into out/sample-*.png.
# BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh demo
build="${BUILD_DIR:-build}"
prefix="${PREFIX:-$PWD/install}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLENS_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target reproject plugins
cmake --install "$build" --prefix "$prefix" >/dev/null
bash scripts/sample-pictures.sh "$prefix/bin/reproject" out
ls -l out/sample-varnel.png out/sample-oskuda.png out/sample-trimbel.png
echo "reproject is installed as $prefix/bin/reproject"
