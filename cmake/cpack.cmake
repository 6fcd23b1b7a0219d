# Archives of the installed tree: a tarball on Linux, a zip per Windows lane.
#   pkdv-1.0.0-linux-x86_64.tar.gz, pkdv-1.0.0-win32.zip, pkdv-1.0.0-win64.zip
# Each unpacks into one directory of that name holding the SDK layout.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(pkdv_package_system win64)
  else()
    set(pkdv_package_system win32)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" pkdv_package_system)
  set(CPACK_GENERATOR TGZ)
endif()

set(CPACK_PACKAGE_NAME pkdv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_FILE_NAME pkdv-${PROJECT_VERSION}-${pkdv_package_system})
# Debug information stays in the build tree; the archives carry stripped binaries.
set(CPACK_STRIP_FILES ON)
include(CPack)
