# Builds ifMrvln.spi and mrvhost.exe, the shipped files, a second time from a
# copy of the sources at another path, in a fresh build folder, and requires
# the same bytes as the files under test: no time stamp, build path or other
# trace of the build may reach them.
# Usage: cmake -DSOURCE=dir -DDLL=path -DTOOL=path -DWORK=dir -DGENERATOR=name
#        -P check_reproducible.cmake
file(REMOVE_RECURSE ${WORK})
set(copy ${WORK}/a/longer/and/different/source)
file(MAKE_DIRECTORY ${copy})
# What configuring the Windows build reads (the build itself makes the two only).
foreach(part CMakeLists.txt LICENSE cmake codec plugin readers tools bench tests)
  file(COPY ${SOURCE}/${part} DESTINATION ${copy})
endforeach()
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${copy} -B ${WORK}/other-build -G ${GENERATOR}
          -DCMAKE_TOOLCHAIN_FILE=${copy}/cmake/toolchain-i686-mingw.cmake -DBUILD_TESTING=OFF
  OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the second build failed:\n${log}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/other-build --target ifMrvln mrvhost
  OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the second build failed:\n${log}")
endif()
set(differ "")
foreach(pair "${DLL};ifMrvln.spi" "${TOOL};mrvhost.exe")
  list(GET pair 0 first)
  list(GET pair 1 name)
  set(second ${WORK}/other-build/bin/${name})
  file(SHA256 ${first} first_hash)
  file(SHA256 ${second} second_hash)
  if(NOT first_hash STREQUAL second_hash)
    string(APPEND differ "  ${first} ${first_hash}\n  ${second} ${second_hash}\n"
                         "  (compare them with: cmp -l ${first} ${second})\n")
  endif()
  list(APPEND hashes "${name} ${first_hash}")
endforeach()
if(differ)
  message(FATAL_ERROR "two builds differ:\n${differ}")
endif()
file(REMOVE_RECURSE ${WORK})
message(STATUS "identical builds: ${hashes}")
