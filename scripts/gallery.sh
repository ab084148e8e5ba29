#!/usr/bin/env bash
# Paints the launcher's window into PNGs with the real painter and the real
# built-in pictures: every phase at 1040 x 640, and a few at 144 DPI,
# 900 x 560 and 1920 x 1080. They land in build/gallery/; with --docs the
# README's few are copied to docs/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target TVLGallery
out="$PWD/build/gallery"
rm -rf "$out"
mkdir -p "$out"
scripts/wine-run.sh "$PWD/build/windows/wineprefix" build/windows/TVLGallery.exe \
    "Z:${out//\//\\}" "Z:$(pwd | sed 's#/#\\#g')\\tools\\gallery_avatar.png" | tr -d '\r'
if [ "${1:-}" = "--docs" ]; then
    mkdir -p docs/gallery
    for name in ready downloading server-error notes-scrolled verifying; do cp "$out/$name.png" docs/gallery/; done
fi
