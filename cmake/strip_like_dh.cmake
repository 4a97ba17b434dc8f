# Run by CPack on its staging folder before it makes the packages: removes
# the .comment and .note sections of every ELF file, as Debian's dh_strip
# does after stripping (CPACK_STRIP_FILES has stripped them already).
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(f IN LISTS staged)
  if(IS_SYMLINK "${f}")
    continue()
  endif()
  file(READ "${f}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND "${CPACK_MRVLN_STRIP}" --remove-section=.comment --remove-section=.note "${f}"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot remove .comment and .note from ${f}")
  endif()
endforeach()
