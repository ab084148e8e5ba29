#!/usr/bin/env bash
# The publishing tool refuses a tree the launcher would refuse, names every
# offending file with its reason, and writes nothing.
set -euo pipefail
tool="$(cd "$(dirname "$0")/.." && pwd)/tools/make_server_documents.py"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/files/Data" "$root/files/data" "$root/files/Engine"
touch "$root/files/Data/a.bin" "$root/files/data/A.bin" "$root/files/x.bin." "$root/files/Engine/NUL" \
      "$root/files/Engine/com1.pak" "$root/files/ok.txt" "$root/files/ok.txt.part" "$root/files/q?.txt" \
      "$root/files/"$'Stra\xc3\x9fe.txt' "$root/files/STRASSE.txt"
if out=$(python3 "$tool" --root "$root" --version 2 2>&1); then echo "published a bad tree"; exit 1; fi
for expected in "Data/a.bin: the same file on Windows as 'data/A.bin'" "data/A.bin: the same file" \
    "x.bin.: a name ending in a dot" "Engine/NUL: 'NUL' is a device name" "Engine/com1.pak: 'com1' is a device name" \
    "ok.txt.part: it would be the download file of 'ok.txt'" "q?.txt: the characters '?'"; do
    grep -qF "$expected" <<<"$out" || { echo "missing: $expected"; echo "$out"; exit 1; }
done
if grep -q "STRASSE" <<<"$out"; then echo "a different name was reported as the same file"; echo "$out"; exit 1; fi
[ ! -e "$root/manifest.json" ] && [ ! -e "$root/info.json" ] || { echo "wrote documents for a refused tree"; exit 1; }
echo "refused as expected"
