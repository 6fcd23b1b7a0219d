# Link-time optimisation for optimised builds. The read path crosses many small
# functions in separate files (the engine's steps, the platform's locks and
# thread state); optimising across them takes a fifth to a quarter of the
# engine's own instructions per frame (docs/benchmarks.md). Sanitizer and
# fuzzing builds keep their plain code, and a toolchain without support builds
# without it.
option(PKDV_LTO "Link-time optimisation in Release, RelWithDebInfo and MinSizeRel builds" ON)
if(PKDV_LTO AND NOT PKDV_FUZZ AND PKDV_SANITIZE STREQUAL "")
  include(CheckIPOSupported)
  check_ipo_supported(RESULT pkdv_lto_supported OUTPUT pkdv_lto_error LANGUAGES C CXX)
  if(pkdv_lto_supported)
    foreach(config RELEASE RELWITHDEBINFO MINSIZEREL)
      set(CMAKE_INTERPROCEDURAL_OPTIMIZATION_${config} ON)
    endforeach()
  else()
    message(STATUS "pkdv: no link-time optimisation with this toolchain: ${pkdv_lto_error}")
  endif()
endif()
