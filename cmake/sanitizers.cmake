# PKDV_SANITIZE=address,undefined or thread instruments every target of the tree.
if(PKDV_SANITIZE)
  if(WIN32)
    message(FATAL_ERROR "Sanitizers are available on the Linux lane only")
  endif()
  add_compile_options(-fsanitize=${PKDV_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${PKDV_SANITIZE})
  if(PKDV_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# Debug and sanitizer builds check that a critical section is left by its
# owner and never inherited from a thread that has ended. Defined for every
# target: it changes the lock's layout.
if(PKDV_SANITIZE)
  add_compile_definitions(PKDV_CHECK_LOCK_OWNER)
else()
  add_compile_definitions($<$<CONFIG:Debug>:PKDV_CHECK_LOCK_OWNER>)
endif()
