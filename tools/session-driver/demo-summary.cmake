# Prints tracelet-log's summary of the logs the demo session just wrote: the
# log files in LOG_DIR written since STAMP was touched (their flight records
# beside them give the summary its times).
# cmake -DREADER=... -DLOG_DIR=... -DSTAMP=... -P demo-summary.cmake
file(TIMESTAMP "${STAMP}" since "%s" UTC)
file(GLOB logs "${LOG_DIR}/Twainlog_*.txt")
set(session "")
foreach(log IN LISTS logs)
  file(TIMESTAMP "${log}" written "%s" UTC)
  if(NOT written LESS since)
    list(APPEND session "${log}")
  endif()
endforeach()
if(NOT session)
  message(STATUS "No log written by this session in ${LOG_DIR}")
  return()
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "" COMMAND_ECHO NONE)
execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "=== tracelet-log summary of this session")
execute_process(COMMAND "${READER}" summary ${session} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tracelet-log summary failed (${rc})")
endif()
