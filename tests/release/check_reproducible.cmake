# Builds ifMrvln.spi a second time from a copy of the sources at another path,
# in a fresh build folder, and requires the same bytes as the DLL under test:
# no time stamp, build path or other trace of the build may reach the file.
# Usage: cmake -DSOURCE=dir -DDLL=path -DWORK=dir -DGENERATOR=name -P check_reproducible.cmake
file(REMOVE_RECURSE ${WORK})
set(copy ${WORK}/a/longer/and/different/source)
file(MAKE_DIRECTORY ${copy})
# What configuring the Windows build reads (the build itself makes the DLL only).
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
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/other-build --target ifMrvln
  OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the second build failed:\n${log}")
endif()
set(second ${WORK}/other-build/bin/ifMrvln.spi)
file(SHA256 ${DLL} first_hash)
file(SHA256 ${second} second_hash)
if(NOT first_hash STREQUAL second_hash)
  message(FATAL_ERROR "two builds differ:\n  ${DLL} ${first_hash}\n  ${second} ${second_hash}\n"
                      "compare them with: cmp -l ${DLL} ${second}")
endif()
file(REMOVE_RECURSE ${WORK})
message(STATUS "identical builds: ${first_hash}")
