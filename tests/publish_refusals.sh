#!/usr/bin/env bash
# The publishing tool refuses a tree that players' launchers would refuse,
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
echo "refused as expected"
