# libzirrafon: the shared C library over the engine (src/lib), its pkg-config
# file, and its C test program. Only the functions of zirrafon/zirrafon.h are
# exported: the library's own code is built with hidden visibility, and the
# engine's static libraries linked into it are kept out of its symbol table.

# The engine's libraries go into a shared object too. Without semantic
# interposition the code is what the programs' position-independent builds
# made of it before, so zirrafon-render keeps its speed.
foreach(_lib zirrafon_z80 zirrafon_chip zirrafon_formats zirrafon_songs zirrafon_render)
  set_target_properties(${_lib} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${_lib} PRIVATE -fno-semantic-interposition)
endforeach()

# The target is libzirrafon: "zirrafon" is the player's.
add_library(libzirrafon SHARED src/lib/zirrafon.cpp)
target_include_directories(libzirrafon PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/src/lib>)
target_link_libraries(libzirrafon PRIVATE zirrafon_emu)
target_compile_definitions(libzirrafon PRIVATE ZIRRAFON_BUILDING_LIBRARY)
target_compile_options(libzirrafon PRIVATE ${ZIRRAFON_WARNINGS})
target_link_options(libzirrafon PRIVATE -Wl,--exclude-libs,ALL
                    -Wl,--version-script=${CMAKE_SOURCE_DIR}/src/lib/zirrafon.map)
# Every symbol resolved at link time; a sanitizer's run-time comes with the
# program instead (clang links it into executables only).
if(NOT ZIRRAFON_SANITIZE)
  target_link_options(libzirrafon PRIVATE -Wl,--no-undefined)
endif()
set_property(TARGET libzirrafon APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/src/lib/zirrafon.map)
set_target_properties(libzirrafon PROPERTIES
  OUTPUT_NAME zirrafon VERSION ${PROJECT_VERSION} SOVERSION 1
  C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

include(GNUInstallDirs)
# The pkg-config file finds the prefix from where it lies, so that it holds
# wherever the files are installed (cmake --install's prefix, the package's /usr).
file(RELATIVE_PATH ZIRRAFON_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
configure_file(${CMAKE_SOURCE_DIR}/src/lib/zirrafon.pc.in ${CMAKE_BINARY_DIR}/zirrafon.pc @ONLY)

# The C test program: the header as a C99 program sees it, with every warning
# an error, and the library's samples against zirrafon-render's.
enable_language(C)
add_executable(test_capi tests/lib/capi_test.c)
target_link_libraries(test_capi PRIVATE libzirrafon m Threads::Threads)
set_target_properties(test_capi PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_compile_options(test_capi PRIVATE -Wall -Wextra -pedantic -Werror)
if(ZIRRAFON_SANITIZE)
  # The library's C++ code carries clang's vptr checks, whose runtime only the
  # C++ driver links.
  set_target_properties(test_capi PROPERTIES LINKER_LANGUAGE CXX)
endif()
if(TARGET zirrafon-render)
  add_dependencies(test_capi zirrafon-render)
endif()
add_test(NAME capi COMMAND test_capi $<TARGET_FILE:zirrafon-render> ${ZIRRAFON_TESTDATA}
                                     ${CMAKE_SOURCE_DIR}/assets/demo ${CMAKE_BINARY_DIR}/capi-test)
set_tests_properties(capi PROPERTIES LABELS unit TIMEOUT 300)

# --- the GStreamer plugin (gst/): zirrafondec and the typefinders -----------------
pkg_check_modules(GST REQUIRED IMPORTED_TARGET gstreamer-1.0 gstreamer-audio-1.0
                  gstreamer-bad-audio-1.0)
add_library(gstzirrafon MODULE gst/gstzirrafon.c gst/gstzirrafondec.c)
target_link_libraries(gstzirrafon PRIVATE libzirrafon PkgConfig::GST)
target_compile_definitions(gstzirrafon PRIVATE ZIRRAFON_PLUGIN_VERSION="${PROJECT_VERSION}"
                                               GST_USE_UNSTABLE_API)
target_compile_options(gstzirrafon PRIVATE -Wall -Wextra -Werror)
set_target_properties(gstzirrafon PROPERTIES
  C_STANDARD 99 C_VISIBILITY_PRESET hidden
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/gst-plugins)

# The plugin's tests: decodebin and the typefinders against zirrafon-render,
# with the plugin loaded from the build tree into a private registry.
pkg_check_modules(GST_APP REQUIRED IMPORTED_TARGET gstreamer-app-1.0)
add_executable(gst_seek tests/gst/gst_seek.c)
target_link_libraries(gst_seek PRIVATE PkgConfig::GST_APP PkgConfig::GST)
target_compile_options(gst_seek PRIVATE -Wall -Wextra -Werror)
add_executable(make_stream_files tests/gst/make_stream_files.cpp)
target_link_libraries(make_stream_files PRIVATE zirrafon_emu)
target_include_directories(make_stream_files PRIVATE tests/formats)
target_compile_options(make_stream_files PRIVATE ${ZIRRAFON_WARNINGS})
add_test(NAME gst_plugin
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/gst/gst_test.sh ${CMAKE_BINARY_DIR} ${ZIRRAFON_TESTDATA}
          ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/gst-test)
set_tests_properties(gst_plugin PROPERTIES LABELS gst TIMEOUT 600)

# --- installation: the library, its header and pkg-config file, the plugin ------
# The plugin goes where the system's GStreamer looks under the prefix /usr
# (the package's); under another prefix GST_PLUGIN_PATH names the folder.
install(TARGETS libzirrafon LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES src/lib/zirrafon/zirrafon.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zirrafon)
install(FILES ${CMAKE_BINARY_DIR}/zirrafon.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(TARGETS gstzirrafon LIBRARY DESTINATION lib/${CMAKE_LIBRARY_ARCHITECTURE}/gstreamer-1.0)

add_test(NAME readme_c_example
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/lib/readme_example.sh ${CMAKE_SOURCE_DIR}/README.md
          "-I${CMAKE_SOURCE_DIR}/src/lib -L$<TARGET_FILE_DIR:libzirrafon> -lzirrafon -Wl,-rpath,$<TARGET_FILE_DIR:libzirrafon>"
          $<TARGET_FILE:zirrafon-render> ${CMAKE_SOURCE_DIR}/assets/demo/demo.ay
          ${CMAKE_BINARY_DIR}/readme-example)
set_tests_properties(readme_c_example PROPERTIES LABELS lib TIMEOUT 120)

# A real player (gst-play-1.0) through the plugin to the bed's null sink.
add_test(NAME gst_player_e2e
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/gst/player_e2e.sh ${CMAKE_BINARY_DIR} ${ZIRRAFON_TESTDATA}
          ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/gst-player-test)
set_tests_properties(gst_player_e2e PROPERTIES LABELS e2e RUN_SERIAL TRUE TIMEOUT 180)
