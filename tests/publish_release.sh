#!/usr/bin/env bash
# The release a signed publish writes, checked without the tool's own code:
# its lines and their order, its signature by openssl, every object it names
# by sha256sum and sha1sum, the served files as hard links to the objects;
# refresh and launcher sign it again; objects no release names go only
# after a day (the record of when they stopped being named is backdated).
set -euo pipefail
tools="$(cd "$(dirname "$0")/.." && pwd)/tools"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "publish release: $*" >&2; exit 1; }
tool() { python3 "$tools/tvl_publish.py" "$@"; }
build="$root/build" site="$root/site" key="$root/owner.key"
mkdir -p "$build/Paks"
head -c 70000 /dev/urandom > "$build/Paks/a.pak"
head -c 3000 /dev/urandom > "$build/Tervalon.exe"
printf 'Patch 4\r\n* Faster\r\n' > "$root/notes.txt"
printf '\x89PNG\r\n\x1a\nnot really' > "$root/banner.png"
tool keygen "$key" >/dev/null
openssl pkey -in "$key" -pubout -out "$root/public.pem" 2>/dev/null
tool publish "$build" --site "$site" --version 4 --sign "$key" --host play.example.net \
    --notes "$root/notes.txt" --banner "$root/banner.png" >/dev/null
release="$site/launcher/release"

# Lines in their order, one spelling each.
hex64='[0-9a-f]{64}'
grep -Pzq "^tvl-release 1\nhost play\.example\.net\nversion 4\nexpires [1-9][0-9]*\nmanifest $hex64 [1-9][0-9]*\nnotes $hex64 [0-9]+\nbanner $hex64 [1-9][0-9]*\nsig [A-Za-z0-9+/]{86}==\n\$" "$release" ||
    fail "not the release format: $(cat "$release")"
expires=$(sed -n 's/^expires //p' "$release")
days=$(( (expires - $(date +%s)) / 86400 ))
[ "$days" -ge 29 ] && [ "$days" -le 30 ] || fail "expires in $days days, not 30"

# openssl checks the signature over every byte before the sig line.
verify_with_openssl() {
    local file="${1:-$release}"
    head -n -1 "$file" > "$root/signed"
    sed -n 's/^sig //p' "$file" | base64 -d > "$root/rs"
    python3 - "$root/rs" "$root/sig.der" <<'PY'
import sys
rs = open(sys.argv[1], "rb").read()
def integer(b):
    b = b.lstrip(b"\0") or b"\0"
    b = b"\0" + b if b[0] & 0x80 else b
    return b"\x02" + bytes([len(b)]) + b
body = integer(rs[:32]) + integer(rs[32:])
open(sys.argv[2], "wb").write(b"\x30" + bytes([len(body)]) + body)
PY
    openssl dgst -sha256 -verify "$root/public.pem" -signature "$root/sig.der" "$root/signed" >/dev/null
}
verify_with_openssl || fail "openssl does not verify the release"
cp "$release" "$root/release.good"
sed -i 's/^version 4$/version 5/' "$release"
verify_with_openssl && fail "openssl verified a changed release"
cp "$root/release.good" "$release"

# Every object is its hash; served files are the same inode as their object.
object() { echo "$site/launcher/o/$1"; }
for name in manifest notes banner; do
    read -r digest size < <(sed -n "s/^$name //p" "$release")
    [ "$(sha256sum < "$(object "$digest")" | cut -d' ' -f1)" = "$digest" ] || fail "the $name object is not its hash"
    [ "$(stat -c %s "$(object "$digest")")" = "$size" ] || fail "the $name object is not its size"
done
notes=$(sed -n 's/^notes \([0-9a-f]*\) .*/\1/p' "$release")
[ "$(cat "$(object "$notes")")" = $'Patch 4\n* Faster' ] || fail "the notes object is not the notes with LF ends"
cmp -s "$(object "$(sed -n 's/^manifest \([0-9a-f]*\) .*/\1/p' "$release")")" "$site/launcher/manifest" ||
    fail "the manifest object is not the served manifest"
for rel in Paks/a.pak Tervalon.exe; do
    sha1=$(sha1sum < "$build/$rel" | cut -d' ' -f1)
    [ "$(stat -c %i "$(object "$sha1")")" = "$(stat -c %i "$site/files/$rel")" ] || fail "files/$rel is not its object"
done
out=$(tool verify --site "$site" --key "$key")
grep -q "^release: version 4 for play.example.net, signed" <<<"$out" || fail "verify did not check the release: $out"

# refresh signs again with a new expiry; launcher adds its line; both verify.
tool refresh --site "$site" --sign "$key" --expires 2 >/dev/null
[ $(( ($(sed -n 's/^expires //p' "$release") - $(date +%s)) / 86400 )) -le 2 ] || fail "refresh kept the old expiry"
verify_with_openssl || fail "openssl does not verify the refreshed release"
printf 'MZ a launcher' > "$root/TVLLauncher.exe"
tool launcher "$root/TVLLauncher.exe" --site "$site" --sign "$key" --version 3 >/dev/null
grep -q "^launcher 3 $(sha256sum < "$root/TVLLauncher.exe" | cut -d' ' -f1) 13$" "$release" ||
    fail "no launcher line: $(cat "$release")"
verify_with_openssl || fail "openssl does not verify the release with its launcher line"
other="$root/other.key"
tool keygen "$other" >/dev/null
tool refresh --site "$site" --sign "$other" >/dev/null 2>&1 && fail "refresh signed a release of another key"

# Mirrors go into release2, the same release in format 2; the release older
# launchers read keeps format 1. refresh keeps them; --no-mirrors drops them.
release2="$site/launcher/release2"
for bad in http://m.example.net https://m.example.net/ https://M.example.net https://m.example.net/a/../b \
           "https://m.example.net/a b" https://m.example.net:99999; do
    tool publish "$build" --site "$site" --sign "$key" --host play.example.net --mirror "$bad" >/dev/null 2>&1 &&
        fail "a publish took the mirror $bad"
done
[ ! -e "$release2" ] || fail "a refused mirror left a release2"
tool publish "$build" --site "$site" --sign "$key" --host play.example.net --version 5 \
    --mirror https://m.example.net --mirror https://10.0.0.7:8443/tervalon >/dev/null
grep -q '^mirror' "$release" && fail "mirrors in the format 1 release: $(cat "$release")"
[ "$(tail -n +2 "$release" | head -n -1)" = "$(tail -n +2 "$release2" | grep -v '^mirror' | head -n -1)" ] ||
    fail "release2 is another release than release"
[ "$(head -1 "$release2"; grep '^mirror' "$release2")" = $'tvl-release 2\nmirror https://m.example.net\nmirror https://10.0.0.7:8443/tervalon' ] ||
    fail "release2 does not name the mirrors: $(cat "$release2")"
verify_with_openssl "$release2" || fail "openssl does not verify release2"
tool refresh --site "$site" --sign "$key" >/dev/null
grep -q '^mirror https://10.0.0.7:8443/tervalon$' "$release2" && verify_with_openssl "$release2" &&
    [ "$(sed -n 's/^expires //p' "$release")" = "$(sed -n 's/^expires //p' "$release2")" ] || fail "refresh lost the mirrors"
tool refresh --site "$site" --sign "$key" --no-mirrors >/dev/null
[ ! -e "$release2" ] || fail "--no-mirrors left release2"

# Objects no release names go a day after they stopped being named.
old_sha1=$(sha1sum < "$build/Paks/a.pak" | cut -d' ' -f1)
head -c 70000 /dev/urandom > "$build/Paks/a.pak"
tool publish "$build" --site "$site" --sign "$key" --host play.example.net >/dev/null
[ -f "$(object "$old_sha1")" ] || fail "an object went before a day had passed"
grep -q "^launcher 3 " "$release" || fail "a publish dropped the launcher line"
a_day_passes() {
    python3 - "$site/.publish-objects.json" <<'PY'
import json, sys
record = json.load(open(sys.argv[1]))
json.dump({name: since - 25 * 3600 for name, since in record.items()}, open(sys.argv[1], "w"))
PY
}
a_day_passes
tool publish "$build" --site "$site" --sign "$key" --host play.example.net >/dev/null
[ -f "$(object "$old_sha1")" ] || fail "the file of a release the next patches come from went"
tool publish "$build" --site "$site" --sign "$key" --host play.example.net --patch-releases 0 >/dev/null
a_day_passes
tool publish "$build" --site "$site" --sign "$key" --host play.example.net --patch-releases 0 >/dev/null
[ ! -e "$(object "$old_sha1")" ] || fail "an object no release names was kept past a day"
out=$(tool verify --site "$site" --key "$key")
grep -q "^release: version 9 " <<<"$out" || fail "the collected site no longer verifies: $out"

# A file that compresses gets its zst form: independent frames of 4 MiB of
# the file each, the frame table giving each frame's size, both named in the
# manifest by SHA-256. Random bytes (saving under 5 %) get none; a
# republish makes none again, whatever its level; --no-compress names none.
head -c 7000000 /dev/urandom | base64 -w 100 > "$build/Paks/text.pak"
tool publish "$build" --site "$site" --sign "$key" --host play.example.net --compress-level 3 >/dev/null
o="$site/launcher/o" text=$(sha1sum < "$build/Paks/text.pak" | cut -d' ' -f1)
line=$(grep "\"h\": \"$text\"" "$site/launcher/manifest")
field() { sed -n "s/.*\"$1\": \"*\([0-9a-f]*\).*/\1/p" <<<"$line"; }
[ "$(sha256sum < "$o/$text.zst" | cut -d' ' -f1)" = "$(field z)" ] && [ "$(stat -c %s "$o/$text.zst")" = "$(field zs)" ] &&
    [ "$(sha256sum < "$o/$text.frames" | cut -d' ' -f1)" = "$(field zf)" ] || fail "the zst form is not named: $line"
zstd -d -q -c "$o/$text.zst" | cmp -s - "$build/Paks/text.pak" || fail "the zst form is not the file"
python3 - "$o/$text.frames" "$o/$text.zst" "$build/Paks/text.pak" <<'PY' || fail "a frame is not its 4 MiB of the file"
import subprocess, sys
table, packed, whole = (open(name, "rb").read() for name in sys.argv[1:])
number = lambda at, width: int.from_bytes(table[at:at + width], "little")
step, count = number(36, 4), number(40, 4)
sizes = [number(44 + 4 * i, 4) for i in range(count)]
assert table[:8] == b"TVLZFR1\n" and number(28, 8) == len(whole) and step == 4 << 20
assert count == -(-len(whole) // step) == 3 and len(table) == 44 + 4 * count and sum(sizes) == len(packed)
at = 0
for i, size in enumerate(sizes):  # each frame alone, at the offset the table gives
    out = subprocess.run(["zstd", "-d", "-q", "-c"], input=packed[at:at + size], capture_output=True, check=True)
    assert out.stdout == whole[i * step:(i + 1) * step], i
    at += size
PY
grep "\"h\": \"$(sha1sum < "$build/Tervalon.exe" | cut -d' ' -f1)\"" "$site/launcher/manifest" | grep -q '"z"' &&
    fail "random bytes got a zst form"
inode=$(stat -c %i "$o/$text.zst")
out=$(tool publish "$build" --site "$site" --sign "$key" --host play.example.net --compress-level 19)
grep -q "compressed" <<<"$out" || [ "$(stat -c %i "$o/$text.zst")" != "$inode" ] && fail "a republish compressed again: $out"
tool publish "$build" --site "$site" --sign "$key" --host play.example.net --compress-level 23 >/dev/null 2>&1 &&
    fail "a publish took zstd level 23"
tool publish "$build" --site "$site" --sign "$key" --host play.example.net --no-compress >/dev/null
grep -q '"z":' "$site/launcher/manifest" && fail "--no-compress named zst forms"

# A file changed since the last release gets a patch from its old version,
# frames of 4 MiB of the new file each decoding with the old file as
# zstd --patch-from's reference, named by both SHA-1s and listed under "from";
# a republish makes none again.
old_text=$text
printf 'an edit' | dd of="$build/Paks/text.pak" bs=1 seek=5000000 conv=notrunc status=none
out=$(tool publish "$build" --site "$site" --sign "$key" --host play.example.net --compress-level 3)
text=$(sha1sum < "$build/Paks/text.pak" | cut -d' ' -f1)
patch="$o/$text-$old_text"
grep -q "made 1 patch" <<<"$out" || fail "no patch made: $out"
grep -q "\"from\": \[\[\"$old_text\", $(stat -c %s "$patch.zst"), \"$(sha256sum < "$patch.zst" | cut -d' ' -f1)\", \"$(sha256sum < "$patch.frames" | cut -d' ' -f1)\"\]\]" \
    "$site/launcher/manifest" || fail "the patch is not listed: $(grep "$text" "$site/launcher/manifest")"
zstd -d -q --patch-from="$o/$old_text" -c "$patch.zst" | cmp -s - "$build/Paks/text.pak" || fail "the patch does not make the file"
[ "$(stat -c %s "$patch.zst")" -lt 10000 ] || fail "a 7-byte edit made a patch of $(stat -c %s "$patch.zst") bytes"
out=$(tool publish "$build" --site "$site" --sign "$key" --host play.example.net)
grep -q "patch" <<<"$out" && fail "a republish made patches again: $out"
grep -q "\"from\": \[\[\"$old_text\"" "$site/launcher/manifest" || fail "a republish dropped the patch"

# An unsigned publish on a site with a release writes a new one for the same
# host, signed by no key players hold; files of the old signed documents go.
touch "$site/launcher/manifest.sig" "$site/launcher/self"
out=$(tool publish "$build" --site "$site" --version 8)
grep -q "writes a new one, not signed" <<<"$out" || fail "an unsigned publish kept the old release: $out"
grep -q "^version 8$" "$release" && grep -q "^host play.example.net$" "$release" || fail "no new release: $(cat "$release")"
verify_with_openssl && fail "an unsigned release verified under the owner's key"
[ ! -e "$site/launcher/manifest.sig" ] && [ ! -e "$site/launcher/self" ] || fail "the retired documents were kept"
tool launcher "$root/TVLLauncher.exe" --site "$site" --sign "$key" --version 9 >/dev/null 2>&1 &&
    fail "a launcher was published into a release not signed with the key"
echo "the release verifies with openssl, and its objects are their hashes"
