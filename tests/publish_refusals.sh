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

# ---- signing: the key never reaches players, and versions never go back ----
build="$root/signed-build" site="$root/signed-site" key="$root/owner.key"
mkdir -p "$build/Config"
head -c 5000 /dev/urandom > "$build/Tervalon.pak"
python3 "$tools/tvl_publish.py" keygen "$key" >/dev/null
publish() { python3 "$tools/tvl_publish.py" publish "$build" --site "$site" --host launcher.example.net "$@"; }
publish --version 4 --sign "$key" >/dev/null
snapshot() { (cd "$site" && find . -path ./.publish-lock -prune -o -type f -print0 | sort -z | xargs -0 sha1sum); }
before=$(snapshot)
refused() {  # refused EXPECTED ARGS...: a one-line refusal naming EXPECTED, and the site as it was
    local out
    if out=$(publish "${@:2}" 2>&1); then echo "published despite: ${*:2}"; exit 1; fi
    grep -qF "$1" <<<"$out" || { echo "no '$1' for ${*:2}: $out"; exit 1; }
    [ "$(snapshot)" = "$before" ] || { echo "the site changed after refusing ${*:2}"; exit 1; }
}
one_line() { [ "$(publish "$@" 2>&1 | wc -l)" = 1 ] || { echo "more than one line for $*"; exit 1; }; }
for v in 0 2147483648 3000000000 -1 2.5 abc ""; do
    refused "is not a whole number from 1 to 2147483647" --version "$v" --sign "$key"
    refused "is not a whole number from 1 to 2147483647" --version "$v"
    one_line --version "$v"
done
refused "version 2 is not higher than version 4 on the site" --version 2 --sign "$key"
refused "version 4 is not higher than version 4 on the site" --version 4 --sign "$key"
one_line --version 4 --sign "$key"
cp "$key" "$build/owner.key"
refused "lies inside the build" --sign "$build/owner.key"
rm "$build/owner.key"
cp "$key" "$site/owner.key"
before=$(snapshot)
refused "lies inside the site" --sign "$site/owner.key"
rm "$site/owner.key"
before=$(snapshot)
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$build/Config/server.pem" 2>/dev/null
{ echo "notes first"; openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 2>/dev/null; } > "$build/Config/tls.txt"
out=$(publish --sign "$key" 2>&1) && { echo "a build with private keys was signed"; exit 1; }
for name in "Config/server.pem: looks like a PEM private key" "Config/tls.txt: looks like a PEM private key"; do
    grep -qF "$name" <<<"$out" || { echo "not listed: $name in: $out"; exit 1; }
done
[ "$(snapshot)" = "$before" ] || { echo "the site changed after refusing private keys"; exit 1; }
rm "$build/Config/server.pem" "$build/Config/tls.txt"
# The next signed version follows the signed manifest, even with launcher/info gone.
rm "$site/launcher/info"
publish --sign "$key" | grep -q "^published version 5:" || { echo "a signed publish without info restarted its versions"; exit 1; }
echo "signing refusals as expected"
