# The shipped library carries nothing of the tests: no test control appears in
# its symbol table (exported or internal), and its debug information names no
# source or header under tests/. A link-time optimised build keeps few internal
# symbols; its debug lines still name every file compiled into it.
#   cmake -DLIBRARY=libpkdv.so|pkdv.dll -DSOURCE_DIR=<source tree> -DNM=nm -DOBJDUMP=objdump
#         -P check_no_test_hooks.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${NM} -C ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE nm_result
  ERROR_VARIABLE nm_error)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${nm_error}")
endif()
string(REGEX MATCHALL "[^\n]*(test_hooks|for_testing|fail_allocation_after|live_allocations)[^\n]*"
  hooks "${listing}")
if(hooks)
  string(REPLACE ";" "\n" hooks "${hooks}")
  message(FATAL_ERROR "test controls in the shipped library:\n${hooks}")
endif()

execute_process(COMMAND ${OBJDUMP} --dwarf=rawline ${LIBRARY} OUTPUT_VARIABLE lines
  ERROR_QUIET)
string(FIND "${lines}" "${SOURCE_DIR}/tests" test_sources)
if(NOT test_sources EQUAL -1)
  message(FATAL_ERROR "${LIBRARY} was compiled with code of the tests (its debug lines name ${SOURCE_DIR}/tests)")
endif()

# A stripped library would pass for the wrong reason.
if(NOT listing MATCHES "query_version" AND NOT lines MATCHES "src/engine")
  message(FATAL_ERROR "${LIBRARY} has neither internal symbols nor debug lines to check")
endif()
