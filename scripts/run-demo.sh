#!/usr/bin/env bash
# The main job: sets everything up, builds, and reads a recording.  Without an
# argument it writes the built-in demo recording with vokgen and reads that.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build=${VOKAPI_BUILD_DIR:-build}
recording=${1:-}
if [ -z "$recording" ]; then
  recording="$build/demo.vok"
  "$build/tools/vokgen/vokgen" demo "$recording"
fi
"$build/examples/vok_preamble" "$recording"
