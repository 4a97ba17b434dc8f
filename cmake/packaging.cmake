# Debian packages of the Linux front ends, one per component:
#   cmake --build build/pkg && (cd build/pkg && cpack)
# Each front end's folder installs its files into its own component and sets
# that component's CPACK_DEBIAN_<COMPONENT>_* and CPACK_COMPONENT_<COMPONENT>_*
# variables with mrvln_cpack(); this file is included after all folders.
get_property(names GLOBAL PROPERTY MRVLN_CPACK_NAMES)
foreach(name IN LISTS names)
  get_property(value GLOBAL PROPERTY MRVLN_CPACK_${name})
  # Descriptions are written as in a control file, continuation lines after
  # one space; CPack adds that space itself, and two make a line verbatim.
  if(name MATCHES "_DESCRIPTION$")
    string(REPLACE "\n " "\n" value "${value}")
  endif()
  set(${name} "${value}")
endforeach()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvellane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The ifMrvln.spi authors")
set(CPACK_PACKAGE_CONTACT "${MRVLN_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)  # as dh_strip does: no debugging symbols in the packages
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/strip_like_dh.cmake)
set(CPACK_MRVLN_STRIP ${CMAKE_STRIP})  # for that script: CPack passes on CPACK_* variables
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
