#!/usr/bin/env bash
# Installs what is missing, builds reproject and the plug-ins, and converts the
# bundled equirectangular scene with each plug-in into out/sample-*.png.
# BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target reproject Varnel Oskuda Trimbel
mkdir -p out
reproject="$build"/hosts/reproject/reproject
scene=samples/scene-equirect.png

# A 16:9 perspective view looking north, a little upwards.
"$reproject" varnel --input equirect --out-fov 100 --pitch 10 \
  --use-height --height 540 --width-16x9 --bilinear -y "$scene" out/sample-varnel.png
# A dome master of the sky: the camera turned straight up.
"$reproject" oskuda --input equirect --pitch 90 \
  --use-height --height 512 --square --circle-mask --bilinear -y "$scene" out/sample-oskuda.png
# The panorama turned: tilted by 30 degrees and moved by 45 degrees.
"$reproject" trimbel --pitch 30 --azimuth 45 \
  --use-height --height 512 --width-2x1 --bilinear -y "$scene" out/sample-trimbel.png

ls -l out/sample-varnel.png out/sample-oskuda.png out/sample-trimbel.png
