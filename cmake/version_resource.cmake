# Windows: a VERSIONINFO resource in pkdv.dll carries the project version, so
# Explorer and installers can tell one build from another.
if(WIN32)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/pkdv_version.rc.in
    ${PROJECT_BINARY_DIR}/pkdv_version.rc @ONLY)
  target_sources(pkdv PRIVATE ${PROJECT_BINARY_DIR}/pkdv_version.rc)
endif()
