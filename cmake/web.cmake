# The web page. src/web is the browser's platform, the counterpart of
# src/platform on the desktop: the only folder that talks to the browser
# (through Emscripten's html5.h and a few JavaScript functions), never to SDL.
# The page is the folder site/ in the build folder, holding exactly what a web
# server has to serve: index.html, zobra.js and zobra.wasm.
set(site ${CMAKE_BINARY_DIR}/site)
file(GLOB web_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/web/*.cpp)
add_executable(zobra_web ${web_sources})
target_include_directories(zobra_web PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(zobra_web PRIVATE zobra_game)
set_target_properties(zobra_web PROPERTIES OUTPUT_NAME zobra RUNTIME_OUTPUT_DIRECTORY ${site})
# Only browsers load the page; the memory grows with the arenas instead of
# being fixed up front. The page's JavaScript (local storage, Web Audio)
# hands texts over in memory it takes from the module's allocator, and a
# replay file dropped on the page to zobra_show_dropped_replay.
# Play between machines goes over the browser's WebSocket (web/relay_socket).
target_link_options(zobra_web PRIVATE -sENVIRONMENT=web -sALLOW_MEMORY_GROWTH=1
  -sEXPORTED_FUNCTIONS=_main,_malloc,_free,_zobra_show_dropped_replay -lwebsocket.js)
configure_file(${CMAKE_SOURCE_DIR}/src/web/index.html ${site}/index.html COPYONLY)

# The golden replays' hashes as the rules compiled for the browser play them:
# tools/replay_hashes.cpp for Node, reading the files it is given straight
# from the disk (build-web/replay_hashes.js; tests/web/replays.test.mjs runs
# it). Compiled synchronously, because Emscripten's asynchronous start-up
# would fetch the .wasm, which Node cannot do by file name.
add_executable(replay_hashes ${CMAKE_SOURCE_DIR}/tools/replay_hashes.cpp)
target_include_directories(replay_hashes PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(replay_hashes PRIVATE zobra_core)
set_target_properties(replay_hashes PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_options(replay_hashes PRIVATE -sENVIRONMENT=node -sNODERAWFS=1
  -sWASM_ASYNC_COMPILATION=0 -sALLOW_MEMORY_GROWTH=1 -sEXIT_RUNTIME=1)
