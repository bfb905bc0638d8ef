#!/bin/sh
# Installs the Debian packages that building, testing and running Zobra need,
# but only those that are missing, so that a set-up machine starts at once.
#
#   install-deps.sh          the desktop game and its tests
#   install-deps.sh web      Emscripten, for the web page
#   install-deps.sh browser  Chromium, for the web page's browser test
#   install-deps.sh lintian  lintian, which checks the Debian package (CI runs it)
#   install-deps.sh windows  mingw-w64, Wine and NSIS, for the Windows build; this
#                            also adds a deb-src line for Debian's archive in
#                            /etc/apt/sources.list.d/zobra-deb-src.sources, so
#                            that SDL2 can be built from Debian's own source
#
# Node.js and npm are taken from the machine when it has them (whatever
# package brought them); only a machine without them gets Debian's.
set -eu

case "${1:-desktop}" in
desktop)
    # Beside the build and test tools: the validators the installation test
    # runs on the installed files, the tools that make the Debian package,
    # clang 14 with its runtime libraries for the sanitizer and fuzzing
    # checks, and clang-format and clang-tidy 14 for `make lint`.
    packages="cmake ninja-build g++ pkg-config libsdl2-dev libhidapi-dev nlohmann-json3-dev
libenet-dev libboost-dev libgtest-dev libbenchmark-dev libx11-dev libxdamage-dev xvfb xdotool imagemagick pngcheck
openbox x11-utils desktop-file-utils appstream groff-base man-db dpkg-dev file
clang-14 libclang-rt-14-dev clang-format-14 clang-tidy-14" ;;
web) packages="cmake ninja-build emscripten binaryen clang-14 lld-14 node-acorn nlohmann-json3-dev" ;;
browser) packages="chromium" ;;
lintian) packages="lintian" ;;
windows) packages="cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
mingw-w64-tools wine wine64 nsis nlohmann-json3-dev googletest dpkg-dev xz-utils xvfb xdotool
imagemagick openbox" ;;
*)
    echo "install-deps.sh: unknown group '$1' (desktop, web, browser, lintian or windows)" >&2
    exit 2 ;;
esac

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ "${1:-desktop}" = web ] || [ "${1:-desktop}" = browser ]; then
    command -v node >/dev/null 2>&1 || missing="$missing nodejs"
    command -v npm >/dev/null 2>&1 || missing="$missing npm"
fi
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# `apt-get source libsdl2` needs Debian's source archive; the line for it
# goes into a file of its own, naming the same suites as the binary one.
deb_src=/etc/apt/sources.list.d/zobra-deb-src.sources
new_source=""
if [ "${1:-desktop}" = windows ] && ! grep -rqs "deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "adding Debian's source archive for apt-get source in $deb_src"
    printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" \
        "Suites: bookworm bookworm-updates" "Components: main" \
        "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" | $sudo tee "$deb_src" >/dev/null
    new_source=yes
fi
[ -z "$missing" ] && [ -z "$new_source" ] && exit 0

echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
# Other developers on a shared machine may be installing too: wait for their
# apt run instead of failing on its lock.
$sudo apt-get -o DPkg::Lock::Timeout=600 update -q
# shellcheck disable=SC2086
$sudo apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends $missing
