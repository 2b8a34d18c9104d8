#!/usr/bin/env bash
# check_exports.sh <objdump> <plug-in folder> <Name>...
# Each <Name>.auf must be a 32-bit PE file whose only export is the
# undecorated GetFilterTable and whose imports are Windows system DLLs only:
# no MinGW runtime (libgomp, libstdc++, libgcc, libwinpthread) beside it.
set -u
objdump=$1 dir=$2
shift 2
allowed=" kernel32.dll msvcrt.dll user32.dll advapi32.dll ntdll.dll "
status=0
for name in "$@"; do
  file="$dir/$name.auf"
  if [ ! -f "$file" ]; then
    echo "FAIL $name: $file missing"; status=1; continue
  fi
  dump=$("$objdump" -p "$file") || { echo "FAIL $name: objdump failed"; status=1; continue; }
  problems=()
  grep -q "file format pei-i386" <<<"$dump" || problems+=("not a 32-bit PE file")
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0}
                 on {print $NF}' <<<"$dump" | tr '\n' ' ')
  [ "$exports" = "GetFilterTable " ] || problems+=("exports: ${exports:-none}")
  imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump" | tr '\n' ' ')
  for dll in $imports; do
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    [[ "$allowed" == *" $lower "* ]] || problems+=("imports $dll")
  done
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name.auf exports: $exports imports: $imports"
  else
    echo "FAIL $name.auf: ${problems[*]}"; status=1
  fi
done
exit $status
