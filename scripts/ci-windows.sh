#!/usr/bin/env bash
# Cross-builds vokapi for Windows x86-64 with MinGW-w64 into build-win/ (or
# $VOKAPI_WIN_BUILD_DIR) and runs its tests under Wine.  Installs the cross
# compilers, the MinGW zlib, Wine and the GoogleTest sources when missing.
# The build type is $VOKAPI_WIN_BUILD_TYPE, by default Release: the
# configuration users ship.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 googletest

# Debian's wine64 keeps its programs outside the search path.
find_wine_program() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then command -v "$name"; return; fi
    for dir in /usr/lib/wine /usr/lib64/wine /opt/wine-stable/bin; do
      if [ -x "$dir/$name" ]; then echo "$dir/$name"; return; fi
    done
  done
  echo "no $1 found" >&2
  return 1
}
wine=$(find_wine_program wine64 wine)
wineserver=$(find_wine_program wineserver wineserver64)

build=${VOKAPI_WIN_BUILD_DIR:-build-win}
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE="${VOKAPI_WIN_BUILD_TYPE:-Release}" -DVOKAPI_WERROR=ON -DVOKAPI_BUILD_BENCH=OFF >/dev/null
cmake --build "$build"

# A Wine prefix of the build's own, and one server kept running for all
# tests: otherwise every test program starts a server and waits for it.
export WINEPREFIX=${WINEPREFIX:-$PWD/$build/wineprefix}
export WINEDEBUG=-all
# No Mono or Gecko installer prompts while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# A server left running for this prefix by an earlier run is stopped first.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -p
trap '"$wineserver" -k 2>/dev/null || true' EXIT
"$wine" wineboot --init >/dev/null 2>&1

ctest --test-dir "$build" --output-on-failure -j2
