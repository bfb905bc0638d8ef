# The tests of the Windows build, run under Wine: the same test programs and
# golden files as on Linux, less the tests of what only Linux has (links,
# pipes, file modes, fork, the error box's second process, the Xvfb window
# tests), plus tests/windows for what only Windows has. GoogleTest is built
# from the sources Debian ships in /usr/src/googletest. Each program is one
# test, as every Wine start costs a second.
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_library(zobra_test_support STATIC support/test_main.cpp support/arena_picture.cpp
  support/arena_invariants.cpp support/golden.cpp)
target_include_directories(zobra_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(zobra_test_support PRIVATE ZOBRA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
target_link_libraries(zobra_test_support PUBLIC zobra_core GTest::gtest)

# The relay's WebSocket side and the site's files (with a link out of the
# folder) are Linux's only (CMakeLists.txt: ZOBRA_WEBSOCKET).
set(zobra_linux_only_tests
  files/save_test.cpp files/save_kill_test.cpp netio/impaired_link_test.cpp
  netio/websocket_test.cpp netio/web_client.cpp netio/site_test.cpp)
# Cases that read the pictures back with ImageMagick and pngcheck, Linux
# programs the tests start through a shell; the diagnostics folder's table,
# whose paths are Linux ones (tests/windows has Windows' own); and the
# thread's name, which winpthreads keeps where no Windows tool reads it.
set(zobra_linux_only_cases "PngFiles.*:Shots.EveryFileDecodesToExactlyWhatTheScreenShowed:\
DiagnosticsFolder.FollowsTheExecutableThenXdgStateHomeThenLocalAppDataThenHome:\
ProControllerStart.TheThreadCarriesTheNameProcon")

function(zobra_windows_tests name dir)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  foreach(skipped ${zobra_linux_only_tests})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${skipped})
  endforeach()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE zobra_test_support ${ARGN})
  target_compile_definitions(${name} PRIVATE
    ZOBRA_EXE="$<TARGET_FILE:zobra>"
    ZOBRA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    ZOBRA_BUILD_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME Windows.${name} COMMAND ${name} --gtest_filter=-${zobra_linux_only_cases})
  # No display: an error box cannot open and the crash tests read its text
  # from the error stream.
  set_tests_properties(Windows.${name} PROPERTIES TIMEOUT 900 LABELS windows
    ENVIRONMENT_MODIFICATION "DISPLAY=unset:;WAYLAND_DISPLAY=unset:")
endfunction()

zobra_windows_tests(core_tests core zobra_core)
zobra_windows_tests(art_tests art zobra_art)
zobra_windows_tests(sound_tests sound zobra_sound)
zobra_windows_tests(files_tests files zobra_files)
zobra_windows_tests(pads_tests pads zobra_pads)
zobra_windows_tests(game_tests game zobra_game)
zobra_windows_tests(procon_tests procon zobra_procon)
# Play between machines: the rules of it, and the transport over real UDP on
# 127.0.0.1 (the impairing proxy is a Linux program, so its test stays there).
zobra_windows_tests(net_tests net zobra_net)
zobra_windows_tests(netio_tests netio zobra_netio zobra_enet)
zobra_windows_tests(windows_tests windows zobra_files zobra_netio zobra_enet)
target_sources(windows_tests PRIVATE ${CMAKE_SOURCE_DIR}/src/program/crash_windows.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/netio/raw_client.cpp)
target_compile_definitions(windows_tests PRIVATE ZOBRA_RELAY_EXE="$<TARGET_FILE:zobra-relay>")
add_dependencies(windows_tests zobra-relay)
