#!/bin/bash
# Measures the real game in a window on a private Xvfb server: how soon the
# first picture shows, and for the title, level 1 in play and a duel against
# three computer diggers, at 960 × 600 and 1920 × 1080, the CPU it takes (in
# per cent of one core, the whole process and its main thread), its resident
# memory, how many frames a second reach the X server (a frame in which
# nothing on screen changed sends nothing) and the main thread's wake-ups a
# second (the frame loop's pace, sixty and a few for events).
#
#   scripts/measure-window.sh [GAME] [SECONDS]
#
# GAME defaults to build/zobra, SECONDS (per scene) to 20. Run by `make
# measure`. Needs Xvfb, xdotool and a C++ compiler with the X11 and Xdamage
# headers (scripts/install-deps.sh installs them). Sound goes to SDL's dummy
# driver, which still runs the synthesiser as a sound card would.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
game=$(realpath "${1:-$here/../build/zobra}")
seconds=${2:-20}
starts=${FIRST_PICTURE_STARTS:-10}
# SCENES (title play duel) and SIZES (960x600 1920x1080) choose fewer.
[ -x "$game" ] || { echo "measure: no game at $game (run make build)" >&2; exit 1; }

work=$(mktemp -d /tmp/zobra-measure-XXXXXX)
xvfb_pid=""
game_pid=""
cleanup() {
    [ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null && wait "$game_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM  # the cleanup runs when the script is stopped, too

# The probe watches the window from outside through X's DAMAGE extension.
probe=$work/window-probe
c++ -O2 -o "$probe" "$here/window-probe.cpp" -lX11 -lXdamage

# A screen that holds the larger window whole.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 150); do
    grep -q . "$work/display" 2>/dev/null && break
    sleep 0.1
done
display=$(head -1 "$work/display")
[ -n "$display" ] || { echo "measure: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display" SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy

# The game runs from a folder of its own: its log goes beside it.
mkdir -p "$work/game"
cp "$game" "$work/game/zobra"

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "$1"; }
# The main thread sleeps between frames: its wake-ups a second show the
# frame loop's pace even when a frame sends nothing to the window.
wakeups() { awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$1/task/$1/status"; }

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "game: $game"
echo "first picture (fork to the first non-black pixel X holds), $starts starts:"
times=()
for _ in $(seq "$starts"); do
    rm -f "$work/save.json"
    if line=$(ZOBRA_SAVE="$work/save.json" "$probe" first-picture "$work/game/zobra"); then
        times+=("$(sed 's/.*first_picture_ms=//' <<<"$line")")
        echo "  $line"
    fi
done
if [ "${#times[@]}" -gt 0 ]; then
    sorted=$(printf '%s\n' "${times[@]}" | sort -n)
    echo "  median $(median <<<"$sorted") ms, range $(head -1 <<<"$sorted")-$(tail -1 <<<"$sorted") ms"
fi

# One scene: the save chooses the mode, the keys start it, then the game is
# left alone for a moment to settle before the measured stretch.
measure() {
    local scene=$1 mode=$2 width=$3 height=$4
    shift 4
    cat >"$work/save.json" <<EOF
{"solved":0,"best":[],"music_off":false,"mode":"$mode","difficulty":"Normal","slot":0,"name":"","others":[],"all_open":false}
EOF
    ZOBRA_SAVE="$work/save.json" "$work/game/zobra" 2>/dev/null &
    game_pid=$!
    local window
    window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Zobra$' | head -1) || true
    if [ -z "$window" ] || ! xdotool windowmove "$window" 0 0 windowsize "$window" "$width" "$height" ||
        { [ $# -gt 0 ] && ! { sleep 1 && xdotool windowfocus --sync "$window" key --delay 60 "$@"; }; }; then
        echo "$scene ${width}x$height: the window could not be found or driven" >&2
        kill "$game_pid" 2>/dev/null
        wait "$game_pid" 2>/dev/null || true
        game_pid=""
        return
    fi
    sleep 2

    local before main_before wakes_before frames after main_after wakes_after rss
    before=$(cpu_ticks "/proc/$game_pid/stat")
    main_before=$(cpu_ticks "/proc/$game_pid/task/$game_pid/stat")
    wakes_before=$(wakeups "$game_pid")
    frames=$("$probe" frames "$window" "$seconds")
    after=$(cpu_ticks "/proc/$game_pid/stat")
    main_after=$(cpu_ticks "/proc/$game_pid/task/$game_pid/stat")
    wakes_after=$(wakeups "$game_pid")
    rss=$(awk '/^VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$game_pid/status")
    kill "$game_pid"
    wait "$game_pid" 2>/dev/null || true
    game_pid=""
    awk -v s="$scene" -v w="$width" -v h="$height" -v t="$ticks" -v d="$seconds" \
        -v c=$((after - before)) -v m=$((main_after - main_before)) -v r="$rss" -v f="$frames" \
        -v k=$((wakes_after - wakes_before)) \
        'BEGIN { printf "%-6s %4dx%-4d  cpu %5.2f %%  main %5.2f %%  rss %5.1f MB  wake-ups/s %3.0f  %s\n",
                 s, w, h, 100 * c / t / d, 100 * m / t / d, r, k / d, f }'
}

echo "scenes, $seconds s each (cpu in per cent of one core):"
for size in ${SIZES:-960x600 1920x1080}; do
    for scene in ${SCENES:-title play duel}; do
        # shellcheck disable=SC2086
        case $scene in
            title) measure title Solo ${size/x/ } ;;
            play) measure play Solo ${size/x/ } Return ;;
            duel) measure duel DuelSolo ${size/x/ } Return ;;
        esac
    done
done
