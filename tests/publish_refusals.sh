#!/usr/bin/env bash
# The publishing tools refuse a tree that players' launchers would refuse,
# name every offending file with its reason, and write nothing.
set -euo pipefail
tools="$(cd "$(dirname "$0")/.." && pwd)/tools"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
build="$root/build"
mkdir -p "$build/Data" "$build/data" "$build/Engine"
touch "$build/Data/a.bin" "$build/data/A.bin" "$build/x.bin." "$build/Engine/NUL" "$build/Engine/com1.pak" \
      "$build/ok.txt" "$build/ok.txt.part" "$build/q?.txt" "$build/"$'Stra\xc3\x9fe.txt' "$build/STRASSE.txt"
check() {  # check NAME COMMAND... : refused, every file named, nothing written
    local out
    if out=$("${@:2}" 2>&1); then echo "$1 published a bad tree"; exit 1; fi
    for expected in "Data/a.bin: the same file on Windows as 'data/A.bin'" "data/A.bin: the same file" \
        "x.bin.: a name ending in a dot" "Engine/NUL: 'NUL' is a device name" \
        "Engine/com1.pak: 'com1' is a device name" "ok.txt.part: it would be the download file of 'ok.txt'" \
        "q?.txt: the characters '?'"; do
        grep -qF "$expected" <<<"$out" || { echo "$1 missed: $expected"; echo "$out"; exit 1; }
    done
    if grep -q "STRASSE" <<<"$out"; then echo "$1 took a different name for the same file"; exit 1; fi
}
check tvl_publish python3 "$tools/tvl_publish.py" publish "$build" --site "$root/site"
[ ! -e "$root/site/launcher" ] && [ ! -e "$root/site/files" ] || { echo "tvl_publish wrote a refused build"; exit 1; }
mkdir -p "$root/test-server"
mv "$build" "$root/test-server/files"
check make_server_documents python3 "$tools/make_server_documents.py" --root "$root/test-server" --version 2
[ ! -e "$root/test-server/manifest.json" ] || { echo "make_server_documents wrote a refused tree"; exit 1; }
echo "refused as expected"
