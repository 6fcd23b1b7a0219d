# pkdv.dll must carry a VERSIONINFO resource with the project version:
# the fixed part (numbers) and the strings Explorer shows.
#   cmake -DDLL=pkdv.dll -DVERSION=1.0.0 -DDESCRIPTION=... -P check_version_resource.cmake
cmake_minimum_required(VERSION 3.25)

string(REPLACE "." ";" parts ${VERSION})
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)

# VS_FIXEDFILEINFO: signature 0xFEEF04BD, structure version, then file version
# (most significant DWORD major.minor, least significant patch.0), then product
# version the same way; all little-endian.
function(le_dword high low out)
  math(EXPR value "(${high} << 16) | ${low}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" value ${value})
  string(LENGTH ${value} length)
  math(EXPR padding "8 - ${length}")
  string(REPEAT "0" ${padding} zeros)
  set(value "${zeros}${value}")
  string(SUBSTRING ${value} 6 2 b0)
  string(SUBSTRING ${value} 4 2 b1)
  string(SUBSTRING ${value} 2 2 b2)
  string(SUBSTRING ${value} 0 2 b3)
  set(${out} "${b0}${b1}${b2}${b3}" PARENT_SCOPE)
endfunction()
le_dword(${major} ${minor} version_ms)
le_dword(${patch} 0 version_ls)

file(READ ${DLL} image HEX)
# The signature starts on a byte, that is an even position in the hex text.
set(at -1)
set(rest "${image}")
set(skipped 0)
while(at EQUAL -1)
  string(FIND "${rest}" "bd04effe" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${DLL} has no VERSIONINFO resource")
  endif()
  math(EXPR position "${skipped} + ${found}")
  math(EXPR odd "${position} % 2")
  if(odd)
    math(EXPR skipped "${position} + 1")
    string(SUBSTRING "${image}" ${skipped} -1 rest)
  else()
    set(at ${position})
  endif()
endwhile()
math(EXPR numbers_at "${at} + 16")
string(SUBSTRING "${image}" ${numbers_at} 32 numbers)
set(wanted "${version_ms}${version_ls}${version_ms}${version_ls}")
if(NOT numbers STREQUAL wanted)
  message(FATAL_ERROR "fixed version of ${DLL} is ${numbers}, want ${wanted} (${VERSION}.0)")
endif()

# The string table holds each key followed by its value. Only plain texts are
# kept: the rest of the image decodes to noise, brackets and semicolons that
# would break the list.
file(STRINGS ${DLL} texts ENCODING UTF-16LE REGEX "^[A-Za-z0-9 .,_()-]+$")
foreach(pair "FileVersion=${VERSION}" "ProductVersion=${VERSION}" "OriginalFilename=pkdv.dll"
             "FileDescription=${DESCRIPTION}" "ProductName=pkdv")
  string(REGEX REPLACE "=.*" "" key "${pair}")
  string(REGEX REPLACE "^[^=]*=" "" value "${pair}")
  list(FIND texts "${key}" key_at)
  if(key_at EQUAL -1)
    message(FATAL_ERROR "${DLL}: no ${key} in the version strings")
  endif()
  math(EXPR value_at "${key_at} + 1")
  list(GET texts ${value_at} found)
  if(NOT found STREQUAL value)
    message(FATAL_ERROR "${DLL}: ${key} is '${found}', want '${value}'")
  endif()
endforeach()
message(STATUS "${DLL}: version ${VERSION} in the fixed and the string parts")
