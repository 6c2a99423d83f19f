# Run by cpack once the files are staged: fills the package's Depends from the
# libraries its ELF files link, as dpkg-shlibdeps reads them. CPack's own
# CPACK_DEBIAN_PACKAGE_SHLIBDEPS would do the same, but its scan also takes
# the plug-in module in /usr/lib/vst for a library in the linker's path and
# adds ldconfig calls to the maintainer scripts.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
set(binaries)
foreach(path IN LISTS staged)
  if(NOT IS_SYMLINK "${path}")
    file(READ "${path}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
      list(APPEND binaries "${path}")
    endif()
  endif()
endforeach()
if(NOT binaries)
  return()
endif()

# dpkg-shlibdeps wants a debian/control in its working folder; it must not
# land in the staged files.
set(work "${CPACK_TOPLEVEL_DIRECTORY}/shlibdeps")
file(MAKE_DIRECTORY "${work}/debian")
file(WRITE "${work}/debian/control" "")
execute_process(COMMAND dpkg-shlibdeps -O ${binaries}
                WORKING_DIRECTORY "${work}"
                OUTPUT_VARIABLE output
                ERROR_VARIABLE errors
                RESULT_VARIABLE status
                OUTPUT_STRIP_TRAILING_WHITESPACE)
file(REMOVE_RECURSE "${work}")
if(NOT status EQUAL 0 OR NOT output MATCHES "^shlibs:Depends=(.+)$")
  message(FATAL_ERROR "dpkg-shlibdeps failed (${status}):\n${errors}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
# The Python package's extension module links no libpython: it needs the
# interpreter of the version it was built for, and numpy.
foreach(path IN LISTS binaries)
  if(path MATCHES "/_varkel\\.cpython-3([0-9]+)-")
    set(minor ${CMAKE_MATCH_1})
    math(EXPR next "${minor} + 1")
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
           ", python3 (>= 3.${minor}), python3 (<< 3.${next}), python3-numpy")
  endif()
endforeach()
message(STATUS "Depends: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
