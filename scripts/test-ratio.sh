#!/usr/bin/env bash
# Prints the non-blank line counts of the production code and of the tests
# among the tracked files, and their ratio.
#   production: C and C++ sources (.c .cc .cpp .h .hpp .in) outside any
#               tests/ folder and outside fuzz/, bench/ and scripts/ folders
#   tests:      C, C++ and CMake files (.c .cc .cpp .h .hpp .cmake and
#               CMakeLists.txt) inside a tests/ folder, its data/ left out
set -euo pipefail
cd "$(dirname "$0")/.."

count() { if [ "$#" -eq 0 ]; then echo 0; else cat -- "$@" | grep -c -v '^[[:space:]]*$' || true; fi; }

mapfile -t code < <(git ls-files | grep -E '\.(c|cc|cpp|h|hpp|in)$' \
    | grep -v -E '(^|/)(tests|fuzz|bench|scripts)/')
mapfile -t tests < <(git ls-files | grep -E '(^|/)tests/' | grep -E '(\.(c|cc|cpp|h|hpp|cmake)|/CMakeLists\.txt)$' \
    | grep -v -E '(^|/)tests/(.*/)?data/')

c=$(count "${code[@]}")
t=$(count "${tests[@]}")
echo "production code: ${c} lines in ${#code[@]} files"
echo "tests:           ${t} lines in ${#tests[@]} files"
awk -v t="$t" -v c="$c" 'BEGIN { printf "ratio:           %.2f\n", (c ? t / c : 0) }'
