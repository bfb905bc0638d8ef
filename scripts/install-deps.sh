#!/bin/sh
# Installs the Debian packages that building, testing and running Zobra need,
# but only those that are missing, so that a set-up machine starts at once.
set -eu

packages="cmake ninja-build g++ pkg-config libsdl2-dev libhidapi-dev nlohmann-json3-dev
libgtest-dev libbenchmark-dev libx11-dev libxdamage-dev xvfb xdotool imagemagick pngcheck"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

echo "installing:$missing"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
