# Every build option, in one place; the README's table lists the same ones.
# Included by the whole project and by the log reader built on its own.
include_guard(GLOBAL)
include(GNUInstallDirs)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# --- What the data source is built with --------------------------------------------
set(TRACELET_TWAIN_ABI "native" CACHE STRING
    "TWAIN structure layout: native (what Linux TWAIN peers use) or macos (natural alignment, master-pointer handles)")
set_property(CACHE TRACELET_TWAIN_ABI PROPERTY STRINGS native macos)
if(NOT TRACELET_TWAIN_ABI MATCHES "^(native|macos)$")
  message(FATAL_ERROR "TRACELET_TWAIN_ABI must be native or macos, not '${TRACELET_TWAIN_ABI}'")
endif()
set(TRACELET_COMPANION_PATH "/Library/Image Capture/Support/NUVEX/Vistrel/Core/TwainWrapper.bundle" CACHE STRING
    "Path of the companion shared object the data source loads (fixed at build time)")
set(TRACELET_LOG_DIR "/Users/Shared/NUVEX/Vistrel/LOG/TWAIN" CACHE STRING
    "Folder whose existence switches the trace log on (fixed at build time)")
set(TRACELET_PASSTHROUGH_TARGET "" CACHE STRING
    "Data source the pass-through companion forwards to, written into its configuration file (empty: a commented example)")
set(TRACELET_PLAYBACK_RECORDING "" CACHE STRING
    "Recording the playback companion answers from, written into its configuration file (empty: a commented example)")

# --- What is built -------------------------------------------------------------------
option(TRACELET_BUILD_READER "Build the log reader (tracelet-log)" ON)
option(TRACELET_BUILD_TESTS "Build the test suite" ON)
option(TRACELET_BUILD_BENCHMARKS "Build the benchmarks (never run by the tests)" ON)
option(TRACELET_BUILD_FUZZERS "Build the libFuzzer targets (needs clang and TRACELET_SANITIZE)" OFF)
option(TRACELET_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(TRACELET_SANITIZE_THREAD "Build with ThreadSanitizer (clang)" OFF)

# --- Where cmake --install puts things ----------------------------------------------
set(TRACELET_INSTALL_DS_DIR "/usr/local/lib/twain/tracelet" CACHE PATH
    "Where cmake --install puts the data source (a folder the Linux TWAIN data source manager scans)")
set(TRACELET_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Tracelet" CACHE STRING
    "Where cmake --install puts the CMake package (relative to the install prefix)")
option(TRACELET_INSTALL_VIRTUAL_SCANNER
       "cmake --install puts the virtual scanner at TRACELET_COMPANION_PATH, as the data source's companion" OFF)
option(TRACELET_INSTALL_PASSTHROUGH
       "cmake --install puts the pass-through companion at TRACELET_COMPANION_PATH, with its configuration file" OFF)
option(TRACELET_INSTALL_PLAYBACK
       "cmake --install puts the playback companion at TRACELET_COMPANION_PATH, with its configuration file" OFF)
