#!/bin/sh
# The source checks behind `make lint`, quick enough to run before anything
# is built:
#
#   1. Every C++ file (*.cpp, *.h) in src, tests, bench, fuzz, tools and
#      scripts, whoever added it, is formatted as .clang-format says
#      (clang-format 14; `clang-format -i FILE` formats one).
#   2. clang-tidy 14 with the checks chosen in .clang-tidy finds nothing in
#      any source file of src/ that the desktop build compiles, nor in the
#      headers of src/ that they include. It reads the compile commands of
#      BUILD (configured here when needed), two files at a time by default.
#      The browser's own files in src/web, which need Emscripten's headers,
#      are listed as not checked.
#
#   lint.sh [BUILD [JOBS]]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=${2:-2}

format=clang-format-14
tidy=clang-tidy-14
run_tidy=run-clang-tidy-14

# The files, tracked or new (but not ignored), so that a file another
# branch brings is checked as soon as it is there.
sources() {
    git ls-files --cached --others --exclude-standard -- \
        'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' \
        'fuzz/*.cpp' 'fuzz/*.h' 'tools/*.cpp' 'tools/*.h' 'scripts/*.cpp' 'scripts/*.h' |
        sort -u | while read -r f; do [ -f "$f" ] && echo "$f"; done
}

echo "lint: clang-format"
if ! sources | xargs "$format" --dry-run --Werror; then
    echo "lint: the files above are not formatted; clang-format-14 -i FILE formats one" >&2
    exit 1
fi

echo "lint: clang-tidy ($jobs at a time)"
# Configuring again picks up source files added since build/ was made.
cmake -S . -B "$build" -G Ninja >/dev/null
unchecked=$(sources | grep '^src/.*\.cpp$' | while read -r f; do
    grep -q "\"file\": \"$PWD/$f\"" "$build/compile_commands.json" || echo "$f"
done)
if [ -n "$unchecked" ]; then
    echo "lint: not in the desktop build, so not checked by clang-tidy:" $unchecked
fi
start=$(date +%s)
if ! "$run_tidy" -clang-tidy-binary="$(command -v "$tidy")" -p "$build" -j "$jobs" -quiet \
    -header-filter="^$PWD/src/" "^$PWD/src/" >"$build/clang-tidy.log" 2>&1; then
    grep -v -e '^clang-tidy-14 ' -e 'warnings generated' -e '^Suppressed ' \
        -e '^Use -header-filter' -e 'in non-user code' "$build/clang-tidy.log" >&2 || true
    echo "lint: clang-tidy found the problems above (all of it: $build/clang-tidy.log)" >&2
    exit 1
fi
echo "lint: clean, clang-tidy took $(($(date +%s) - start)) s"
