#!/usr/bin/env bash
# Builds the DS_Entry fuzz target for both TWAIN layouts (clang, libFuzzer,
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs each for the given
# number of seconds (default 60) from the committed seed corpus fuzz/corpus;
# then the flight record parser's target (built in the native tree, with the
# log reader) from fuzz/record-corpus.
# New inputs go to a working corpus in the build tree, never into the
# committed one. Any finding (crash, sanitizer report, failed check, leak,
# timeout) makes it exit non-zero and leaves the input under
# build-fuzz-<layout>/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
jobs=${TRACELET_JOBS:-$(nproc)}

for layout in native macos; do
    tree="build-fuzz-${layout}"
    echo "=== fuzz ${layout}: configure and build"
    cmake -S . -B "${tree}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DTRACELET_TWAIN_ABI="${layout}" -DTRACELET_SANITIZE=ON \
        -DTRACELET_BUILD_FUZZERS=ON -DTRACELET_BUILD_TESTS=OFF \
        -DTRACELET_BUILD_BENCHMARKS=OFF -DTRACELET_BUILD_READER="$([ "${layout}" = native ] && echo ON || echo OFF)" \
        >"${tree}.configure.log" || { cat "${tree}.configure.log"; exit 1; }
    targets=(tracelet_fuzz_ds_entry)
    [ "${layout}" = native ] && targets+=(tracelet_fuzz_record)
    cmake --build "${tree}" -j "${jobs}" --target "${targets[@]}"
done

for layout in native macos; do
    tree="build-fuzz-${layout}"
    echo "=== fuzz ${layout}: ${seconds} s from fuzz/corpus"
    rm -rf "${tree}/artifacts"
    mkdir -p "${tree}/corpus-work" "${tree}/artifacts"
    # The log stays on and the target keeps its file small; leaks count.
    if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "${tree}/fuzz/tracelet_fuzz_ds_entry" \
        -max_total_time="${seconds}" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
        -print_final_stats=1 -artifact_prefix="${tree}/artifacts/" \
        "${tree}/corpus-work" fuzz/corpus >"${tree}/fuzz.log" 2>&1; then
        tail -n 80 "${tree}/fuzz.log"
        echo "=== fuzz ${layout}: FINDING (input in ${tree}/artifacts/)"
        exit 1
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "${tree}/fuzz.log" || true
    echo "=== fuzz ${layout}: no finding"
done

tree=build-fuzz-native
echo "=== fuzz record parser: ${seconds} s from fuzz/record-corpus"
rm -rf "${tree}/record-artifacts"
mkdir -p "${tree}/record-corpus-work" "${tree}/record-artifacts"
if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "${tree}/fuzz/tracelet_fuzz_record" \
    -max_total_time="${seconds}" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="${tree}/record-artifacts/" \
    "${tree}/record-corpus-work" fuzz/record-corpus >"${tree}/record-fuzz.log" 2>&1; then
    tail -n 80 "${tree}/record-fuzz.log"
    echo "=== fuzz record parser: FINDING (input in ${tree}/record-artifacts/)"
    exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "${tree}/record-fuzz.log" || true
echo "=== fuzz record parser: no finding"
