# The names library, tracelet_names: the name tables (twaintbl), generated at
# build time from the rows in data/, and the lookups by name and by value the
# tools and the log reader use (tables/TwNames.h). The data source, the tools
# and the log reader built on its own all include this file (after
# cmake/Dependencies.cmake and cmake/Modules.cmake); the first one defines
# the target.
set(TRACELET_TABLES_DIR ${CMAKE_BINARY_DIR}/generated/names)
if(TARGET tracelet_names)
  return()
endif()

get_filename_component(_tracelet_root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(_tables_out ${TRACELET_TABLES_DIR}/tables/twaintbl.h ${TRACELET_TABLES_DIR}/tables/twaintbl.cpp)
set(_tables_in ${_tracelet_root}/data/name-tables.tsv ${_tracelet_root}/data/twain2-names.tsv
    ${_tracelet_root}/data/capabilities.tsv)
add_custom_command(
  OUTPUT ${_tables_out}
  COMMAND Python3::Interpreter ${_tracelet_root}/src/tables/gen_twaintbl.py ${TRACELET_TABLES_DIR}/tables ${_tables_in}
  DEPENDS ${_tracelet_root}/src/tables/gen_twaintbl.py ${_tables_in}
  COMMENT "Generating the name tables"
  VERBATIM)
add_custom_target(tracelet_tables DEPENDS ${_tables_out})

add_library(tracelet_names STATIC ${TRACELET_TABLES_DIR}/tables/twaintbl.cpp ${_tracelet_root}/src/tables/TwNames.cpp)
target_include_directories(tracelet_names PUBLIC ${TRACELET_TABLES_DIR} ${_tracelet_root}/src)
target_compile_features(tracelet_names PUBLIC cxx_std_17)
add_dependencies(tracelet_names tracelet_tables)
tracelet_module_library(tracelet_names)
