#!/usr/bin/env bash
# The main job: builds qex, archives a folder, extracts it into an empty
# folder elsewhere and compares the two trees: names, contents, and
# symbolic links by their targets (links are stored as links, not followed,
# so a link that leads out of the tree is compared as a link too).
# usage: scripts/roundtrip.sh [FOLDER]   (default /usr/include)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(realpath "${1:-/usr/include}")
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target qex >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/out"
./build/qex a "$work/tree.qex" "$src"
./build/qex x "$work/tree.qex" "$work/out"
diff -r --no-dereference "$src" "$work/out/$(basename "$src")"
echo "round trip of $src: identical ($(du -sb "$src" | cut -f1) bytes -> $(stat -c %s "$work/tree.qex") bytes)"
