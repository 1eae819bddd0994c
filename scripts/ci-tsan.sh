#!/usr/bin/env bash
# ThreadSanitizer: the library and the tests that use it from many threads
# at once (handles in eight threads; the vok tool's batches in worker
# threads), in a build of their own (build-tsan/, or $VOKAPI_TSAN_BUILD_DIR).
# Only what these tests need is built.  Any report fails the stage.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VOKAPI_TSAN_BUILD_DIR:-build-tsan}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOKAPI_WERROR=ON -DVOKAPI_TSAN=ON \
  -DVOKAPI_BUILD_BENCH=OFF -DVOKAPI_JAVA=OFF >/dev/null
cmake --build "$build" --target vokapi_thread_tests vok_tool_tests vok
export TSAN_OPTIONS="halt_on_error=1 abort_on_error=1 second_deadlock_stack=1"
export VOKAPI_TEST_TMP=$PWD/$build/tests/tmp
mkdir -p "$VOKAPI_TEST_TMP"
"$build/tests/vokapi_thread_tests" --gtest_brief=1
# The tool runs as a child of the test program: its reports end it with an
# error status, which fails the test that ran it.
"$build/tests/vok_tool_tests" --gtest_brief=1 --gtest_filter='Batch.*'
