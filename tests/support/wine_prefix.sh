# Sourced by the wine comparisons: checks that the Windows program was
# built, empties the results folder, and makes a wine prefix in a temporary
# folder, for this run only. On exit its wineserver is stopped and awaited
# (it may still be writing there), then the folder is removed; the script's
# status is kept.
#   source wine_prefix.sh <wineserver> <folder name prefix> <program.exe> <results folder>
[ -f "$3" ] || { echo "missing $3: its Windows build did not run"; exit 1; }
rm -rf "$4"
wine_prefix_server=$1
prefix_root=$(mktemp -d "${TMPDIR:-/tmp}/$2.XXXXXX")
export WINEPREFIX=$prefix_root/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  local status=$?
  "$wine_prefix_server" -k >/dev/null 2>&1 || true
  "$wine_prefix_server" -w >/dev/null 2>&1 || true
  rm -rf "$prefix_root" 2>/dev/null || rm -rf "$prefix_root" 2>/dev/null || true
  exit $status
}
trap cleanup EXIT
