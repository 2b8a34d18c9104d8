#!/usr/bin/env bash
# Joins the segments of a long job (reproject ... --start S --frames N, one
# run per segment, in order) into one file without re-encoding:
#
#   bash scripts/join-segments.sh OUTPUT SEGMENT...
#
# Each segment is given the length of its pictures, not of its last audio
# packet (which may run past the segment's end), so that the audio keeps its
# times across the joins.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 OUTPUT SEGMENT..." >&2
  exit 2
fi
output=$1
shift
list=$(mktemp "${TMPDIR:-/tmp}/join-segments.XXXXXX")
trap 'rm -f "$list"' EXIT
echo "ffconcat version 1.0" > "$list"
for segment in "$@"; do
  [ -f "$segment" ] || { echo "$0: $segment: no such file" >&2; exit 1; }
  path=$(realpath "$segment")
  # From the first picture's start to the last picture's end.
  length=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,duration_time -of csv=p=0 "$path" |
           awk -F, '$1 != "N/A" { if (first == "" || $1 < first) first = $1;
                                  end = $1 + ($2 == "N/A" ? 0 : $2); if (end > last) last = end }
                    END { printf "%.6f", last - first }')
  printf "file '%s'\nduration %s\n" "${path//\'/\'\\\'\'}" "$length" >> "$list"
done
ffmpeg -v error -nostdin -f concat -safe 0 -i "$list" -map 0 -c copy "$output"
echo "$output"
