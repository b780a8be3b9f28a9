# Installation.
#
#   cmake --install <build>            the data source, headers, CMake package
#   cmake --install <build> --component runtime        the data source alone
#   cmake --install <build> --component development    headers and package
#
# The data source goes to TRACELET_INSTALL_DS_DIR, a folder of its own under
# the one the Linux TWAIN data source manager scans for *.ds files; the
# headers and the package (find_package(Tracelet), target Tracelet::twain)
# go under the install prefix, for authors of companions.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TRACELET_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Tracelet" CACHE STRING
    "Where cmake --install puts the CMake package (relative to the install prefix)")
option(TRACELET_INSTALL_VIRTUAL_SCANNER
       "cmake --install puts the virtual scanner at TRACELET_COMPANION_PATH, as the data source's companion" OFF)

# --- The data source -----------------------------------------------------------
install(TARGETS Tracelet
  LIBRARY DESTINATION "${TRACELET_INSTALL_DS_DIR}"
  PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
  COMPONENT runtime)

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

# --- The virtual scanner as the companion (on request) -------------------------------
if(TRACELET_INSTALL_VIRTUAL_SCANNER)
  if(TRACELET_INSTALL_PASSTHROUGH)
    message(FATAL_ERROR "TRACELET_INSTALL_VIRTUAL_SCANNER and TRACELET_INSTALL_PASSTHROUGH both want "
                        "${TRACELET_COMPANION_PATH}: choose one")
  endif()
  get_filename_component(_tracelet_companion_dir "${TRACELET_COMPANION_PATH}" DIRECTORY)
  get_filename_component(_tracelet_companion_name "${TRACELET_COMPANION_PATH}" NAME)
  install(FILES $<TARGET_FILE:tracelet_virtual_scanner>
    DESTINATION "${_tracelet_companion_dir}"
    RENAME "${_tracelet_companion_name}"
    PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
    COMPONENT virtual-scanner)
endif()
