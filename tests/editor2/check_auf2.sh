#!/usr/bin/env bash
# check_auf2.sh <objdump> <plug-in folder> <Name>...
# Each <Name>.auf2 must be a 64-bit PE file that exports exactly
# GetFilterPluginTable and imports Windows system DLLs only: no MinGW runtime DLL beside it.
set -u
objdump=$1 dir=$2
shift 2
allowed=" kernel32.dll msvcrt.dll user32.dll advapi32.dll ntdll.dll "
status=0
for name in "$@"; do
  file="$dir/$name.auf2"
  if [ ! -f "$file" ]; then
    echo "FAIL $name: $file missing"; status=1; continue
  fi
  dump=$("$objdump" -p "$file") || { echo "FAIL $name: objdump failed"; status=1; continue; }
  problems=()
  grep -q "file format pei-x86-64" <<<"$dump" || problems+=("not a 64-bit PE file")
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0}
                 on {print $NF}' <<<"$dump" | sort | tr '\n' ' ')
  [ "$exports" = "GetFilterPluginTable " ] || problems+=("exports: ${exports:-none}")
  imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump" | tr '\n' ' ')
  for dll in $imports; do
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    [[ "$allowed" == *" $lower "* ]] || problems+=("imports $dll")
  done
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name.auf2 exports: $exports imports: $imports"
  else
    echo "FAIL $name.auf2: ${problems[*]}"; status=1
  fi
done
exit $status
