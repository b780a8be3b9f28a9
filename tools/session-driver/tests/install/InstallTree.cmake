# Installs the runtime and development components into a staging folder and
# checks the tree a user gets: the data source alone in its TWAIN folder, the
# headers, and a package a companion project finds and builds against.
file(REMOVE_RECURSE "${WORK}")
set(stage "${WORK}/stage")
set(prefix "/opt/tracelet-test")

foreach(component runtime development)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${stage}
                          ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}" --component ${component}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install --component ${component} failed:\n${out}\n${err}")
  endif()
endforeach()

foreach(file
    "${DS_DIR}/Tracelet.ds"
    "${prefix}/include/tracelet/twain.h"
    "${prefix}/include/tracelet/twain_memory.h"
    "${prefix}/include/tracelet/twain_nv.h"
    "${prefix}/include/tracelet/TripletOperator.h"
    "${prefix}/lib/cmake/Tracelet/TraceletConfig.cmake"
    "${prefix}/lib/cmake/Tracelet/TraceletConfigVersion.cmake"
    "${prefix}/lib/cmake/Tracelet/TraceletTargets.cmake")
  if(NOT EXISTS "${stage}${file}")
    file(GLOB_RECURSE tree RELATIVE "${stage}" "${stage}/*")
    message(FATAL_ERROR "missing from the installed tree: ${file}\ninstalled:\n${tree}")
  endif()
endforeach()

file(GLOB in_ds_dir RELATIVE "${stage}${DS_DIR}" "${stage}${DS_DIR}/*")
if(NOT in_ds_dir STREQUAL "Tracelet.ds")
  message(FATAL_ERROR "${DS_DIR} holds: ${in_ds_dir}")
endif()

# A companion project finds the package and builds with its layout.
execute_process(COMMAND ${CMAKE_COMMAND} -S "${CONSUMER}" -B "${WORK}/consumer"
                        "-DCMAKE_PREFIX_PATH=${stage}${prefix}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the consumer project did not configure:\n${out}\n${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build "${WORK}/consumer"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the consumer companion did not build:\n${out}\n${err}")
endif()
if(NOT EXISTS "${WORK}/consumer/TwainWrapper.bundle")
  file(GLOB built "${WORK}/consumer/*")
  message(FATAL_ERROR "no TwainWrapper.bundle among: ${built}")
endif()
file(READ "${stage}${prefix}/lib/cmake/Tracelet/TraceletConfig.cmake" config)
if(NOT config MATCHES "set\\(Tracelet_TWAIN_ABI \"${ABI}\"\\)")
  message(FATAL_ERROR "the package does not record the ${ABI} layout")
endif()
file(REMOVE_RECURSE "${WORK}")
