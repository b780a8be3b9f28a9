# Debian packages, one per install component:
#
#   cmake --build <build> --target package
#
#   tracelet                  runtime          the data source, tracelet-log, tracelet-session, docs
#   tracelet-dev              development      the companion headers and the CMake package
#   tracelet-virtual-scanner  virtual-scanner  the virtual scanner as the companion
#   tracelet-passthrough      passthrough      the pass-through companion and its configuration file
#   tracelet-playback         playback         the playback companion and its configuration file
#
# The packages are built from the paths this build was configured with; only
# the prefix changes (/usr instead of CMAKE_INSTALL_PREFIX).

set(_deb ${PROJECT_SOURCE_DIR}/packaging/debian)
set(_staged ${PROJECT_BINARY_DIR}/packaging)
set(_maintainer "Tracelet maintainers <maintainers@tracelet.invalid>")

# component -> package name; the documentation folder of each package holds
# its copyright file and the changelog.
set(_tracelet_packages
  runtime tracelet
  development tracelet-dev
  virtual-scanner tracelet-virtual-scanner
  passthrough tracelet-passthrough)
if(TARGET tracelet_playback)
  list(APPEND _tracelet_packages playback tracelet-playback)
endif()

# The changelog's newest entry names the version being packaged.
file(STRINGS ${_deb}/changelog _head LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_deb}/changelog)
if(NOT _head MATCHES "^tracelet \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the newest entry is not for version ${PROJECT_VERSION}: ${_head}")
endif()
file(MAKE_DIRECTORY ${_staged})
# Debian compresses changelogs and manual pages: best compression, no time stamp.
function(_tracelet_gzip source target)
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${target} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
_tracelet_gzip(${_deb}/changelog ${_staged}/changelog.gz)

# Each program's manual page, when the program is built: program, target.
set(_pages tracelet-log tracelet_log tracelet-session tracelet_session_installed)
while(_pages)
  list(POP_FRONT _pages _page _target)
  if(NOT TARGET ${_target})
    continue()
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/man/${_page}.1.in ${_staged}/${_page}.1 @ONLY)
  _tracelet_gzip(${_staged}/${_page}.1 ${_staged}/${_page}.1.gz)
  install(FILES ${_staged}/${_page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime EXCLUDE_FROM_ALL)
endwhile()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/log-format.md
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tracelet COMPONENT runtime EXCLUDE_FROM_ALL)
while(_tracelet_packages)
  list(POP_FRONT _tracelet_packages _component _package)
  string(TOUPPER ${_component} _var)
  set(CPACK_DEBIAN_${_var}_PACKAGE_NAME ${_package})
  list(APPEND CPACK_COMPONENTS_ALL ${_component})
  install(FILES ${_deb}/copyright ${_staged}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package}
    COMPONENT ${_component} EXCLUDE_FROM_ALL)
  if(EXISTS ${_deb}/${_package}.lintian-overrides)
    install(FILES ${_deb}/${_package}.lintian-overrides
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
      RENAME ${_package}
      COMPONENT ${_component} EXCLUDE_FROM_ALL)
  endif()
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tracelet)
set(CPACK_PACKAGE_VENDOR "The Tracelet authors")
set(CPACK_PACKAGE_CONTACT "${_maintainer}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The data source and the companions go to absolute paths: stage them too.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${_maintainer}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Component dependencies become "Depends: tracelet (= <version>)".
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_VIRTUAL-SCANNER_DEPENDS runtime)
set(CPACK_COMPONENT_PASSTHROUGH_DEPENDS runtime)
set(CPACK_COMPONENT_PLAYBACK_DEPENDS runtime)
# Every companion owns the companion path.
set(CPACK_DEBIAN_VIRTUAL-SCANNER_PACKAGE_CONFLICTS "tracelet-passthrough, tracelet-playback")
set(CPACK_DEBIAN_PASSTHROUGH_PACKAGE_CONFLICTS "tracelet-virtual-scanner, tracelet-playback")
set(CPACK_DEBIAN_PLAYBACK_PACKAGE_CONFLICTS "tracelet-virtual-scanner, tracelet-passthrough")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION devel)

# The configuration files of the pass-through and playback companions are
# conffiles: upgrades keep a user's edits.
get_filename_component(_dir "${TRACELET_COMPANION_PATH}" DIRECTORY)
get_filename_component(_stem "${TRACELET_COMPANION_PATH}" NAME_WLE)
foreach(_component passthrough playback)
  string(TOUPPER ${_component} _var)
  file(WRITE ${_staged}/${_component}/conffiles "${_dir}/${_stem}.conf\n")
  set(CPACK_DEBIAN_${_var}_PACKAGE_CONTROL_EXTRA ${_staged}/${_component}/conffiles)
endforeach()

# Descriptions: lines of at most 80 columns, so paths stand on lines of their own.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "TWAIN data source that traces every call it forwards
Tracelet.ds is a TWAIN data source that hands every call to a companion,
the shared object that really answers, and writes each call with its data
to a trace log. The data source manager finds it in
  ${TRACELET_INSTALL_DS_DIR}
and it loads its companion from
  ${TRACELET_COMPANION_PATH}
Install one companion with it: tracelet-virtual-scanner (a scanner that
scans a test page), tracelet-passthrough (traces a real driver) or
tracelet-playback (answers from a recorded session).
This package also holds tracelet-log, which reads, checks and compares trace
logs, and tracelet-session, which scans pages through a data source without
an application.
The log is off after installation. Switch it on by creating its folder,
writable by the user who scans:
  sudo mkdir -p '${TRACELET_LOG_DIR}'
  sudo chmod 1777 '${TRACELET_LOG_DIR}'
Remove the folder to switch the log off again.")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "Tracelet headers and CMake package for companion authors
The TWAIN types and the companion interface (tracelet/*.h) and the CMake
package (find_package(Tracelet), target Tracelet::twain), with the TWAIN
structure layout the packaged data source was built with.")
set(CPACK_DEBIAN_VIRTUAL-SCANNER_DESCRIPTION "Tracelet companion: a virtual scanner that scans a test page
Places the virtual scanner at the companion path of the Tracelet data source,
  ${TRACELET_COMPANION_PATH}
so that any TWAIN application can scan generated test pages through
Tracelet, and trace them, without a scanner.")
set(CPACK_DEBIAN_PASSTHROUGH_DESCRIPTION "Tracelet companion that forwards every call to another data source
Places the pass-through companion at the companion path of the Tracelet data
source, so that Tracelet traces a real driver. Name the driver's .ds in the
configuration file beside the companion:
  ${_dir}/${_stem}.conf
The driver's .ds must not stay under /usr/local/lib/twain, or applications
list it twice, once untraced.")
set(CPACK_DEBIAN_PLAYBACK_DESCRIPTION "Tracelet companion that answers from a recorded session
Places the playback companion at the companion path of the Tracelet data
source, so that an application runs against a session recorded with
Tracelet's log on, without the scanner. Name the session's logs in the
configuration file beside the companion:
  ${_dir}/${_stem}.conf")

include(CPack)
