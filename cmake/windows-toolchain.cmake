# Cross-building the game for 64-bit Windows with Debian's mingw-w64 (the
# posix-threads flavour, whose C++ library has std::thread and std::mutex).
# The test programs and build-time tools run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZOBRA_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZOBRA_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZOBRA_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZOBRA_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZOBRA_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
