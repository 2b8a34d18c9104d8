#!/usr/bin/env bash
# check_exports.sh <objdump> <plug-in folder> <suffix> <PE format> <export> <Name>...
# Each <Name><suffix> must be a PE file of the given format (pei-i386 for the
# .auf files, pei-x86-64 for the .auf2 files) whose only export is the
# undecorated <export> and whose imports are Windows system DLLs only: no
# MinGW runtime (libgomp, libstdc++, libgcc, libwinpthread) beside it.
# A pei-x86-64 file must also hold no aligned vector move: there GCC leaves
# the stack 16-byte aligned, and its vector row loops rely on the assembler
# having written every such move as an unaligned one.
set -u
objdump=$1 dir=$2 suffix=$3 format=$4 export=$5
shift 5
allowed=" kernel32.dll msvcrt.dll user32.dll advapi32.dll ntdll.dll "
status=0
for name in "$@"; do
  file="$dir/$name$suffix"
  if [ ! -f "$file" ]; then
    echo "FAIL $name: $file missing"; status=1; continue
  fi
  dump=$("$objdump" -p "$file") || { echo "FAIL $name: objdump failed"; status=1; continue; }
  problems=()
  grep -q "file format $format\$" <<<"$dump" || problems+=("not a $format file")
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0}
                 on {print $NF}' <<<"$dump" | tr '\n' ' ')
  [ "$exports" = "$export " ] || problems+=("exports: ${exports:-none}")
  imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump" | tr '\n' ' ')
  for dll in $imports; do
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    [[ "$allowed" == *" $lower "* ]] || problems+=("imports $dll")
  done
  if [ "$format" = pei-x86-64 ]; then
    aligned=$("$objdump" -d "$file" | grep -cE $'\t(v?movap[sd]|v?movdqa|vmovdqa(32|64)|v?movnt[a-z0-9]*) ')
    [ "$aligned" -eq 0 ] || problems+=("$aligned aligned vector moves")
  fi
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name$suffix exports: $exports imports: $imports"
  else
    echo "FAIL $name$suffix: ${problems[*]}"; status=1
  fi
done
exit $status
