# Every package the build uses, each found once, here, with the reason it is
# needed. Included by the whole project and by the log reader built on its
# own; the data source's and the tools' own needs are skipped for the latter.
include_guard(GLOBAL)

# Required: the name tables are generated from the rows in data/ at build
# time, and a test lists the TWAIN header's constants.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# Required: the command lines of tracelet-log and tracelet-session.
find_package(CLI11 CONFIG REQUIRED)
# Required: the log reader's JSON output and its flight record summaries,
# the conformance report, and the end-to-end tests that read them.
find_package(nlohmann_json 3 REQUIRED)

if(NOT PROJECT_NAME STREQUAL "TraceletLog")
  # Required: Boost.Format composes the levelled logger's prefix (header-only).
  find_package(Boost REQUIRED)
  # Required: the virtual scanner may signal from a thread of its own.
  find_package(Threads REQUIRED)
  # Required: XXH3 hashes captured image data, compiled inline from its
  # header (no library to load beside the data source).
  find_path(XXHASH_INCLUDE_DIR xxhash.h REQUIRED)
endif()

if(TRACELET_BUILD_TESTS)
  # Required for the tests: every test program is a GoogleTest one.
  find_package(GTest REQUIRED)
  include(GoogleTest)
  # Optional: npm installs the trace viewer for the exported trace's test;
  # without it that one test is not registered.
  find_program(NPM_PROGRAM npm)
endif()

if(TRACELET_BUILD_BENCHMARKS)
  # Required for the benchmarks: all of them are Google Benchmark programs.
  find_package(benchmark REQUIRED)
endif()
