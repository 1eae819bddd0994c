#!/usr/bin/env bash
# Configures and builds vokapi into build/ (or $VOKAPI_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VOKAPI_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOKAPI_WERROR=ON "$@" >/dev/null
cmake --build "$build"
