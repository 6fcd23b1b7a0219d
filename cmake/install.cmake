# Installs pkdv as an SDK and describes it to CMake and pkg-config users.
#
#   include/pkdv.h
#   lib/libpkdv.so -> libpkdv.so.1 -> libpkdv.so.1.0.0   (Linux)
#   bin/pkdv.dll, lib/libpkdv.dll.a, lib/pkdv.def         (Windows)
#   lib/cmake/pkdv/   config, version file, target pkdv::pkdv
#   lib/pkgconfig/pkdv.pc                                 (Linux)
#   bin/pkdv-capture[.exe], share/pkdv/                   the sample client and its data
#   share/doc/pkdv/api.md, share/doc/pkdv/LICENSE         the interface's guide, the licence
#
# The directories are fixed rather than taken from GNUInstallDirs so that the
# tree has the same shape whatever the prefix or the distribution.
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/version_resource.cmake)

set(PKDV_INSTALL_CMAKEDIR lib/cmake/pkdv)
# Installing and packing take what is built and never start a build of the
# whole tree (tests included): build the lane first, as the README says.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS pkdv EXPORT pkdvTargets
  RUNTIME DESTINATION bin
  LIBRARY DESTINATION lib
  ARCHIVE DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/include/pkdv.h DESTINATION include)
install(FILES ${PROJECT_SOURCE_DIR}/docs/api.md ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION share/doc/pkdv)
if(WIN32)
  # Lets MSVC users make their own import library (lib /def:pkdv.def).
  install(FILES ${PROJECT_SOURCE_DIR}/src/pkdv.def DESTINATION lib)
endif()

if(TARGET pkdv-capture)
  install(TARGETS pkdv-capture RUNTIME DESTINATION bin)
  # The installed program finds the library of its own tree, wherever that is.
  if(NOT WIN32)
    set_target_properties(pkdv-capture PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
  endif()
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/data)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/ DESTINATION share/pkdv)
endif()

install(EXPORT pkdvTargets NAMESPACE pkdv:: DESTINATION ${PKDV_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/pkdvConfig.cmake.in
  ${PROJECT_BINARY_DIR}/pkdvConfig.cmake
  INSTALL_DESTINATION ${PKDV_INSTALL_CMAKEDIR})
# A new major version may change the records or the exports; the version file
# also refuses a tree built for another pointer width.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/pkdvConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/pkdvConfig.cmake ${PROJECT_BINARY_DIR}/pkdvConfigVersion.cmake
  DESTINATION ${PKDV_INSTALL_CMAKEDIR})

if(NOT WIN32)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/pkdv.pc.in ${PROJECT_BINARY_DIR}/pkdv.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkdv.pc DESTINATION lib/pkgconfig)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/cpack.cmake)
