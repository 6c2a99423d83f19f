# `cpack -G DEB` in the build folder packages what `cmake --install` puts in
# place: the VST 2.4 module in /usr/lib/vst (where Debian's VST packages put
# theirs), the LV2 bundle in /usr/lib/lv2, varkel-host in /usr/bin with its
# manual page, and the licence and changelog in /usr/share/doc/varkel, laid out
# as Debian's policy wants them.
set(CPACK_PACKAGE_NAME "varkel")
set(CPACK_PACKAGE_VENDOR "Ostrelvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "stereo op-amp gain stage effect as VST 2.4 and LV2 plug-ins")
set(CPACK_PACKAGE_DESCRIPTION_FILE "${PROJECT_SOURCE_DIR}/packaging/description.txt")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Varkel maintainers <maintainers@varkel.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PROVIDES "lv2-plugin")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# varkel.cluster renders on Dask, over TLS; the rest of the package needs neither.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-distributed, python3-cryptography")
# Library dependencies (libsndfile, the C++ runtime) are read off the staged
# binaries by this script rather than by CPACK_DEBIAN_PACKAGE_SHLIBDEPS (the
# script says why).
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/VarkelDebianDepends.cmake")
include(CPack)

# A native package's changelog is usr/share/doc/<package>/changelog.gz; its
# newest entry names the version being packaged.
set(changelog "${PROJECT_SOURCE_DIR}/packaging/changelog")
file(STRINGS "${changelog}" newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^varkel \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "${changelog}: the newest entry is not for ${PROJECT_VERSION}: ${newest}")
endif()
varkel_install_gzipped("${changelog}" share/doc/varkel changelog.gz)

# The copyright file in Debian's machine-readable format, with the licence
# text taken from LICENSE (its lines indented, empty ones as " .").
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" licence)
string(FIND "${licence}" "Permission is hereby granted" start)
if(start EQUAL -1)
  message(FATAL_ERROR "LICENSE: no Expat (MIT) licence text found")
endif()
string(SUBSTRING "${licence}" ${start} -1 licence)
string(STRIP "${licence}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " VARKEL_LICENCE_TEXT " ${licence}")
configure_file("${PROJECT_SOURCE_DIR}/packaging/copyright.in" copyright @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/copyright" DESTINATION share/doc/varkel)
