#!/usr/bin/env bash
# Loading a one-hour 1000 Hz binocular recording with vokread in Octave,
# against the C walk of the same file (every item stepped and its record
# fetched, velocities computed) timed by vokapi_walk_time, in one run.
#
#     bench/octave_load.sh [BUILD_DIR]        (or: cmake --build build --target octave_load_bench)
#
# Writes the recording with the build's vokgen on first use (the file of
# bench/python_load.py).  Prints the processor time of each (best of
# VOKAPI_BENCH_ROUNDS rounds, default 5, taken in turns), the ratio, and the
# peak memory of the Octave process against the bytes of the columns it
# returns.  vokread's figure includes opening (indexing) the file; the C
# walk's does not.  Goal: 1.5x.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
rec=$build/bench/python_hour_1000hz.vok
if [ ! -f "$rec" ]; then
  echo "writing $rec ..."
  "$build/tools/vokgen/vokgen" generate "$rec" --seed 2026 --duration-ms 3600000 --rate 1000 --blocks 12 \
    --eyes both > /dev/null
fi
rounds=${VOKAPI_BENCH_ROUNDS:-5}
best_c=1e30
best_m=1e30
for ((r = 0; r < rounds; ++r)); do
  c=$("$build/bench/vokapi_walk_time" "$rec" 1 | tail -1 | cut -d' ' -f1)
  out=$(octave --no-gui --no-window-system --norc --silent --eval "
    addpath('$build/matlab');
    t = cputime; rec = vokread('$rec', 'Consistency', 0); t = cputime - t;
    bytes = 0;
    for f = fieldnames(rec.samples)', x = rec.samples.(f{1}); w = whos('x'); bytes = bytes + w.bytes; end
    peak = regexp(fileread('/proc/self/status'), 'VmHWM:\s*(\d+)', 'tokens', 'once');
    printf('%.6f %d %d %s\n', t, numel(rec.samples.time), bytes, peak{1});" 2>/dev/null | tail -1)
  read -r m samples bytes peak <<< "$out"
  best_c=$(awk -v a="$best_c" -v b="$c" 'BEGIN { print (b < a) ? b : a }')
  best_m=$(awk -v a="$best_m" -v b="$m" 'BEGIN { print (b < a) ? b : a }')
done
echo "recording: $rec, $samples samples, best of $rounds rounds"
awk -v c="$best_c" -v m="$best_m" -v b="$bytes" -v p="$peak" 'BEGIN {
  printf "%-34s%8.3f s  1.00x\n", "C walk with velocities", c
  printf "%-34s%8.3f s %5.2fx   goal 1.5x: %s\n", "vokread, default columns", m, m / c, (m / c <= 1.5) ? "met" : "MISSED"
  printf "columns %.0f MiB, peak of the Octave process %.0f MiB\n", b / 1048576, p / 1024
}'
