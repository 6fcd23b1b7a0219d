# The shipped library carries no test hook: none of the hook points or test
# controls appears anywhere in its symbol table (exported or internal).
#   cmake -DLIBRARY=libpkdv.so|pkdv.dll -DNM=nm -P check_no_test_hooks.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${NM} -C ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE nm_result
  ERROR_VARIABLE nm_error)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${nm_error}")
endif()
# A stripped library would pass for the wrong reason.
if(NOT listing MATCHES "query_version")
  message(FATAL_ERROR "${LIBRARY} has no internal symbols to check")
endif()
string(REGEX MATCHALL "[^\n]*(test_hooks|for_testing|fail_allocation_after|live_allocations)[^\n]*"
  hooks "${listing}")
if(hooks)
  string(REPLACE ";" "\n" hooks "${hooks}")
  message(FATAL_ERROR "test hooks in the shipped library:\n${hooks}")
endif()
