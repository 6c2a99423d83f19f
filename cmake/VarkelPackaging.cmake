# `cpack -G DEB` in the build folder packages what `cmake --install` puts in
# place: the VST 2.4 module in /usr/lib/vst (where Debian's VST packages put
# theirs), the LV2 bundle in /usr/lib/lv2 and varkel-host in /usr/bin.
set(CPACK_PACKAGE_NAME "varkel")
set(CPACK_PACKAGE_VENDOR "Ostrelvane")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Varkel op-amp gain stage (VST 2.4 and LV2 plug-ins) and varkel-host")
set(CPACK_PACKAGE_DESCRIPTION
    "A stereo op-amp gain stage as a VST 2.4 plug-in module and an LV2 plug-in, with varkel-host, a command-line host that renders sound files through it or any other VST 2.4 plug-in.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Varkel maintainers <maintainers@varkel.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PROVIDES "lv2-plugin")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies (libsndfile, the C++ runtime) are read off the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
