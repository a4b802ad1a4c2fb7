# The Qt player: library zirrafon_gui (playback + ui + platform), the zirrafon
# executable (app), and the Qt-based tests.
find_package(Qt6 REQUIRED COMPONENTS Widgets Network DBus Test)

set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)

file(GLOB GUI_SOURCES CONFIGURE_DEPENDS
  src/platform/*.cpp src/platform/*.h
  src/playback/*.cpp src/playback/*.h
  src/ui/*.cpp src/ui/*.h)
# Resources (built-in skin, icons). A static library's resources must be
# registered with Q_INIT_RESOURCE by the code that uses them.
file(GLOB GUI_RESOURCES CONFIGURE_DEPENDS assets/*.qrc)
add_library(zirrafon_gui STATIC ${GUI_SOURCES} ${GUI_RESOURCES})
target_link_libraries(zirrafon_gui PUBLIC zirrafon_emu Qt6::Widgets)
# Single instance (src/platform/single_instance.*) on a local socket.
target_link_libraries(zirrafon_gui PUBLIC Qt6::Network)
# The media-player interface (src/playback/mpris.*) on the session bus.
target_link_libraries(zirrafon_gui PRIVATE Qt6::DBus)
# File-type association (src/platform/association.*) reads the desktop's
# entries and defaults through GIO and edits the user's mimeapps.list with
# GLib's GKeyFile.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0 gio-2.0 gio-unix-2.0)
target_link_libraries(zirrafon_gui PRIVATE PkgConfig::GLIB)
# The wave device (src/playback/waveout.*) talks to the sound server through
# the PulseAudio client library, which PipeWire's server answers too.
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
target_link_libraries(zirrafon_gui PRIVATE PkgConfig::PULSE)
target_compile_options(zirrafon_gui PRIVATE ${ZIRRAFON_WARNINGS})

# The program entry (main.cpp) and what it wires together (argument batches),
# the latter in a library of its own so that tests can use it.
file(GLOB APP_SOURCES CONFIGURE_DEPENDS src/app/*.cpp src/app/*.h)
list(FILTER APP_SOURCES EXCLUDE REGEX "/main\\.cpp$")
add_library(zirrafon_app STATIC ${APP_SOURCES})
target_link_libraries(zirrafon_app PUBLIC zirrafon_gui)
target_compile_options(zirrafon_app PRIVATE ${ZIRRAFON_WARNINGS})
if(EXISTS ${CMAKE_SOURCE_DIR}/src/app/main.cpp)
  add_executable(zirrafon src/app/main.cpp)
  target_link_libraries(zirrafon PRIVATE zirrafon_app)
  target_compile_options(zirrafon PRIVATE ${ZIRRAFON_WARNINGS})
  install(TARGETS zirrafon RUNTIME DESTINATION bin)
endif()

# Offscreen Qt tests, one executable per folder: real widgets and the real
# player on a fake sound device, simulated input, messages captured. They
# share one entry point (tests/ui/main.cpp: the QApplication and throwaway
# desktop folders).
function(zirrafon_gui_test name dir)
  file(GLOB _src CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  if(_src)
    list(APPEND _src ${CMAKE_SOURCE_DIR}/tests/ui/main.cpp)
    list(REMOVE_DUPLICATES _src)
    add_executable(${name} ${_src})
    target_link_libraries(${name} PRIVATE zirrafon_app Qt6::Test GTest::gtest PkgConfig::GLIB)
    target_compile_options(${name} PRIVATE ${ZIRRAFON_WARNINGS})
    target_compile_definitions(${name} PRIVATE ${ZIRRAFON_TEST_DEFINES})
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS gui ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endfunction()
# The player, its settings, the playlist and its store.
zirrafon_gui_test(test_playback tests/playback)
# The face: main window, Parameters dialog, song list, start-up and hand-over.
zirrafon_gui_test(test_ui tests/ui)

# End-to-end tests: the real binaries under Xvfb with a PulseAudio null sink
# (scripts/e2e-bed sets the environment up).
file(GLOB E2E_TESTS CONFIGURE_DEPENDS tests/e2e/*.cpp tests/e2e/*.h)
if(E2E_TESTS)
  add_executable(test_e2e ${E2E_TESTS})
  target_link_libraries(test_e2e PRIVATE zirrafon_gui Qt6::Test GTest::gtest)
  target_compile_options(test_e2e PRIVATE ${ZIRRAFON_WARNINGS})
  target_compile_definitions(test_e2e PRIVATE ${ZIRRAFON_TEST_DEFINES})
  foreach(_dep zirrafon zirrafon-render)
    if(TARGET ${_dep})
      add_dependencies(test_e2e ${_dep})
    endif()
  endforeach()
  gtest_discover_tests(test_e2e DISCOVERY_TIMEOUT 60 PROPERTIES LABELS e2e RUN_SERIAL TRUE)
endif()

# Installation layout and the Debian package.
include(cmake/install.cmake OPTIONAL)
