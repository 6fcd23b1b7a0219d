# Our warning set, applied per target through pkdv_warnings so third-party code
# (GoogleTest) keeps its own flags. Warnings become errors only where we ask for
# it (the presets, tools/ and CI): a user's plain build with another compiler
# release must not stop on a warning we have never seen.
option(PKDV_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)

add_library(pkdv_warnings INTERFACE)
target_compile_options(pkdv_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused
  -Woverloaded-virtual -Wnull-dereference -Wformat=2
  $<$<BOOL:${PKDV_WARNINGS_AS_ERRORS}>:-Werror>)
