# Installation.
#
#   cmake --install <build>            the data source, programs, headers, CMake package
#   cmake --install <build> --component runtime        the data source, tracelet-session, tracelet-log
#   cmake --install <build> --component development    headers and package
#   cmake --install <build> --component virtual-scanner   the virtual scanner as the companion
#   cmake --install <build> --component passthrough       the pass-through companion
#   cmake --install <build> --component playback          the playback companion
#
# Every companion has install rules in every build, so that one build can
# package them all (cmake/Package.cmake: the Debian packages, one per
# component, and what only they carry); a plain cmake --install takes the one
# its option (TRACELET_INSTALL_VIRTUAL_SCANNER, TRACELET_INSTALL_PASSTHROUGH,
# TRACELET_INSTALL_PLAYBACK) asks for, never two, since they share the
# companion path.
#
# The data source goes to TRACELET_INSTALL_DS_DIR, a folder of its own under
# the one the Linux TWAIN data source manager scans for *.ds files; the
# headers and the package (find_package(Tracelet), target Tracelet::twain)
# go under the install prefix, for authors of companions.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# --- The data source -----------------------------------------------------------
install(TARGETS Tracelet
  LIBRARY DESTINATION "${TRACELET_INSTALL_DS_DIR}"
  PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
  COMPONENT runtime)

# tracelet-session, built with the installed data source and log folder as its
# defaults (the one in the build tree defaults to the demo's).
if(TARGET tracelet_session_installed)
  install(TARGETS tracelet_session_installed RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

# --- For companion authors ---------------------------------------------------------
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tracelet
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT development
  FILES_MATCHING PATTERN "*.h")

# Tracelet::twain: the include folder and the TWAIN layout this build uses.
install(TARGETS tracelet_twain EXPORT TraceletTargets COMPONENT development)
install(EXPORT TraceletTargets
  NAMESPACE Tracelet::
  DESTINATION ${TRACELET_INSTALL_CMAKEDIR}
  COMPONENT development)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TraceletConfig.cmake.in
  ${PROJECT_BINARY_DIR}/TraceletConfig.cmake
  INSTALL_DESTINATION ${TRACELET_INSTALL_CMAKEDIR})
# Header-only, but the layout is fixed per build: a companion must match the
# data source it is loaded by, not the machine it is built on.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TraceletConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion
  ARCH_INDEPENDENT)
install(FILES
    ${PROJECT_BINARY_DIR}/TraceletConfig.cmake
    ${PROJECT_BINARY_DIR}/TraceletConfigVersion.cmake
  DESTINATION ${TRACELET_INSTALL_CMAKEDIR}
  COMPONENT development)

# --- The companions ----------------------------------------------------------------
set(_chosen "")
foreach(_option TRACELET_INSTALL_VIRTUAL_SCANNER TRACELET_INSTALL_PASSTHROUGH TRACELET_INSTALL_PLAYBACK)
  if(${_option})
    list(APPEND _chosen ${_option})
  endif()
endforeach()
list(LENGTH _chosen _count)
if(_count GREATER 1)
  list(JOIN _chosen " and " _chosen)
  message(FATAL_ERROR "${_chosen} all want ${TRACELET_COMPANION_PATH}: choose one")
endif()

# Installs <target> at the companion path in <component>, which a plain
# cmake --install takes only when <by_default> is true.
function(tracelet_install_companion target component by_default)
  if(NOT TARGET ${target})
    return()
  endif()
  set(on_request EXCLUDE_FROM_ALL)
  if(by_default)
    set(on_request "")
  endif()
  get_filename_component(dir "${TRACELET_COMPANION_PATH}" DIRECTORY)
  get_filename_component(name "${TRACELET_COMPANION_PATH}" NAME)
  install(FILES $<TARGET_FILE:${target}>
    DESTINATION "${dir}"
    RENAME "${name}"
    PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
    COMPONENT ${component}
    ${on_request})
  # install(FILES) never strips; a stripped install (--strip, the packages)
  # strips the companion as install(TARGETS) would.
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" \"\$ENV{DESTDIR}${TRACELET_COMPANION_PATH}\" COMMAND_ERROR_IS_FATAL ANY)
  endif()"
    COMPONENT ${component}
    ${on_request})
endfunction()

tracelet_install_companion(tracelet_virtual_scanner virtual-scanner "${TRACELET_INSTALL_VIRTUAL_SCANNER}")
tracelet_install_companion(tracelet_passthrough passthrough "${TRACELET_INSTALL_PASSTHROUGH}")
tracelet_install_companion(tracelet_playback playback "${TRACELET_INSTALL_PLAYBACK}")

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake OPTIONAL)
