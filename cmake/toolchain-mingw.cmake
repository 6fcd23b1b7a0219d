# Windows builds of the same sources with mingw-w64. PKDV_MINGW_ARCH picks the
# target: i686 (the shipped product, a 32-bit DLL) or x86_64 (run under Wine64
# for the tests).
if(NOT PKDV_MINGW_ARCH)
  set(PKDV_MINGW_ARCH i686)
endif()
# try_compile projects read this file again: hand them the choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PKDV_MINGW_ARCH)

if(PKDV_MINGW_ARCH STREQUAL "i686")
  set(CMAKE_SYSTEM_PROCESSOR x86)
elseif(PKDV_MINGW_ARCH STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  message(FATAL_ERROR "PKDV_MINGW_ARCH must be i686 or x86_64, not '${PKDV_MINGW_ARCH}'")
endif()

set(triplet ${PKDV_MINGW_ARCH}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
# The -posix compilers: the default thread model has no std::mutex.
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# No mingw runtime DLL has to be found at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

if(PKDV_MINGW_ARCH STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
else()
  # The tests run under 32-bit Wine where this machine can execute i386 code
  # (natively, or through a qemu-i386 registered with binfmt_misc); elsewhere
  # the lane keeps only its checks on the host and says so (tests/win32).
  execute_process(COMMAND /usr/lib/wine/wine --version RESULT_VARIABLE wine32_status
                  OUTPUT_QUIET ERROR_QUIET)
  if(wine32_status EQUAL 0)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/i686-wine-run.sh)
  endif()
endif()
