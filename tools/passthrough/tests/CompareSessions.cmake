# Runs tracelet-session twice with the same options: once on the virtual
# scanner data source itself, once on the trace data source whose
# pass-through companion is pointed at it. Fails unless both runs end
# alike, report the same session and save the same pages byte for byte.
#
#   -DSESSION=<tracelet-session, empty when it is not built>
#   -DSCANNER_DS=<VirtualScanner.ds> -DTRACE_DS=<trace .ds>
#   -DCONFIG=<the companion's configuration file> -DLOG_DIR=<the trace log folder>
#   -DWORK=<scratch folder> -DXFER=memory|native
if(NOT SESSION)
  message(STATUS "tracelet-session is not built: nothing to compare")
  return()
endif()

file(REMOVE_RECURSE "${WORK}" "${LOG_DIR}")
file(MAKE_DIRECTORY "${LOG_DIR}")
file(WRITE "${CONFIG}" "# written by CompareSessions.cmake\ntarget = ${SCANNER_DS}\n")

function(run_session name ds log_dir)
  execute_process(
    COMMAND "${SESSION}" --ds "${ds}" --xfer ${XFER} --pages 2 --resolution 75 --pixel-type rgb
            --output "${WORK}/${name}" --log-dir "${log_dir}" --no-log-print
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  # The session itself, from the source's identity to its unloading, with
  # the output folder named the same in both runs.
  string(FIND "${out}" "Source:" first)
  string(FIND "${out}" "Unloaded the data source." last)
  if(first EQUAL -1 OR last EQUAL -1)
    message(FATAL_ERROR "${name} run (exit ${rc}) reported no whole session:\n${out}\n${err}")
  endif()
  math(EXPR length "${last} - ${first}")
  string(SUBSTRING "${out}" ${first} ${length} session)
  string(REPLACE "${WORK}/${name}" "<output>" session "${session}")
  set(${name}_rc ${rc} PARENT_SCOPE)
  set(${name}_session "${session}" PARENT_SCOPE)
  set(${name}_err "${err}" PARENT_SCOPE)
endfunction()

# The direct run's log folder does not exist: the scanner writes no log anyway.
run_session(direct "${SCANNER_DS}" "${WORK}/no-log")
run_session(traced "${TRACE_DS}" "${LOG_DIR}")
file(REMOVE "${CONFIG}")

if(NOT direct_rc EQUAL 0)
  message(FATAL_ERROR "the scanner driven directly failed (exit ${direct_rc}):\n${direct_session}\n${direct_err}")
endif()
if(NOT traced_rc EQUAL direct_rc)
  message(FATAL_ERROR "exit ${traced_rc} through the chain, ${direct_rc} directly:\n${traced_session}\n${traced_err}")
endif()
if(NOT traced_session STREQUAL direct_session)
  message(FATAL_ERROR "the sessions differ\n--- directly:\n${direct_session}\n--- through the chain:\n${traced_session}")
endif()

file(GLOB direct_pages RELATIVE "${WORK}/direct" "${WORK}/direct/*")
file(GLOB traced_pages RELATIVE "${WORK}/traced" "${WORK}/traced/*")
list(SORT direct_pages)
list(SORT traced_pages)
list(LENGTH direct_pages count)
if(NOT count EQUAL 2 OR NOT direct_pages STREQUAL traced_pages)
  message(FATAL_ERROR "pages saved directly: ${direct_pages}; through the chain: ${traced_pages}")
endif()
foreach(page ${direct_pages})
  file(SHA256 "${WORK}/direct/${page}" direct_hash)
  file(SHA256 "${WORK}/traced/${page}" traced_hash)
  if(NOT direct_hash STREQUAL traced_hash)
    message(FATAL_ERROR "${page} differs between the two runs")
  endif()
endforeach()

file(GLOB logs "${LOG_DIR}/*")
list(LENGTH logs log_count)
if(NOT log_count EQUAL 1)
  message(FATAL_ERROR "the traced run left ${log_count} log files, not one: ${logs}")
endif()
file(REMOVE_RECURSE "${LOG_DIR}")
message(STATUS "same session and the same ${count} pages (${XFER} transfers)")
