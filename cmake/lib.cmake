# libzirrafon: the shared C library over the engine (src/lib), its pkg-config
# file, and its C test program. Only the functions of zirrafon/zirrafon.h are
# exported: the library's own code is built with hidden visibility, and the
# engine's static libraries linked into it are kept out of its symbol table.

# The engine's libraries go into a shared object too. Without semantic
# interposition the code is what the programs' position-independent builds
# made of it before, so zirrafon-render keeps its speed.
foreach(_lib zirrafon_z80 zirrafon_chip zirrafon_songs zirrafon_render)
  set_target_properties(${_lib} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${_lib} PRIVATE -fno-semantic-interposition)
endforeach()

add_library(zirrafon SHARED src/lib/zirrafon.cpp)
target_include_directories(zirrafon PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/src/lib>)
target_link_libraries(zirrafon PRIVATE zirrafon_emu)
target_compile_definitions(zirrafon PRIVATE ZIRRAFON_BUILDING_LIBRARY)
target_compile_options(zirrafon PRIVATE ${ZIRRAFON_WARNINGS})
target_link_options(zirrafon PRIVATE -Wl,--exclude-libs,ALL -Wl,--no-undefined
                    -Wl,--version-script=${CMAKE_SOURCE_DIR}/src/lib/zirrafon.map)
set_property(TARGET zirrafon APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/src/lib/zirrafon.map)
set_target_properties(zirrafon PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION 1
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
target_link_libraries(test_capi PRIVATE zirrafon m)
set_target_properties(test_capi PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_compile_options(test_capi PRIVATE -Wall -Wextra -pedantic -Werror)
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
target_link_libraries(gstzirrafon PRIVATE zirrafon PkgConfig::GST)
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
target_include_directories(make_stream_files PRIVATE tests/songs)
target_compile_options(make_stream_files PRIVATE ${ZIRRAFON_WARNINGS})
add_test(NAME gst_plugin
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/gst/gst_test.sh ${CMAKE_BINARY_DIR} ${ZIRRAFON_TESTDATA}
          ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/gst-test)
set_tests_properties(gst_plugin PROPERTIES LABELS gst TIMEOUT 600)
