#!/usr/bin/env bash
# cmake --install puts reproject and the plug-ins under a prefix, and the
# installed program finds its plug-ins beside itself wherever the prefix is
# moved, without the build tree.
#   install_test.sh BUILD_DIR SCENE PLUGIN...
set -euo pipefail
build=$1
scene=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/first" >/dev/null
plugins=("${@/#/lib/lens-reprojection/plugins/}")
for file in bin/reproject "${plugins[@]/%/.so}"; do
  [ -f "$work/first/$file" ] || { echo "not installed: $file"; exit 1; }
done
mv "$work/first" "$work/moved"
"$work/moved/bin/reproject" trimbel --pitch 30 "$scene" "$work/out.png"
# It looks for the plug-in in its own prefix: without it there, it names
# the place it looked.
rm "$work/moved/lib/lens-reprojection/plugins/Varnel.so"
if message=$("$work/moved/bin/reproject" varnel -y "$scene" "$work/out.png" 2>&1); then
  echo "ran without its plug-in"; exit 1
fi
case "$message" in
  *"$work/moved/bin/../lib/lens-reprojection/plugins/Varnel.so"*) ;;
  *) echo "looked elsewhere: $message"; exit 1 ;;
esac
echo "installed and moved: ok"
