#!/usr/bin/env bash
# CPU of the running program while it idles in the tray with meeting detection polling, over a
# minute (target: at most 0.1 % of one core). Needs the X server with a tray and the audio server
# of the test services:
#   scripts/with-test-services bench/idle_cpu.sh build-release/src/kavrel [seconds]
set -euo pipefail
kavrel=${1:?usage: $0 path/to/kavrel [seconds]}
seconds=${2:-60}
ticks=$(getconf CLK_TCK)

KAVREL_AUTH_BASE_URL=http://127.0.0.1:9 QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 "$kavrel" >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
sleep 5 # start-up is not idling

cpu() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
before=$(cpu)
sleep "$seconds"
after=$(cpu)
awk -v used="$((after - before))" -v ticks="$ticks" -v seconds="$seconds" 'BEGIN {
  percent = 100 * used / ticks / seconds
  printf "idle in the tray for %d s: %.1f ms of CPU, %.3f %% of one core (target <= 0.1 %%)\n", seconds, 1000 * used / ticks, percent
}'
