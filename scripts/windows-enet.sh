#!/bin/sh
# Builds ENet for 64-bit Windows as a static library from the source Debian
# ships of it, and installs it into FOLDER/enet-VERSION (include/enet, lib/
# libenet.a and the licence). Like SDL2 it is kept: a folder that already
# holds it is left alone. The build is nine C files, a few seconds.
#
#   windows-enet.sh FOLDER
#
# Debian's archive here serves the tarball of ENet 1.3.18 (Debian's
# repack, from the pool folder of its enet source package), but no longer
# the 1.3.17 one the Linux build links; the two speak the same protocol.
# The tarball is fetched with apt's own downloader from the pool folder
# that `apt-get source` names for enet (which needs the deb-src line
# install-deps.sh windows adds), and checked against the checksum Debian's
# source index gives for it.
set -eu
folder=$1
version=1.3.18
tarball=enet_$version+ds.orig.tar.xz
sha256=f1ba5f8aaf253cb19b9545031450bf74122f151435998259ca978808e9e4fec3
prefix=$folder/enet-$version
[ -f "$prefix/.built" ] && exit 0

mkdir -p "$folder/enet-source"
cd "$folder/enet-source"
if [ ! -f "$tarball" ]; then
    echo "windows-enet: fetching Debian's source tarball of ENet $version"
    pool=$(apt-get source --print-uris -qq enet | sed -n "s/^'\(.*\)\/[^/]*\.dsc'.*/\1/p")
    [ -n "$pool" ] || { echo "windows-enet: apt-get source knows no enet" >&2; exit 1; }
    /usr/lib/apt/apt-helper download-file "$pool/$tarball" "$tarball.part" "SHA256:$sha256" \
        >/dev/null 2>&1 || { echo "windows-enet: cannot fetch $pool/$tarball" >&2; exit 1; }
    mv "$tarball.part" "$tarball"
fi
rm -rf "enet-$version+ds"
tar xf "$tarball"
source=$(pwd)/enet-$version+ds
cd - >/dev/null

# ENet's own CMake file installs no headers; its library is its nine C
# files, compiled the way its CMake file would for mingw-w64.
rm -rf "$folder/enet-build" "$prefix"
mkdir -p "$folder/enet-build" "$prefix/lib" "$prefix/include"
for c in callbacks compress host list packet peer protocol unix win32; do
    nice x86_64-w64-mingw32-gcc-posix -O2 -I"$source/include" \
        -c "$source/$c.c" -o "$folder/enet-build/$c.o"
done
x86_64-w64-mingw32-ar rcs "$prefix/lib/libenet.a" "$folder/enet-build"/*.o
cp -r "$source/include/enet" "$prefix/include/"
# The licence travels with the game into the download.
cp "$source/LICENSE" "$prefix/ENet-LICENSE.txt"
touch "$prefix/.built"
