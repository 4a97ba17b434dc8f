# Packs the release: build/win32/release/ifMrvln-<version>.zip holding the
# plug-in, the tool, INSTALL.txt (the README's installation section) and
# SHA256SUMS, plus the zip's own checksum beside it, packed by CMake itself.
# Fixed file times and modes and a fixed order, so that the same files give
# the same zip, whoever packs it: the zip records the owner of each file,
# which cmake -E tar takes from the files, so a user other than root packs
# in a user namespace of their own (util-linux's unshare), where their files
# belong to uid and gid 0, as root's do.
# Usage: cmake -DSPI=path -DTOOL=path -DREADME=path -DVERSION=x.y.z -DOUT=dir -P make_release.cmake
set(mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(name ifMrvln-${VERSION})
set(stage ${OUT}/${name})
file(REMOVE_RECURSE ${stage})
file(REMOVE ${OUT}/${name}.zip ${OUT}/${name}.zip.sha256)
file(MAKE_DIRECTORY ${stage})
file(COPY ${SPI} ${TOOL} DESTINATION ${stage} FILE_PERMISSIONS ${mode})

# The installation section: from its heading to the next one.
file(STRINGS ${README} lines ENCODING UTF-8)
set(section "")
set(inside FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "^## ")
    if(inside)
      break()
    endif()
    if(line MATCHES "^## Installing")
      set(inside TRUE)
    endif()
  endif()
  if(inside)
    string(APPEND section "${line}\r\n")
  endif()
endforeach()
if(section STREQUAL "")
  message(FATAL_ERROR "${README} has no \"## Installing\" section")
endif()
string(REGEX REPLACE "(\r\n)+$" "\r\n" section "${section}")
file(WRITE ${stage}/INSTALL.txt "ifMrvln.spi ${VERSION}\r\n\r\n${section}")

get_filename_component(spi_name ${SPI} NAME)
get_filename_component(tool_name ${TOOL} NAME)
set(files INSTALL.txt ${spi_name} ${tool_name})
list(SORT files)
set(sums "")
foreach(f IN LISTS files)
  file(SHA256 ${stage}/${f} hash)
  string(APPEND sums "${hash}  ${f}\n")
endforeach()
file(WRITE ${stage}/SHA256SUMS "${sums}")
file(CHMOD ${stage}/INSTALL.txt ${stage}/SHA256SUMS PERMISSIONS ${mode})
list(APPEND files SHA256SUMS)
list(SORT files)

set(entries "")
foreach(f IN LISTS files)
  list(APPEND entries ${name}/${f})
endforeach()
set(as_root "")
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT uid STREQUAL "0")
  find_program(UNSHARE unshare)
  if(UNSHARE)
    execute_process(COMMAND ${UNSHARE} --map-root-user true RESULT_VARIABLE rc
                    OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(UNSHARE AND rc EQUAL 0)
    set(as_root ${UNSHARE} --map-root-user)
  else()
    message(WARNING "${name}.zip records uid ${uid} as the owner of its files: "
                    "'unshare --map-root-user' is not allowed here; pack as root for the "
                    "zip that root packs")
  endif()
endif()
# SOURCE_DATE_EPOCH sets every time of every entry (--mtime would set the
# modification time only, and leave the access and change times of the
# files in the zip); TZ fixes the DOS time fields. Files only, no folders.
execute_process(COMMAND ${as_root} ${CMAKE_COMMAND} -E env TZ=UTC SOURCE_DATE_EPOCH=946684800
                        ${CMAKE_COMMAND} -E tar cf ${name}.zip --format=zip -- ${entries}
  WORKING_DIRECTORY ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "packing ${name}.zip failed")
endif()
file(SHA256 ${OUT}/${name}.zip hash)
file(WRITE ${OUT}/${name}.zip.sha256 "${hash}  ${name}.zip\n")
message(STATUS "release: ${OUT}/${name}.zip")
