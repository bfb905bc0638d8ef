#!/bin/sh
# Builds SDL2 for 64-bit Windows from Debian's own source package of it, the
# same 2.26.5 the Linux build links, and installs it into FOLDER/sdl2 (the
# headers, the import library, SDL2.dll and its CMake package). The result is
# kept: a folder that already holds it is left alone, so only the first
# Windows build of a build folder pays for it (a few minutes on two cores).
#
#   windows-sdl.sh FOLDER
#
# The source comes from `apt-get source libsdl2`, which needs a deb-src line
# for Debian's archive; install-deps.sh windows adds one in a file of its own.
set -eu
folder=$1
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$folder/sdl2
[ -f "$prefix/.built" ] && exit 0

mkdir -p "$folder/sdl2-source"
cd "$folder/sdl2-source"
if ! ls -d libsdl2-*/ >/dev/null 2>&1; then
    echo "windows-sdl: fetching Debian's source package of SDL2"
    apt-get source -q libsdl2 >/dev/null
fi
source=$(pwd)/$(ls -d libsdl2-*/ | head -n 1)
cd - >/dev/null

# Only what the game uses from SDL on Windows: video, events, audio, game
# controllers and HID. The tests and the static copy are not built.
cmake -S "$source" -B "$folder/sdl2-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/windows-toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DSDL_SHARED=ON -DSDL_STATIC=OFF -DSDL_TEST=OFF -DSDL_TESTS=OFF \
    -DSDL_HIDAPI=ON -DSDL_HIDAPI_JOYSTICK=ON -DSDL_OPENGLES=OFF -DSDL_VULKAN=OFF \
    -DSDL_RENDER_D3D=OFF >"$folder/sdl2-configure.log"
nice cmake --build "$folder/sdl2-build" -j "${JOBS:-2}"
cmake --install "$folder/sdl2-build" >/dev/null
# The licence travels with the DLL into the download.
cp "$source/LICENSE.txt" "$prefix/SDL2-LICENSE.txt"
touch "$prefix/.built"
