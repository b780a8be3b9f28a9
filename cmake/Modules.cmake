# Shared objects. Everything the build makes as a shared object is a module
# that a host opens with dlopen and closes again, so they are all made the
# same way: no "lib" prefix and the suffix of their kind, symbols hidden,
# exactly the entry points in EXPORTS left visible (a version script written
# from them), no symbol left undefined for the host to resolve, and no GNU
# unique symbols, which would keep an object mapped after dlclose.
#
#   tracelet_add_companion(<target> SOURCES <file>... EXPORTS <symbol>...
#                          [OUTPUT_NAME <name>] [OUTPUT_DIRECTORY <dir>]
#                          [LINK <library>...] [ALLOW_UNDEFINED])
#     <name>.bundle: what the trace data source loads at its companion path
#     and asks for CreateTwainWrapper.
#
#   tracelet_add_driver(<target> SOURCES <file>... EXPORTS <symbol>...
#                       [OUTPUT_NAME <name>] [OUTPUT_DIRECTORY <dir>]
#                       [LINK <library>...] [ALLOW_UNDEFINED])
#     <name>.ds: a TWAIN data source other than the trace one (the virtual
#     scanner as a source, the sources the tests point things at).
#
#   tracelet_add_data_source(<target> <companion path> <log folder>
#                            [OUTPUT_NAME <name>] [ALLOW_UNDEFINED])
#     <name>.ds: a copy of the trace data source with its two fixed paths.
#
#   tracelet_module_library(<target>)
#     A static library linked into modules: position-independent code with
#     the same symbol settings.
#
# OUTPUT_NAME defaults to the target's name. Every module links
# tracelet_twain; LINK adds private link items. ALLOW_UNDEFINED drops
# --no-undefined, for a module whose sanitizer runtime lives in the host
# (the fuzz targets). Under ThreadSanitizer the runtime always lives in the
# host, and no module is linked with --no-undefined.
include_guard(GLOBAL)

# What the trace data source exports: its entry point, the load-time
# functions and the globals a host may look up.
set(TRACELET_DATA_SOURCE_EXPORTS
  DS_Entry MachO_Initialization MachO_Termination setupTwainLog cleanupTwainLog WriteLogFile
  CreateVLTempDirectory g_cParaAnalyze g_pLogFile g_pcTwainLog g_pcTripletOperator
  g_TwainWrapperBundleRef g_fnDsCreate)

function(tracelet_module_library target)
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${target} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fno-gnu-unique>)
endfunction()

# The settings every module shares; <suffix> is its kind's.
function(_tracelet_add_module target suffix)
  cmake_parse_arguments(ARG "ALLOW_UNDEFINED" "OUTPUT_NAME;OUTPUT_DIRECTORY" "SOURCES;EXPORTS;LINK" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${target}: unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_SOURCES OR NOT ARG_EXPORTS)
    message(FATAL_ERROR "${target}: a module needs SOURCES and the EXPORTS it is loaded for")
  endif()
  if(NOT ARG_OUTPUT_NAME)
    set(ARG_OUTPUT_NAME ${target})
  endif()

  add_library(${target} MODULE ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE tracelet_twain ${ARG_LINK})
  tracelet_module_library(${target})
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX "${suffix}" OUTPUT_NAME ${ARG_OUTPUT_NAME})
  if(ARG_OUTPUT_DIRECTORY)
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY})
  endif()

  # file(CONFIGURE) leaves an unchanged script alone: no relink.
  list(JOIN ARG_EXPORTS ";\n    " globals)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  file(CONFIGURE OUTPUT ${map} CONTENT "{\n  global:\n    ${globals};\n  local:\n    *;\n};\n" @ONLY)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  if(NOT ARG_ALLOW_UNDEFINED AND NOT TRACELET_SANITIZE_THREAD)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

function(tracelet_add_companion target)
  _tracelet_add_module(${target} ".bundle" ${ARGN})
endfunction()

function(tracelet_add_driver target)
  _tracelet_add_module(${target} ".ds" ${ARGN})
endfunction()

function(tracelet_add_data_source target companion_path log_dir)
  cmake_parse_arguments(ARG "ALLOW_UNDEFINED" "OUTPUT_NAME" "" ${ARGN})
  if(NOT ARG_OUTPUT_NAME)
    set(ARG_OUTPUT_NAME ${target})
  endif()
  set(undefined "")
  if(ARG_ALLOW_UNDEFINED)
    set(undefined ALLOW_UNDEFINED)
  endif()
  # The two fixed paths are compiled into a file of the copy's own.
  set(TRACELET_DS_COMPANION_PATH "${companion_path}")
  set(TRACELET_DS_LOG_DIR "${log_dir}")
  set(paths_cpp ${CMAKE_CURRENT_BINARY_DIR}/${target}_Paths.cpp)
  configure_file(${PROJECT_SOURCE_DIR}/src/platform/Paths.cpp.in ${paths_cpp} @ONLY)
  _tracelet_add_module(${target} ".ds"
    SOURCES ${PROJECT_SOURCE_DIR}/src/shell/DSEntry.cpp ${PROJECT_SOURCE_DIR}/src/shell/MachOMain.cpp ${paths_cpp}
    EXPORTS ${TRACELET_DATA_SOURCE_EXPORTS}
    LINK tracelet_core tracelet_logmodel
    OUTPUT_NAME ${ARG_OUTPUT_NAME}
    ${undefined})
endfunction()

# A companion's configuration file `SOURCE`, installed beside the companion
# at TRACELET_COMPANION_PATH (its name with ".conf"): always by
# `cmake --install --component COMPONENT` (and into the package), and by a
# plain `cmake --install` when the option INSTALL_OPTION is on. An existing
# file is kept unless the cache variable CACHE_VARIABLE gives a value:
# installing again must not forget what someone wrote into it.
function(tracelet_install_companion_config)
  cmake_parse_arguments(ARG "" "SOURCE;COMPONENT;INSTALL_OPTION;CACHE_VARIABLE" "" ${ARGN})
  set(on_request EXCLUDE_FROM_ALL)
  if(${ARG_INSTALL_OPTION})
    set(on_request "")
  endif()
  get_filename_component(config_dir "${TRACELET_COMPANION_PATH}" DIRECTORY)
  get_filename_component(config_stem "${TRACELET_COMPANION_PATH}" NAME_WLE)
  set(config_name "${config_stem}.conf")
  set(config_value "${${ARG_CACHE_VARIABLE}}")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/Install_${ARG_COMPONENT}_Config.cmake)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/InstallCompanionConfig.cmake.in ${script} @ONLY)
  install(SCRIPT ${script} COMPONENT ${ARG_COMPONENT} ${on_request})
endfunction()
