# `cpack -G DEB` in the build folder: a Debian package of the window and the command line.
# The media libraries are bound at run time, so no tool can see them in the programs: they are
# named here. The Qt and C++ libraries the programs link come from dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME clipwright)
set(CPACK_PACKAGE_VENDOR Vexlane)
set(CPACK_PACKAGE_CONTACT "Vexlane <support@vexlane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch converter for audio and video files")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Clipwright converts audio and video files in batches, with output profiles for common\n"
    "containers, audio formats, portable players and phones. clipwright is the window,\n"
    "clipwright-cli the command line over the same engine.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY clipwright)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.vexlane.example/clipwright)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libavcodec59, libavformat59, libavutil57, libswscale6, libswresample4, libavfilter8, \
libopencore-amrnb0, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
