# Warnings are errors on every lane. Applied per target through pkdv_warnings so
# third-party code (GoogleTest) keeps its own flags.
add_library(pkdv_warnings INTERFACE)
target_compile_options(pkdv_warnings INTERFACE
  -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused
  -Woverloaded-virtual -Wnull-dereference -Wformat=2)
