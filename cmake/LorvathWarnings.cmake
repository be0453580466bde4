# Warning flags for the project's own targets. Warnings are errors in the dev preset
# (CMAKE_COMPILE_WARNING_AS_ERROR), so both g++ and clang keep the tree clean.
function(lorvath_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE -Wthread-safety)
  endif()
endfunction()
