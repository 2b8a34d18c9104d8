# Sourced by the wine comparisons: a wine prefix in a temporary folder, for
# this run only. On exit its wineserver is stopped and awaited (it may still
# be writing there), then the folder is removed; the script's status is kept.
#   source wine_prefix.sh <wineserver> <folder name prefix>
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
