#!/usr/bin/env bash
# Times the built program as a user runs it, with each renderer, on the default sheet:
#   no display: the whole process, start to exit;
#   in a window (a private Xvfb): start until "Out.png" exists; a key then ends it.
# Beside them it prints the floor that the program's rules put under a watched sheet (from
# sheet_bench) and each time as a multiple of it.
# Usage: bench/program_times.sh [build folder] [seed] [runs]
#   (run from the source folder; the build folder defaults to build, the seed to 1, runs to 3;
#   each figure is the best of the runs)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seed=${2:-1}
runs=${3:-3}
program="$build/sheetbuilder"
scratch=$(mktemp -d)
display_number=$((300 + $$ % 300))
trap 'kill "${xvfb_pid:-0}" 2>/dev/null || true; rm -rf "$scratch"' EXIT

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
# A pause without starting a process (a stream nobody writes to), so that waiting for the
# file takes no CPU from the program being timed.
exec {idle}<> <(:)
pause() { read -r -t "$1" -u "$idle" || true; }

floor_ms=$("$build/sheet_bench" "$seed" software none quick | awk '/floor of the rules/ {print $5}')

Xvfb ":$display_number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display_number" ] && break; sleep 0.1; done

# Best of the runs of one way of running, in milliseconds.
time_runs() {
  local renderer=$1 mode=$2 best=""
  for _ in $(seq "$runs"); do
    rm -rf "$scratch/run" && mkdir "$scratch/run" && cd "$scratch/run"
    printf 'Seed=%s\nRenderer=%s\n' "$seed" "$renderer" > settings.ini
    local start elapsed
    start=$(now_ms)
    if [ "$mode" = none ]; then
      env -u DISPLAY -u WAYLAND_DISPLAY "$program" 2>/dev/null
      elapsed=$(( $(now_ms) - start ))
    else
      env -u WAYLAND_DISPLAY DISPLAY=":$display_number" "$program" 2>/dev/null &
      local pid=$!
      until [ -e Out.png ]; do pause 0.005; done
      elapsed=$(( $(now_ms) - start ))
      pause 0.3
      DISPLAY=":$display_number" xdotool key q >/dev/null 2>&1 || kill "$pid"
      wait "$pid" || true
    fi
    if [ -z "$best" ] || [ "$elapsed" -lt "$best" ]; then best=$elapsed; fi
    cd - >/dev/null
  done
  echo "$best"
}

echo "default sheet, seed $seed, floor of the rules for a watched sheet: $floor_ms ms"
for renderer in Software OpenGL; do
  for mode in window none; do
    ms=$(time_runs "$renderer" "$mode")
    ratio=$(awk -v a="$ms" -v b="$floor_ms" 'BEGIN {printf "%.2f", a / b}')
    label=$([ "$mode" = window ] && echo "in a window, until Out.png" || echo "no display, whole process")
    printf '%-9s %-28s %7d ms  %5s x the floor\n' "$renderer" "$label" "$ms" "$ratio"
  done
done
