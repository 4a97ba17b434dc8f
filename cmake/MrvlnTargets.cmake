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

# Who answers for the Debian packages (an address under the reserved .invalid
# domain: the project has no mail host of its own).
set(MRVLN_MAINTAINER "The ifMrvln.spi authors <maintainers@morvellane.invalid>")

# The Debian changelog's entries, one for every package: its newest entry
# must be the project's version.
file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.in mrvln_changelog_top LIMIT_COUNT 1)
if(NOT mrvln_changelog_top MATCHES "^@PACKAGE@ \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian-changelog.in starts with '${mrvln_changelog_top}': "
                      "add an entry for version ${PROJECT_VERSION} on top")
endif()
find_program(MRVLN_GZIP gzip REQUIRED)

# Installs the copyright file and the changelog (compressed as dh_compress
# does, without name or time, so that the package stays reproducible) of
# Debian package `package`, whose files are the install component `component`.
function(mrvln_copyright component package)
  install(FILES ${PROJECT_BINARY_DIR}/debian-copyright DESTINATION share/doc/${package}
          RENAME copyright COMPONENT ${component})
  set(PACKAGE ${package})
  set(MAINTAINER ${MRVLN_MAINTAINER})
  set(changelog ${PROJECT_BINARY_DIR}/debian-changelog/${package}/changelog)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian-changelog.in ${changelog} @ONLY)
  execute_process(COMMAND ${MRVLN_GZIP} -9nf ${changelog} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot compress ${changelog}")
  endif()
  install(FILES ${changelog}.gz DESTINATION share/doc/${package} COMPONENT ${component})
endfunction()

include(GoogleTest)
# Registers every case of the GoogleTest program `target` as a CTest test of
# its own, named TARGET.Suite.Case, so that a failure names its case. The
# cases are listed when ctest runs (through the tree's emulator, Wine, for the
# Windows programs, which share the Wine session of tests/). FILTER: a
# GoogleTest filter of the cases to register. TIMEOUT and ENVIRONMENT (a
# list) apply to every case; they are set from a file of their own, since
# gtest_discover_tests would split a list-valued property.
function(mrvln_gtest target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FILTER;TIMEOUT" "ENVIRONMENT")
  set(filter "")
  if(arg_FILTER)
    set(filter TEST_FILTER ${arg_FILTER})
  endif()
  gtest_discover_tests(${target} TEST_PREFIX ${target}. ${filter} NO_PRETTY_VALUES
                       DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  set(properties "")
  if(arg_TIMEOUT)
    string(APPEND properties " TIMEOUT ${arg_TIMEOUT}")
  endif()
  if(arg_ENVIRONMENT)
    string(APPEND properties " ENVIRONMENT [==[${arg_ENVIRONMENT}]==]")
  endif()
  if(WIN32)
    string(APPEND properties " FIXTURES_REQUIRED wine_session")
  endif()
  if(properties STREQUAL "")
    return()
  endif()
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_properties.cmake)
  file(WRITE ${file} "if(${target}_TESTS)\n"
                     "  set_tests_properties(\${${target}_TESTS} PROPERTIES${properties})\n"
                     "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()
