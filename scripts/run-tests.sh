#!/usr/bin/env bash
# Sets everything up, builds with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build=${VOKAPI_BUILD_DIR:-build}
ctest --test-dir "$build" --output-on-failure -j2
