# Fails unless the data source's dynamic symbol table defines exactly the
# documented entry points and globals.
execute_process(COMMAND nm -D --defined-only ${DS} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${DS}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" lines "${out}")
set(names "")
foreach(line ${lines})
  string(STRIP "${line}" name)
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected CreateVLTempDirectory DS_Entry MachO_Initialization MachO_Termination WriteLogFile
  cleanupTwainLog g_TwainWrapperBundleRef g_cParaAnalyze g_fnDsCreate g_pLogFile
  g_pcTripletOperator g_pcTwainLog setupTwainLog)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
