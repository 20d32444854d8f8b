#!/usr/bin/env bash
# Peak memory of a whole run without a display: draws one sprite on a SIZE x SIZE sheet,
# writes it (scaling MAKE: none, grow or shrink) and prints the peak resident set size that
# /usr/bin/time -v reports, with the sheet's own size for comparison.
# Usage: bench/peak_memory.sh [program] [size] [make]   (defaults: build/sheetbuilder 4096 none)
set -euo pipefail
program="$(realpath "${1:-build/sheetbuilder}")"
size="${2:-4096}"
make="${3:-none}"
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT
printf 'Sheet Width=%s\nSheet Height=%s\nSize=%s\nMake=%s\nSeed=7\n' \
  "$size" "$size" "$size" "$make" > "$folder/settings.ini"
report="$folder/time.txt"
status=0
(cd "$folder" && env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/time -v -o "$report" "$program") \
  || status=$?
peak_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$report")
elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$report")
sheet_kib=$(( size * size * 4 / 1024 ))
echo "sheet ${size} x ${size} (make ${make}): peak RSS ${peak_kib} KiB, sheet ${sheet_kib} KiB," \
     "elapsed ${elapsed}, exit status ${status}"
