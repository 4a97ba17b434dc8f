# Settings every target of this project shares, set in one place.

# Warnings are errors in every target.
set(MRVLN_WARNINGS -Wall -Wextra -Wshadow -Wundef -Werror)

# Warnings for the C++ sources of `name`, and includes from the tree's root.
function(mrvln_target name)
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${MRVLN_WARNINGS}>)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
endfunction()

# A program: as mrvln_target, and on Windows linked statically, so that it
# runs under Wine or from a copied folder without the compiler's DLLs.
function(mrvln_program name)
  mrvln_target(${name})
  if(WIN32)
    target_link_options(${name} PRIVATE -static)
  endif()
endfunction()

# Sets a CPack variable of a package component from the folder that installs
# its files; cmake/packaging.cmake applies them all before CPack is included.
function(mrvln_cpack name value)
  set_property(GLOBAL APPEND PROPERTY MRVLN_CPACK_NAMES ${name})
  set_property(GLOBAL PROPERTY MRVLN_CPACK_${name} "${value}")
endfunction()
