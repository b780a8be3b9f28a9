#!/usr/bin/env bash
# Builds and tests every configuration the project ships:
#   native  - the Linux TWAIN layout (default)
#   macos   - the natural-alignment layout with master-pointer handles
#   asan    - native under AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan    - native under ThreadSanitizer (clang): only the thread and
#             callback tests, and only what they need
# packages the native build as Debian packages and tests them (scripts/package-test.sh),
# then runs the fuzz targets (both layouts, sanitized) for a fixed time.
# Any failing test or fuzz finding makes it exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${TRACELET_JOBS:-$(nproc)}
fuzz_seconds=${TRACELET_FUZZ_SECONDS:-30}

build_and_test() {
    local name=$1
    shift
    echo "=== ${name}: configure and build"
    cmake -S . -B "build-ci-${name}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"build-ci-${name}.configure.log" \
        || { cat "build-ci-${name}.configure.log"; return 1; }
    cmake --build "build-ci-${name}" -j "${jobs}"
    echo "=== ${name}: test"
    ctest --test-dir "build-ci-${name}" --output-on-failure -j "${jobs}"
}

build_and_test native -DTRACELET_TWAIN_ABI=native
scripts/package-test.sh build-ci-native
# The log reader does not depend on the TWAIN layout: the native builds test it.
build_and_test macos -DTRACELET_TWAIN_ABI=macos -DTRACELET_BUILD_BENCHMARKS=OFF -DTRACELET_BUILD_READER=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build_and_test asan -DTRACELET_TWAIN_ABI=native -DTRACELET_SANITIZE=ON -DTRACELET_BUILD_BENCHMARKS=OFF

echo "=== tsan: configure and build the thread and callback tests"
CC=clang CXX=clang++ cmake -S . -B build-ci-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRACELET_TWAIN_ABI=native \
    -DTRACELET_SANITIZE_THREAD=ON -DTRACELET_BUILD_BENCHMARKS=OFF \
    >build-ci-tsan.configure.log || { cat build-ci-tsan.configure.log; exit 1; }
cmake --build build-ci-tsan -j "${jobs}" --target tracelet_e2e_tests tracelet_unit_tests tracelet_virtual_scanner_tests \
    tracelet_playback_unit_tests tracelet_playback_companion_tests tracelet-session tracelet_log
echo "=== tsan: test"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
build-ci-tsan/tests/tracelet_e2e_tests --gtest_filter='Source*:ContainerBounds*'
build-ci-tsan/tests/tracelet_unit_tests --gtest_filter='BlockTable*:MonotonicClock*'
build-ci-tsan/tools/virtual-scanner/tests/tracelet_virtual_scanner_tests --gtest_filter='Notification*'
# Notices played back from the playback companion's own thread.
build-ci-tsan/tools/playback/tests/tracelet_playback_unit_tests --gtest_filter='PlaybackOperator.*'
ctest --test-dir build-ci-tsan --output-on-failure -R '^playback[.]session[.]source-thread$'
unset TSAN_OPTIONS

if [ -x scripts/fuzz.sh ]; then
    scripts/fuzz.sh "${fuzz_seconds}"
fi
echo "=== all configurations passed"
