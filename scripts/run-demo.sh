#!/usr/bin/env bash
# The main job: sets everything up, builds, and shows a recording with the vok
# tool: what it holds, then its samples and events as CSV tables, and writes
# a picture of its gaze, fixations, saccades and blinks over time with the
# Python package.  Without an argument it writes the built-in demo recording
# with vokgen and uses that.
set -euo pipefail
recording=${1:-}
# A path given relative to where the script was started from.
if [ -n "$recording" ] && [ "${recording#/}" = "$recording" ]; then
  recording="$PWD/$recording"
fi
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build=${VOKAPI_BUILD_DIR:-build}
if [ -z "$recording" ]; then
  recording="$build/demo.vok"
  "$build/tools/vokgen/vokgen" demo "$recording"
fi
vok="$build/tools/vok/vok"
tables="$build/demo-tables"

"$vok" info "$recording"
"$vok" export --table samples,events --output "$tables" "$recording"
for table in samples events; do
  file="$tables/$table.csv"
  echo
  echo "$table: $(($(wc -l < "$file") - 1)) rows in $file"
  head -n 6 "$file"
done

picture="$build/demo.png"
library="$build/libvokapi.so"
[ "${library#/}" = "$library" ] && library="$PWD/$library"
PYTHONPATH="$PWD/python" VOKAPI_LIBRARY="$library" MPLBACKEND=Agg \
  /usr/bin/python3 -m vokapi plot "$recording" -o "$picture" >/dev/null
echo
echo "picture of the recording (gaze over time, fixations, saccades, blinks, messages): $picture"
