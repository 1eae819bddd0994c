#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ (the targets only;
# VOKAPI_FUZZ_BUILD_DIR names another folder)
# and runs each for a short time (VOKAPI_FUZZ_SECONDS, default 25) on its
# seed corpus, written by vokgen at build time, and on the inputs of past
# findings.  New interesting inputs go to build-fuzz/fuzz/work/<target>/;
# a crash leaves its input in build-fuzz/fuzz/artifacts/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${VOKAPI_FUZZ_SECONDS:-25}
build=${VOKAPI_FUZZ_BUILD_DIR:-build-fuzz}
targets=(open_walk_fuzz nav_fuzz measures_fuzz extra_messages_fuzz video_lookup_fuzz)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOKAPI_WERROR=ON \
  -DVOKAPI_FUZZ=ON -DVOKAPI_BUILD_BENCH=OFF -DVOKAPI_JAVA=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

scratch="$build/fuzz/tmp"
mkdir -p "$scratch" "$build/fuzz/artifacts"
for target in "${targets[@]}"; do
  work="$build/fuzz/work/$target"
  mkdir -p "$work"
  dirs=("$work" "$build/fuzz/corpus/$target")
  if [ -d "fuzz/regressions/$target" ]; then dirs+=("fuzz/regressions/$target"); fi
  echo "== $target: ${seconds}s"
  log="$build/fuzz/$target.log"
  status=0
  TMPDIR="$scratch" ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=1 \
    -print_final_stats=1 -artifact_prefix="$build/fuzz/artifacts/$target-" "${dirs[@]}" >"$log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 80 "$log"
    echo "$target found a failure (exit $status); its input is in $build/fuzz/artifacts/" >&2
    exit 1
  fi
done
