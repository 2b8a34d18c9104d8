#!/usr/bin/env bash
# The README's pictures are what the sample script makes now, pixel for
# pixel (decoded pixels are compared, not the PNG files' bytes).
#   readme_pictures_test.sh REPROJECT SOURCE_DIR
set -euo pipefail
reproject=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$source/scripts/sample-pictures.sh" "$reproject" "$work" >/dev/null
status=0
for name in varnel oskuda trimbel; do
  made=$(ffmpeg -v error -i "$work/sample-$name.png" -f framemd5 -pix_fmt rgb24 - | grep -v '^#')
  kept=$(ffmpeg -v error -i "$source/docs/images/sample-$name.png" -f framemd5 -pix_fmt rgb24 - | grep -v '^#')
  if [ "$made" != "$kept" ]; then
    echo "docs/images/sample-$name.png differs from what scripts/sample-pictures.sh makes now"
    status=1
  fi
done
exit $status
