# Installation layout and the Debian package.
#
# `cmake --install` puts the player and the renderer in bin/, the desktop
# entry in share/applications, what software centres show of it (AppStream)
# in share/metainfo, the MIME definitions of the song files in
# share/mime/packages, the program and file-type icons in the hicolor theme
# and the README in share/doc/zirrafon, all under the prefix.
#
# The C library (libzirrafon.so.1 with its header and pkg-config file) and
# the GStreamer plugin are installed by cmake/lib.cmake's rules.
#
# `cpack -G DEB` builds zirrafon_1.0.0_<arch>.deb with the prefix /usr: one
# package with the player, the renderer, the library for other programs and
# the plugin that lets every GStreamer player play the songs. The
# desktop's caches (MIME database, desktop entry index, icon cache) are
# refreshed by the triggers that shared-mime-info, desktop-file-utils and the
# icon theme register for those folders, so the package has no maintainer
# scripts of its own; CPack adds the two that run ldconfig for the shared
# library.

# cpack (and the package test) package what the build made; they must not
# start a build of every target of the tree on their own.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

if(TARGET zirrafon-render)
  install(TARGETS zirrafon-render RUNTIME DESTINATION bin)
endif()

install(FILES assets/zirrafon.desktop DESTINATION share/applications)
install(FILES assets/zirrafon.metainfo.xml DESTINATION share/metainfo
        RENAME org.ostrowind.Zirrafon.metainfo.xml)
install(FILES assets/zirrafon-mime.xml DESTINATION share/mime/packages RENAME zirrafon.xml)
install(DIRECTORY assets/icons/hicolor DESTINATION share/icons)
install(FILES README.md DESTINATION share/doc/zirrafon)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zirrafon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zirrafon project")
set(CPACK_PACKAGE_CONTACT "Zirrafon project")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player of AY, AYM, YM, VTX, PSG and Pro Tracker chip music")
set(CPACK_PACKAGE_DESCRIPTION
    "Zirrafon plays the chip music of 8-bit home computers: .ay files (Z80 player\n"
    "code with its music) and .aym files (a Z80 memory image with a header), for\n"
    "which it emulates a Z80 at ZX Spectrum speed driving an AY-3-8910 or YM2149F\n"
    "sound chip and the Spectrum beeper; the chip's register streams: .ym files\n"
    "(YM2 to YM6, LHA-packed or not), .vtx files and .psg dumps; and Pro Tracker\n"
    "3 and 2 modules (.pt3, .pt2) as their standard player plays them. It renders\n"
    "the sound at 44,100 Hz in stereo. The package also holds zirrafon-render,\n"
    "which renders songs and whole folders of them to WAV, FLAC, Ogg Vorbis, Opus\n"
    "and MP3 files with tags; libzirrafon, a C library with the same engine for\n"
    "other programs (header and pkg-config file included); and a GStreamer plugin,\n"
    "so that GStreamer players (Rhythmbox, Totem, gst-play-1.0 ...)\n"
    "play these files with it.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zirrafon project")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the programs link come from dpkg-shlibdeps; the Qt platform
# plugins are loaded at run time and so are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shared library's shlibs file and the ldconfig trigger that goes with it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils, hicolor-icon-theme")
include(CPack)

# The package test: build the .deb into a scratch folder, unpack it and check
# its content and its desktop entry.
add_test(NAME package_deb
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/check_deb.sh
          ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/package-test)
set_tests_properties(package_deb PROPERTIES LABELS package TIMEOUT 120)
