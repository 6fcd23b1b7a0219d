# The Linux library must export exactly the functions that pkdv.h declares and
# nothing else: no C++ runtime, no internal helper, no libpcap symbol.
#   cmake -DLIBRARY=libpkdv.so -DHEADER=pkdv.h -DNM=nm -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)

file(STRINGS ${HEADER} declarations REGEX "^PKDV_[A-Z0-9_]+_FUNC PKDV_[A-Za-z0-9]+;$")
set(expected "")
foreach(line IN LISTS declarations)
  string(REGEX REPLACE "^PKDV_[A-Z0-9_]+_FUNC (PKDV_[A-Za-z0-9]+);$" "\\1" name "${line}")
  list(APPEND expected ${name})
endforeach()
list(LENGTH expected count)
if(count LESS 15)
  message(FATAL_ERROR "only ${count} declarations found in ${HEADER}: ${expected}")
endif()

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE nm_result)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
set(not_functions "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^ ]+)$")
    list(APPEND exported ${CMAKE_MATCH_2})
    if(NOT CMAKE_MATCH_1 STREQUAL "T")
      list(APPEND not_functions "${CMAKE_MATCH_2} (${CMAKE_MATCH_1})")
    endif()
  endif()
endforeach()

set(extra ${exported})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${exported})
if(extra OR missing OR not_functions)
  message(FATAL_ERROR "exports of ${LIBRARY} differ from pkdv.h\n"
    "  exported but not declared: ${extra}\n"
    "  declared but not exported: ${missing}\n"
    "  exported but not code: ${not_functions}")
endif()
list(LENGTH exported exported_count)
message(STATUS "${exported_count} exports, all declared in pkdv.h")
