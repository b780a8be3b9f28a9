# Settings shared by the whole project and by the log reader built on its
# own: C++17, the default build type, the warnings, the sanitizers, and
# whether tests and benchmarks are built.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

option(TRACELET_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(TRACELET_BUILD_TESTS "Build the test suite" ON)
option(TRACELET_BUILD_BENCHMARKS "Build the benchmarks (never run by the tests)" ON)

add_compile_options(-Wall -Wextra)
if(TRACELET_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
