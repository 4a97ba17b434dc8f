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

# The Debian copyright file (machine-readable format) of every package, made
# once from LICENSE: Debian names the MIT licence "Expat".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE mrvln_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" mrvln_license_holder "${mrvln_license}")
set(mrvln_license_holder ${CMAKE_MATCH_1})
string(REGEX REPLACE "^MIT License\n\nCopyright[^\n]*\n\n" "" mrvln_license_text "${mrvln_license}")
string(REGEX REPLACE "\n+$" "" mrvln_license_text "${mrvln_license_text}")
string(REPLACE "\n\n" "\n.\n" mrvln_license_text "${mrvln_license_text}")
string(REPLACE "\n" "\n " mrvln_license_text "${mrvln_license_text}")
file(WRITE ${PROJECT_BINARY_DIR}/debian-copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: morvellane\n"
     "\n"
     "Files: *\n"
     "Copyright: ${mrvln_license_holder}\n"
     "License: Expat\n"
     "\n"
     "License: Expat\n"
     " ${mrvln_license_text}\n")

# Installs the copyright file of Debian package `package`, whose files are the
# install component `component`.
function(mrvln_copyright component package)
  install(FILES ${PROJECT_BINARY_DIR}/debian-copyright DESTINATION share/doc/${package}
          RENAME copyright COMPONENT ${component})
endfunction()
