#!/bin/sh
# Prepares Debian's Emscripten for an offline build of the web page in the
# build folder given as the only argument (build-web by default):
#
#   FOLDER/emscripten/config   Emscripten's settings for this build alone
#   FOLDER/emscripten/cache    its libraries, copied from Debian's
#   FOLDER/emscripten/bin      emcc, em++, emar, emranlib, em-config, each
#                              running Debian's with these settings
#
# Debian's own settings freeze a read-only cache under /usr/share, and its
# JavaScript optimiser finds the acorn parser only on NODE_PATH. The page is
# built with the prebuilt C and C++ libraries and never with Emscripten's
# ports (they download their sources, and there is no network for that).
set -eu

folder=$(realpath -m "${1:-build-web}")
tools="$folder/emscripten"
debian_root=/usr/share/emscripten
debian_cache="$debian_root/cache"
llvm_root=/usr/lib/llvm-14/bin
node_modules=/usr/share/nodejs

for needed in "$debian_root/emcc.py" "$debian_cache/sysroot" "$llvm_root/clang" "$llvm_root/wasm-ld" \
    /usr/bin/wasm-opt "$node_modules/acorn"; do
    if [ ! -e "$needed" ]; then
        echo "web-toolchain.sh: $needed is missing (run scripts/install-deps.sh web)" >&2
        exit 1
    fi
done
node=$(command -v node) || {
    echo "web-toolchain.sh: no node on PATH (run scripts/install-deps.sh web)" >&2
    exit 1
}
node=$(realpath "$node")

mkdir -p "$tools/bin"

# Emscripten clears its cache whenever the settings file changes, and would
# then rebuild every library from source. So the settings are written only
# when they differ, and a change starts again from a fresh copy of Debian's
# cache, which has no record of earlier settings to compare with.
settings=$(cat <<SETTINGS
# Emscripten's settings for this build folder, written by scripts/web-toolchain.sh.
LLVM_ROOT = '$llvm_root'
BINARYEN_ROOT = '/usr'
NODE_JS = '$node'
CACHE = '$tools/cache'
FROZEN_CACHE = False
SETTINGS
)
if [ ! -f "$tools/config" ] || [ "$(cat "$tools/config")" != "$settings" ]; then
    rm -rf "$tools/cache"
    printf '%s\n' "$settings" >"$tools/config"
fi
if [ ! -f "$tools/cache/seeded" ]; then
    rm -rf "$tools/cache" "$tools/cache.new"
    cp -R "$debian_cache" "$tools/cache.new"
    touch "$tools/cache.new/seeded"
    mv "$tools/cache.new" "$tools/cache"
fi

for tool in emcc em++ emar emranlib em-config; do
    cat >"$tools/bin/$tool.new" <<WRAPPER
#!/bin/sh
# Debian's $tool with this build folder's Emscripten settings.
EM_CONFIG='$tools/config'
NODE_PATH='$node_modules'\${NODE_PATH:+:\$NODE_PATH}
export EM_CONFIG NODE_PATH
exec /usr/bin/$tool "\$@"
WRAPPER
    chmod +x "$tools/bin/$tool.new"
    mv "$tools/bin/$tool.new" "$tools/bin/$tool"
done
