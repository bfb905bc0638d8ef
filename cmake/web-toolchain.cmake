# The web page's toolchain: Debian's Emscripten run through the wrappers that
# scripts/web-toolchain.sh writes into the build folder, so that every step
# of the build, also one started by hand with `cmake --build build-web`, uses
# that folder's settings and library cache. `make web` passes the folder.
set(ZOBRA_WEB_TOOLS "" CACHE PATH "The emscripten folder written by scripts/web-toolchain.sh")
if(NOT ZOBRA_WEB_TOOLS OR NOT EXISTS "${ZOBRA_WEB_TOOLS}/bin/em++")
  message(FATAL_ERROR "ZOBRA_WEB_TOOLS must name the folder scripts/web-toolchain.sh wrote "
                      "(build with `make web`)")
endif()
# Checks that CMake compiles in a project of their own read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZOBRA_WEB_TOOLS)

# For the commands Emscripten's own toolchain file runs while configuring.
set(ENV{EM_CONFIG} "${ZOBRA_WEB_TOOLS}/config")
set(ENV{NODE_PATH} /usr/share/nodejs)

set(CMAKE_C_COMPILER "${ZOBRA_WEB_TOOLS}/bin/emcc" CACHE FILEPATH "")
set(CMAKE_CXX_COMPILER "${ZOBRA_WEB_TOOLS}/bin/em++" CACHE FILEPATH "")
set(CMAKE_AR "${ZOBRA_WEB_TOOLS}/bin/emar" CACHE FILEPATH "")
set(CMAKE_RANLIB "${ZOBRA_WEB_TOOLS}/bin/emranlib" CACHE FILEPATH "")
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
