# Checks a built pkdv.dll on the host with objdump -f -p: file format, exactly
# the fourteen undecorated names with ordinals 1 to 14 in alphabetical order,
# and no import of a compiler runtime DLL.
#   cmake -DOBJDUMP=... -DDLL=... -DFORMAT=pei-i386|pei-x86-64 -P check_exports.cmake
execute_process(COMMAND ${OBJDUMP} -f -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

set(problems "")
if(NOT dump MATCHES "file format ${FORMAT}")
  string(APPEND problems "\n  not ${FORMAT}")
endif()
if(FORMAT STREQUAL "pei-i386")
  if(NOT dump MATCHES "Magic[ \t]+010b[ \t]+\\(PE32\\)")
    string(APPEND problems "\n  optional header is not PE32")
  endif()
  if(NOT dump MATCHES "architecture: i386")
    string(APPEND problems "\n  not built for i386")
  endif()
endif()

set(expected
  PKDV_CancelPacketRead PKDV_CloseAdapter PKDV_GetFirstAdapterRegistryInfo PKDV_GetLastError
  PKDV_GetNextAdapterRegistryInfo PKDV_IsWindows2000 PKDV_IsWindows95 PKDV_IsWindowsNT
  PKDV_MakeNdisRequest PKDV_OpenAdapterA PKDV_OpenAdapterW PKDV_PacketReadEx PKDV_PacketSendEx
  PKDV_SetBPFProgram)

string(REGEX MATCH "Ordinal Base ([0-9]+)" _ "${dump}")
set(base ${CMAKE_MATCH_1})
if(NOT base STREQUAL "1")
  string(APPEND problems "\n  ordinal base is '${base}', not 1")
endif()

# No export without a name, none beyond the fourteen.
if(NOT dump MATCHES "Number in:[ \t\n]+Export Address Table[ \t]+0000000e[ \t\n]+\\[Name Pointer/Ordinal\\] Table[ \t]+0000000e")
  string(APPEND problems "\n  the export tables do not hold exactly 14 entries")
endif()

# "[Ordinal/Name Pointer] Table" lines: "\t[   0] PKDV_CancelPacketRead" (0-based index).
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[ 0-9]+\\][^\n]*\n)+)" _ "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${CMAKE_MATCH_1}")
set(names "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" _ "${row}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  list(APPEND names "${ordinal}:${CMAKE_MATCH_2}")
endforeach()
set(want "")
set(ordinal 1)
foreach(name IN LISTS expected)
  list(APPEND want "${ordinal}:${name}")
  math(EXPR ordinal "${ordinal} + 1")
endforeach()
if(NOT names STREQUAL want)
  string(REPLACE ";" " " got "${names}")
  string(APPEND problems "\n  exports are: ${got}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  string(TOLOWER "${import}" lower)
  if(lower MATCHES "libgcc|libstdc|libwinpthread|mingw")
    string(APPEND problems "\n  imports a compiler runtime: ${import}")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "${DLL}:${problems}")
endif()
list(LENGTH names count)
message(STATUS "${DLL}: ${FORMAT}, ${count} exports with ordinals 1..${count}, imports: ${imports}")
