# One conformance run of the virtual scanner (-DTARGET), clean or with one
# fault switch (-DFAULT): exactly the checks in EXPECT_FAILED fail, each
# naming a call of the trace, and the exit status says so. A run that crashes
# or hangs fails run.completes and leaves the checks after that not run.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK})
set(ENV{TRACELET_SCANNER_FAULT} "${FAULT}")
execute_process(
  COMMAND ${SESSION} --certify --target ${TARGET} --out ${WORK} --json ${WORK}/report.json
          --stress-cycles ${CYCLES} --timeout ${TIMEOUT}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT EXISTS ${WORK}/report.json)
  message(FATAL_ERROR "no report (exit status ${status}):\n${out}\n${err}")
endif()
file(READ ${WORK}/report.json report)

set(failed "")
string(JSON groups LENGTH "${report}" groups)
math(EXPR last_group "${groups} - 1")
foreach(g RANGE ${last_group})
  string(JSON checks LENGTH "${report}" groups ${g} checks)
  math(EXPR last_check "${checks} - 1")
  foreach(c RANGE ${last_check})
    string(JSON verdict GET "${report}" groups ${g} checks ${c} verdict)
    string(JSON id GET "${report}" groups ${g} checks ${c} id)
    if(verdict STREQUAL "fail")
      list(APPEND failed ${id})
      # Each finding names a call of the trace.
      string(JSON findings LENGTH "${report}" groups ${g} checks ${c} findings)
      string(JSON seq GET "${report}" groups ${g} checks ${c} findings 0 seq)
      if(findings EQUAL 0 OR seq STREQUAL "null" OR seq STREQUAL "")
        message(FATAL_ERROR "${id} failed without naming a call of the trace:\n${out}")
      endif()
    elseif(verdict STREQUAL "not run" AND NOT "run.completes" IN_LIST EXPECT_FAILED)
      message(FATAL_ERROR "${id} was not run:\n${out}\n${err}")
    endif()
  endforeach()
endforeach()

list(SORT failed)
set(expected "${EXPECT_FAILED}")
list(SORT expected)
if(NOT "${failed}" STREQUAL "${expected}")
  message(FATAL_ERROR "failed checks: [${failed}], expected [${expected}]\n${out}\n${err}")
endif()
if(expected AND NOT status EQUAL 1)
  message(FATAL_ERROR "exit status ${status} after failed checks, expected 1")
elseif(NOT expected AND NOT status EQUAL 0)
  message(FATAL_ERROR "exit status ${status} after a clean run, expected 0\n${out}\n${err}")
endif()
string(JSON html GET "${report}" html)
if(NOT EXISTS "${html}")
  message(FATAL_ERROR "no HTML page of the trace: ${html}")
endif()
