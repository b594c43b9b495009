# Checks that the shared library defines exactly the expected symbols in its
# dynamic symbol table and carries the expected soname.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE table RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${table}")
set(defined)
foreach(line IN LISTS lines)
  # "address type name"; version nodes (type A) are not symbols of the code.
  if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^ @]+)" AND NOT CMAKE_MATCH_1 STREQUAL "A")
    list(APPEND defined ${CMAKE_MATCH_2})
  endif()
endforeach()
list(SORT defined)
file(STRINGS ${EXPECTED} expected)
list(SORT expected)
if(NOT defined STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  got:      ${defined}\n  expected: ${expected}")
endif()

# The library allocates nothing itself: no allocator among the symbols it
# needs from elsewhere.
execute_process(COMMAND ${NM} -D --undefined-only ${LIBRARY} OUTPUT_VARIABLE needed)
set(allocators malloc calloc realloc reallocarray free aligned_alloc posix_memalign memalign
    valloc strdup strndup asprintf vasprintf open_memstream getline getdelim
    fopen fopen64 fdopen freopen tmpfile popen opendir
    _Znwm _Znam _Znwj _Znaj _ZdlPv _ZdaPv)
foreach(name IN LISTS allocators)
  if(needed MATCHES "[ \n]${name}(@|\n)")
    message(FATAL_ERROR "the library calls the allocator function ${name}")
  endif()
endforeach()

execute_process(COMMAND ${READELF} -d ${LIBRARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed OR NOT dynamic MATCHES "Library soname: \\[([^]]*)\\]")
  message(FATAL_ERROR "no soname in ${LIBRARY}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL SONAME)
  message(FATAL_ERROR "soname is ${CMAKE_MATCH_1}, expected ${SONAME}")
endif()
# Nothing but the C library at run time, no C++ runtime either (the
# sanitizer builds add their own runtimes).
string(REGEX MATCHALL "Shared library: \\[[^]]*\\]" needed_libraries "${dynamic}")
foreach(entry IN LISTS needed_libraries)
  if(NOT entry MATCHES "\\[(libc|lib[at]san|libubsan)\\.so\\.[0-9]+\\]")
    message(FATAL_ERROR "the library needs ${entry}; it may need the C library only")
  endif()
endforeach()

list(LENGTH defined count)
message(STATUS "${count} symbols exported, soname ${SONAME}")
