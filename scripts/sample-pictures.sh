#!/usr/bin/env bash
# Converts the bundled equirectangular scene with each plug-in: the pictures
# of the README (docs/images/sample-*.png).
#
#   bash scripts/sample-pictures.sh REPROJECT OUTPUT_FOLDER
set -euo pipefail
reproject=$1
out=$2
scene="$(dirname "$0")/../samples/scene-equirect.png"
mkdir -p "$out"
# A 16:9 perspective view looking north, a little upwards.
"$reproject" varnel --input equirect --out-fov 100 --pitch 10 \
  --use-height --height 540 --width-16x9 --bilinear -y "$scene" "$out/sample-varnel.png"
# A dome master of the sky: the camera turned straight up.
"$reproject" oskuda --input equirect --pitch 90 \
  --use-height --height 512 --square --circle-mask --bilinear -y "$scene" "$out/sample-oskuda.png"
# The panorama turned: tilted by 30 degrees and moved by 45 degrees.
"$reproject" trimbel --pitch 30 --azimuth 45 \
  --use-height --height 512 --width-2x1 --bilinear -y "$scene" "$out/sample-trimbel.png"
