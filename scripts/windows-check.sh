#!/bin/sh
# The Windows build checked under Wine (CI runs it through `make
# windows-check`):
#
# 1. the test programs, cross-built, under Wine: the same tests and golden
#    files as on Linux (the synthesiser's golden stretches among them), and
#    the tests of what only Windows has;
# 2. zobra.exe with ZOBRA_SHOTS writes all 36 pictures, each byte for byte
#    the one tests/golden/shots.txt holds;
# 3. the game in a window under Xvfb (with openbox, which turns Alt+F4 into
#    a close request): its title on screen, a key press that saves to
#    %APPDATA%\zobra\save.json, a close request that ends it with status 0,
#    and the Linux build reading that save and saving it back.
#
#   windows-check.sh WINDOWS_BUILD LINUX_BUILD
#
# Wine keeps its own Windows folder tree in WINDOWS_BUILD/wine, made on the
# first run. The Linux build's zobra must have been built.
set -eu
build=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY || true
work=$(mktemp -d)
xvfb=""
game=""
cleanup() {
    [ -n "$game" ] && kill "$game" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Wine makes its folder tree on first use (half a minute); later runs reuse it.
[ -d "$WINEPREFIX/drive_c" ] || wineboot --init >/dev/null 2>&1
wineserver -w

echo "== windows-check: the test programs under Wine"
(cd "$build" && ctest --output-on-failure -j "${JOBS:-2}")

echo "== windows-check: the screenshot files"
ZOBRA_SHOTS="$work/shots" wine "$build/zobra.exe" >"$work/shots.out"
checked=0
while read -r name sha _; do
    case $name in '#'*|'') continue ;; esac
    checked=$((checked + 1))
    got=$(sha256sum "$work/shots/$name" 2>/dev/null | cut -d' ' -f1)
    if [ "$got" != "$sha" ]; then
        echo "windows-check: $name differs from tests/golden/shots.txt" >&2
        exit 1
    fi
done <"$root/tests/golden/shots.txt"
# One line per scene is printed; the sprite sheet's pictures are not.
[ "$(wc -l <"$work/shots.out")" -eq 18 ] && [ "$checked" -eq 36 ] || {
    echo "windows-check: expected 18 scenes printed and 36 pictures, got" \
        "$(wc -l <"$work/shots.out") and $checked" >&2
    exit 1
}
echo "36 screenshot files byte-identical to the golden ones"

echo "== windows-check: the window"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
openbox >/dev/null 2>&1 &

appdata="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Roaming"
save="$appdata/zobra/save.json"
rm -rf "$appdata/zobra" "$build/zobra-controller.txt"
wine "$build/zobra.exe" >"$work/game.out" 2>&1 &
game=$!

# Waits up to $1 seconds for the shell condition $2.
eventually() {
    limit=$(($1 * 10))
    while [ "$limit" -gt 0 ]; do
        if eval "$2"; then return 0; fi
        sleep 0.1
        limit=$((limit - 1))
    done
    return 1
}
fail() {
    echo "windows-check: $1" >&2
    cat "$work/game.out" >&2
    [ -f "$build/zobra-controller.txt" ] && cat "$build/zobra-controller.txt" >&2
    exit 1
}

eventually 60 'window=$(xdotool search --name "^Zobra\$" 2>/dev/null | head -n 1) && [ -n "$window" ]' ||
    fail "no window titled Zobra"
eventually 30 'grep -q "first frame on its way" "$build/zobra-controller.txt" 2>/dev/null' ||
    fail "no first frame"
sleep 1
# The title as the screenshot mode draws it, against the window's content:
# nearly every pixel the same (the title's text may be blinking).
import -window "$window" "$work/window.png"
size=$(identify -format '%w %h' "$work/window.png")
[ "$size" = "960 600" ] || fail "window content is $size, not 960 600"
differing=$(compare -metric AE "$work/window.png" "$work/shots/00-title.png" null: 2>&1 || true)
[ "${differing%% *}" -lt 28800 ] 2>/dev/null || fail "the window does not show the title ($differing pixels differ)"
echo "the window shows the title ($differing of 576000 pixels differ from the screenshot)"

xdotool windowactivate --sync "$window" key m
eventually 30 'grep -q "\"music_off\":true" "$save" 2>/dev/null' || fail "M saved nothing in $save"
echo "M saved $save"

xdotool windowactivate --sync "$window" key alt+F4
eventually 30 '! kill -0 "$game" 2>/dev/null' || fail "a close request did not end the game"
status=0
wait "$game" || status=$?
game=""
[ "$status" -eq 0 ] || fail "the game ended with status $status after a close request"
echo "a close request ended the game with status 0"

# The Linux build reads the save Windows wrote: M switches the music on
# again, which it can only do if it read it as off.
ZOBRA_SAVE="$save" "$linux_build/zobra" >"$work/linux.out" 2>&1 &
game=$!
eventually 60 'window=$(xdotool search --name "^Zobra\$" 2>/dev/null | head -n 1) && [ -n "$window" ]' ||
    fail "the Linux build opened no window"
sleep 1
xdotool windowactivate --sync "$window" key m
eventually 30 'grep -q "\"music_off\":false" "$save"' || fail "the Linux build did not read the save"
xdotool windowactivate --sync "$window" key Escape
wait "$game" || fail "the Linux build ended with an error"
game=""
grep -q "could not be read" "$work/linux.out" && fail "the Linux build could not read the save"
echo "the Linux build read the save written under Windows"
echo "windows-check: all passed"
