#!/usr/bin/env bash
# Patches that move only what changed, with the real parts: the publish tool
# writing block maps, Debian's stock nginx with the shipped config answering
# several ranges in one request, and TVLHeadless updating installed games.
# Each kind of change installs byte for byte; small edits cost their
# sub-blocks (the fine map); a kill -9 mid-delta resumes; a
# map that lies ends in one verified whole download (in one answer or in segments).
#   delta_story.sh BUILD_DIR STATE_DIR ADDRESS
source "$(dirname "$0")/support/nginx_story_env.sh" "delta story" "$@"

build="$state/build" app="$state/app"
rm -rf "$build" "$app" "$state/nginx"
mkdir -p "$build/Paks" "$app"
cp "$build_dir/TVLHeadless.exe" "$app/"
printf 'server=%s\r\n' "$address" > "$app/TVLLauncher.ini"
headless_pid=""
trap 'kill -9 ${headless_pid:-} 2>/dev/null || true; nginx_ctl stop "$state/nginx"; rm -rf "$site_root"' EXIT
headless() { "$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" "$@" | tr -d '\r'; }
installed_matches() { (cd "$build" && find . -type f | while read -r f; do cmp -s "$f" "$game/$f" || exit 1; done); }
# Patches are off until their own step: the steps before it show the block-map delta.
patch_releases=0
publish() { tool publish "$build" --site "$site" --host "$address" --patch-releases "$patch_releases" >/dev/null; }
log_since() { tail -n +"$(($1 + 1))" "$state/nginx/access.log"; }
requests() { wc -l < "$state/nginx/access.log"; }
delta_line() { grep "^Delta: Paks/$1: " <<<"$2" || fail "no delta line for $1 in: $2"; }
figure() { sed -n "s/.* $1 \([0-9]*\) bytes.*/\1/p" <<<"$2"; }
random_file() { head -c "$2" /dev/urandom > "$1"; }

echo "--- version 1 installs whole (at ${SECONDS}s)"
python3 "$repo/tests/support/pak_pair.py" "$build/Paks/shifted.pak" "$state/shifted.v2" --mib 40 --seed 5 >/dev/null
random_file "$build/Paks/truncated.pak" 9000000
random_file "$build/Paks/other.pak" 6000000
python3 - "$build/Paks/zeros.pak" <<'PY'
import os, sys
# A file of mostly padding: a few entries among megabytes of zeros.
with open(sys.argv[1], "wb") as f:
    for i in range(6):
        f.write(bytes(1 << 20))
        f.write(os.urandom(5000 + i))
PY
head -c 30000 /dev/urandom > "$build/Tervalon.exe"
publish
[ -f "$site/launcher/o/$(sha1sum < "$build/Paks/shifted.pak" | cut -d' ' -f1).map" ] || fail "no map for a large file"
[ ! -e "$site/launcher/o/$(sha1sum < "$build/Tervalon.exe" | cut -d' ' -f1).map" ] || fail "a map for a small file"
[ -f "$site/launcher/o/$(sha1sum < "$build/Paks/shifted.pak" | cut -d' ' -f1).fine" ] || fail "no fine map for a large file"
nginx_ctl start "$state/nginx" "$address" "$site"
rm -rf "$data"
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "install: $out"
installed_matches || fail "version 1 differs"
grep -q '^Delta:' <<<"$out" && fail "a fresh install used a delta: $out"

echo "--- inserts, removals, in-place changes, a truncated copy, nothing in common, zero padding (at ${SECONDS}s)"
cp "$state/shifted.v2" "$build/Paks/shifted.pak"
python3 - "$build/Paks/truncated.pak" "$build/Paks/zeros.pak" <<'PY'
import os, sys
t = bytearray(open(sys.argv[1], "rb").read())
t[4000000:4000000] = os.urandom(777)       # an insert mid-file
t[100:200] = os.urandom(100)               # a change in place
open(sys.argv[1], "wb").write(bytes(t) + os.urandom(12345))  # appended data
z = open(sys.argv[2], "rb").read()
open(sys.argv[2], "wb").write(z[3 << 20:] + z[:3 << 20])     # reordered halves
PY
truncate -s 3000000 "$game/Paks/truncated.pak"  # the installed copy lost its tail
random_file "$build/Paks/other.pak" 6000000
publish
before=$(requests)
out=$(headless --press-update --exit-on-ready --timeout 180) || fail "update: $out"
installed_matches || fail "the delta update differs from the build"
echo "$out" | grep '^Delta:'
shifted=$(delta_line shifted.pak "$out")
size=$(stat -c %s "$build/Paks/shifted.pak")
[ "$(figure fetched "$shifted")" -lt $((size / 10)) ] || fail "shifted.pak fetched too much: $shifted"
[[ "$shifted" == *", 3 request(s)" ]] || fail "shifted.pak took more than its map, its last byte and one request of ranges: $shifted"
# Nothing of other.pak is installed anywhere: no false match, and a plain download, not a delta.
if other=$(grep "^Delta: Paks/other.pak: " <<<"$out"); then fail "other.pak came as a delta of nothing: $other"; fi
zeros=$(delta_line zeros.pak "$out")
[ "$(figure fetched "$zeros")" -lt 200000 ] || fail "zeros.pak fetched too much: $zeros"
log_since "$before" | grep -q "^/launcher/o/[0-9a-f]\{40\} 206 bytes=[0-9-]*,[0-9]" || fail "no multi-range request reached nginx"

echo "--- a kill -9 in the middle of a delta resumes from the part file (at ${SECONDS}s)"
python3 "$repo/tests/support/pak_pair.py" "$state/unused" "$build/Paks/shifted.pak" --mib 40 --seed 5 --replaced 30 >/dev/null
publish
nginx_ctl start "$state/nginx" "$address" "$site" 2m
part="$game/Paks/shifted.pak.part"
"$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" --press-update --timeout 120 >/dev/null 2>&1 &
headless_pid=$!
for _ in $(seq 600); do [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -gt 3000000 ] && break; sleep 0.1; done
pkill -9 -f "delta_story.app.TVLHeadless" 2>/dev/null || true
kill -9 "$headless_pid" 2>/dev/null || true
wait "$headless_pid" 2>/dev/null || true
headless_pid=""
have=$(stat -c %s "$part" 2>/dev/null || echo 0)
[ "$have" -gt 0 ] && [ "$have" -lt "$(stat -c %s "$build/Paks/shifted.pak")" ] || fail "no part file mid-way ($have bytes)"
cmp -s -n "$have" "$part" "$build/Paks/shifted.pak" || fail "the part file is not a prefix of the new file"
nginx_ctl start "$state/nginx" "$address" "$site"
out=$(headless --press-update --exit-on-ready --timeout 180) || fail "resume: $out"
installed_matches || fail "the resumed delta differs"
echo "killed at $have bytes: $(delta_line shifted.pak "$out")"

echo "--- an origin of one range per request (as object storage): single ranges, learned and remembered (at ${SECONDS}s)"
python3 "$repo/tests/support/pak_pair.py" "$state/unused" "$build/Paks/shifted.pak" --mib 40 --seed 5 --replaced 10 >/dev/null
publish
TVL_NGINX_MAX_RANGES=1 nginx_ctl start "$state/nginx" "$address" "$site"
object_bytes() { log_since "$1" | grep "^/launcher/o/$2 " | awk '{ b += $NF } END { print b + 0 }'; }
sha1=$(sha1sum < "$build/Paks/shifted.pak" | cut -d' ' -f1)
size=$(stat -c %s "$build/Paks/shifted.pak")
before=$(requests)
out=$(headless --press-update --exit-on-ready --timeout 180) || fail "one range per request: $out"
installed_matches || fail "the update through one range per request differs"
sent=$(object_bytes "$before" "$sha1")
fetched=$(figure fetched "$(delta_line shifted.pak "$out")")
echo "$(delta_line shifted.pak "$out"); nginx sent ${sent} bytes of ${size}"
# What nginx sent is what the delta used, and headers: no whole file begun and dropped.
[ "$sent" -le $((fetched + fetched / 20 + 50000)) ] && [ "$sent" -lt $((size / 2)) ] ||
    fail "one range per request cost $sent bytes for $fetched used: $(log_since "$before")"
grep -q "^$address " "$data/range_hosts.txt" || fail "the host was not remembered: $(cat "$data/range_hosts.txt" 2>&1)"
# The next start asks one range a request from the outset, even of an origin that would take more.
python3 "$repo/tests/support/pak_pair.py" "$state/unused" "$build/Paks/shifted.pak" --mib 40 --seed 5 --replaced 20 >/dev/null
publish
nginx_ctl start "$state/nginx" "$address" "$site"
before=$(requests)
out=$(headless --press-update --exit-on-ready --timeout 180) || fail "the next start: $out"
installed_matches || fail "the next start's update differs"
log_since "$before" | grep -q "^/launcher/o/[0-9a-f]* 206 bytes=[0-9-]*," && fail "several ranges asked again: $(log_since "$before")"

echo "--- small edits in place cost about what changed, through the publish tool's fine map (at ${SECONDS}s)"
python3 - "$build/Paks/shifted.pak" <<'PY'
import random, sys
d = bytearray(open(sys.argv[1], "rb").read())
rng = random.Random(30)
for at in range(100000, len(d) - 100, len(d) // 30):
    d[at:at + 100] = rng.randbytes(100)
open(sys.argv[1], "wb").write(d)
PY
publish
[ -f "$site/launcher/o/$(sha1sum < "$build/Paks/shifted.pak" | cut -d' ' -f1).fine" ] || fail "no fine map for a large file"
out=$(headless --press-update --exit-on-ready --timeout 180) || fail "small edits: $out"
installed_matches || fail "the small edits' update differs"
edits=$(delta_line shifted.pak "$out")
echo "30 edits of 100 bytes: $edits"
[ "$(figure fetched "$edits")" -lt 40000 ] || fail "small edits cost whole blocks: $edits"  # 30 blocks of 4 KiB: 122880

echo "--- every installed file a seed: entries moved between paks, a pak renamed, a patch pak folded in (at ${SECONDS}s)"
python3 - "$build/Paks" "$state/moved" <<'PY'
import os, random, sys
paks, later = sys.argv[1:]
os.makedirs(later, exist_ok=True)
rng = random.Random(7)
def entries(n):
    return [rng.randbytes(rng.randrange(20000, 400000)) for _ in range(n)]
def pak(parts):
    return b"".join(p + bytes(-len(p) % 2048) for p in parts)  # padded to 2 KiB, as UE's paks
a, b = entries(40), entries(30)
fixes = {4: rng.randbytes(len(a[4])), 10: rng.randbytes(len(a[10]))}
open(f"{paks}/a.pak", "wb").write(pak(a))
open(f"{paks}/b.pak", "wb").write(pak(b))
open(f"{paks}/a_P.pak", "wb").write(pak(fixes.values()))
# Later: a third of a's entries move into b, b gains one new entry, and the
# patch pak's entries are folded into a.
a2 = [fixes.get(i, e) for i, e in enumerate(a) if i % 3]
b2 = b + [e for i, e in enumerate(a) if i % 3 == 0 and i not in fixes] + [rng.randbytes(100000)]
open(f"{later}/a.pak", "wb").write(pak(a2))
open(f"{later}/b.pak", "wb").write(pak(b2))
PY
publish
out=$(headless --press-update --exit-on-ready --timeout 180) || fail "installing a.pak, b.pak and a_P.pak: $out"
installed_matches || fail "the new paks differ"
cp "$state/moved/a.pak" "$state/moved/b.pak" "$build/Paks/"
mv "$build/Paks/other.pak" "$build/Paks/renamed.pak"
rm "$build/Paks/a_P.pak"
publish
new_bytes=100000
seed_bytes=$(stat -c %s "$game/Paks/a.pak" "$game/Paks/b.pak" "$game/Paks/a_P.pak" "$game/Paks/other.pak" | paste -sd+ | bc)
nginx_ctl start "$state/nginx" "$address" "$site" 1m  # slowed, so a kill lands mid-delta
"$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" --press-update --timeout 120 2>/dev/null |
    tr -d '\r' > "$state/killed.out" &
headless_pid=$!
parts() { find "$game/Paks" -name '*.part' -size +0 | wc -l; }
# The kill lands in b.pak's delta: a.pak is built and waits beside its old
# copy, which b.pak still copies from.
for _ in $(seq 600); do [ -s "$game/Paks/b.pak.part" ] && break; sleep 0.1; done
pkill -9 -f "delta_story.app.TVLHeadless" 2>/dev/null || true
wait "$headless_pid" 2>/dev/null || true
headless_pid=""
[ "$(parts)" -gt 0 ] || fail "no part file to kill the delta in"
# Every part file the kill left is a prefix of its new file (a whole one waits to move in).
for part in "$game"/Paks/*.part; do
    new="$build/Paks/$(basename "$part" .part)"
    cmp -s -n "$(stat -c %s "$part")" "$part" "$new" || fail "$(basename "$part") is not a prefix of its new file"
done
nginx_ctl start "$state/nginx" "$address" "$site"
before=$(requests)
out=$(headless --press-update --exit-on-ready --timeout 180) || fail "moved entries, after a kill: $out"
installed_matches || fail "moved entries, a renamed pak, a folded patch pak: the files differ"
echo "$out" | grep '^Delta:'
# A file the kill left whole was built before it: its line is the killed run's.
both="$(cat "$state/killed.out")"$'\n'"$out"
grep -q "^Delta: Paks/b.pak: .*from Paks/a.pak" <<<"$both" || fail "b.pak took nothing from a.pak: $both"
grep -q "^Delta: Paks/renamed.pak: .*from Paks/other.pak" <<<"$both" || fail "renamed.pak took nothing from other.pak: $both"
grep -q "^Delta: Paks/a.pak: .*from Paks/a_P.pak" <<<"$both" || fail "a.pak took nothing from a_P.pak: $both"
sent=$(log_since "$before" | grep '^/launcher/o/' | awk '{ b += $NF } END { print b + 0 }')
echo "after the kill: ${sent} bytes over the wire (new bytes ${new_bytes}, maps and headers included); the restart read the ${seed_bytes} bytes of the 4 seeds once"
[ "$sent" -lt $((new_bytes * 3)) ] || fail "moved content cost ${sent} bytes: $(log_since "$before")"

echo "--- a map that lies ends in one verified whole download (at ${SECONDS}s)"
python3 -c "import os, sys; d = bytearray(open(sys.argv[1], 'rb').read()); d[5000000] ^= 1; open(sys.argv[1], 'wb').write(d)" \
    "$build/Paks/shifted.pak"
publish
sha1=$(sha1sum < "$build/Paks/shifted.pak" | cut -d' ' -f1)
python3 - "$site/launcher/o/$sha1.map" "$game/Paks/shifted.pak" "$sha1" <<PY
import sys
sys.path.insert(0, "$repo/tools")
import publisher.objects as t
path, other, sha1 = sys.argv[1:]
data = open(other, "rb").read()
size = len(open(path.replace(".map", ""), "rb").read())
data = (data + bytes(size))[:size]  # the installed bytes, described as if they were the new file
m = t.BlockMapper(size)
for at in range(0, size, 1 << 20):
    m.add(data[at:at + (1 << 20)])
open(path, "wb").write(m.finish(sha1))
PY
before=$(requests)
out=$(headless --press-update --exit-on-ready --timeout 180) || fail "a lying map: $out"
installed_matches || fail "a lying map left a wrong file"
# The lying map leaves nothing to fetch; the whole download that follows,
# in one answer or in segments, brings every byte once.
size=$(stat -c %s "$build/Paks/shifted.pak")
whole=$(log_since "$before" | awk -v o="/launcher/o/$sha1" -v size="$size" '
    $1 == o && $2 == 200 && $3 == "-" { n += size }
    $1 == o && $2 == 206 { split(substr($3, 7), r, "-"); n += r[2] - r[1] + 1 }
    END { print n / size }')
[ "$whole" = 1 ] || fail "not exactly one whole download after the lying map ($whole): $(log_since "$before")"

echo "--- new files come as their zst forms; a form missing, wrong or lying falls back to the file as it is (at ${SECONDS}s)"
text_file() { head -c "$2" /dev/urandom | base64 -w 100 > "$1"; }  # compresses to about 3/4
text_file "$build/Paks/text.pak" 7500000    # 10 MB: three frames
text_file "$build/Paks/missing.ini" 300000  # one frame each
text_file "$build/Paks/wrong.ini" 300000
text_file "$build/Paks/twin.ini" 300000
text_file "$build/Paks/lying.pak" 7000000
publish
obj() { echo "$site/launcher/o/$(sha1sum < "$build/Paks/$1" | cut -d' ' -f1)${2:-}"; }
rm "$(obj missing.ini .zst)"
cp "$(obj twin.ini .zst)" "$(obj wrong.ini .zst)"  # a whole zst form, of another file of its size
printf 'TVLZFR1\n' | dd of="$(obj lying.pak .frames)" bs=1 seek=60 conv=notrunc status=none
before=$(requests)
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "the zst forms: $out"
installed_matches || fail "a file from its zst form differs"
served() { log_since "$before" | awk -v o="${1#"$site"}" '$1 == o { n += $NF } END { print n + 0 }'; }
raw=$(stat -c %s "$build/Paks/text.pak")
[ "$(served "$(obj text.pak)")" = 0 ] && [ "$(served "$(obj text.pak .zst)")" -lt $((raw * 4 / 5)) ] ||
    fail "text.pak did not come as its zst form: $(log_since "$before" | grep "$(basename "$(obj text.pak)")")"
for f in missing.ini wrong.ini lying.pak; do
    [ "$(served "$(obj "$f")")" -ge "$(stat -c %s "$build/Paks/$f")" ] || fail "$f did not come as it is: $(log_since "$before")"
done
grep -c "its zst form is not used" "$data/launcher.log" | grep -qx 3 || fail "the refused forms are not logged: $(grep zst "$data/launcher.log")"
echo "text.pak: $(served "$(obj text.pak .zst)") bytes of its zst form for $raw bytes"

echo "--- a part file resumes at the frame holding its end (at ${SECONDS}s)"
text_file "$build/Paks/text.pak" 7500000
publish
# resumes_at_frame1 FORM: text.pak's part file holds 5 MB; the form (its
# .zst, beside its .frames) is asked from its frame 1 on.
resumes_at_frame1() {
    head -c 5000000 "$build/Paks/text.pak" > "$game/Paks/text.pak.part"
    local frame1 before out
    frame1=$(python3 -c "import sys; t = open(sys.argv[1], 'rb').read(); print(int.from_bytes(t[44:48], 'little'))" \
        "${1%.zst}.frames")
    before=$(requests)
    out=$(headless --press-update --exit-on-ready --timeout 120) || fail "the resume from $(basename "$1"): $out"
    installed_matches || fail "the file resumed from $(basename "$1") differs"
    log_since "$before" | grep -q "^/launcher/o/$(basename "$1") 206 bytes=$frame1-" ||
        fail "no resume of $(basename "$1") at frame 1 ($frame1): $(log_since "$before")"
}
resumes_at_frame1 "$(obj text.pak .zst)"

echo "--- changed files come as patches from the installed version; a patch missing or over a changed copy falls back (at ${SECONDS}s)"
patch_releases=3
publish  # remembered: the next publish makes patches from these files
edit() {  # 40 bytes changed at each offset given
    python3 -c "import os, sys; d = bytearray(open(sys.argv[1], 'rb').read())
for at in sys.argv[2:]: d[int(at):int(at) + 40] = os.urandom(40)
open(sys.argv[1], 'wb').write(d)" "$@"
}
declare -A old
for f in text.pak wrong.ini missing.ini twin.ini; do old[$f]=$(sha1sum < "$build/Paks/$f" | cut -d' ' -f1); done
edit "$build/Paks/text.pak" 100 4300000 9000000
for f in wrong.ini missing.ini twin.ini; do edit "$build/Paks/$f" 200000; done
publish
patch_of() { echo "$(obj "$1")-${old[$1]}${2:-.zst}"; }
for f in text.pak wrong.ini missing.ini twin.ini; do [ -f "$(patch_of $f)" ] || fail "no patch for $f"; done
grep -q "\"from\": \[\[\"${old[text.pak]}\", $(stat -c %s "$(patch_of text.pak)"), " "$site/launcher/manifest" ||
    fail "the manifest does not list text.pak's patch: $(grep text.pak "$site/launcher/manifest")"
rm "$(patch_of missing.ini)"
# twin.ini's installed copy changes behind the check's back, its size and time kept.
touch -r "$game/Paks/twin.ini" "$state/twin.time"
edit "$game/Paks/twin.ini" 1000
touch -r "$state/twin.time" "$game/Paks/twin.ini"
before=$(requests)
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "the patches: $out"
installed_matches || fail "a file from its patch differs"
for f in text.pak wrong.ini; do
    [ "$(served "$(obj $f)")" = 0 ] && [ "$(served "$(obj $f .zst)")" = 0 ] && [ "$(served "$(obj $f .map)")" = 0 ] &&
        [ "$(served "$(patch_of $f)")" -gt 0 ] || fail "$f did not come by its patch alone: $(log_since "$before" | grep "$(basename "$(obj $f)")")"
done
[ "$(served "$(obj missing.ini .zst)")" -gt 0 ] || fail "missing.ini did not fall back to its zst form: $(log_since "$before")"
[ "$(served "$(patch_of twin.ini)")" -gt 0 ] && [ "$(served "$(obj twin.ini .zst)")" -gt 0 ] ||
    fail "twin.ini did not try its patch, then its zst form: $(log_since "$before")"
grep -c "its patch is not used" "$data/launcher.log" | grep -qx 2 || fail "the refused patches are not logged: $(grep patch "$data/launcher.log")"
patched=$(log_since "$before" | awk '$1 ~ /-[0-9a-f]+\.zst$/ { n += $NF } END { print n + 0 }')
echo "four changed files ($(stat -c %s "$build/Paks/text.pak") bytes of text.pak among them): ${patched} bytes of patches"
[ "$patched" -lt 20000 ] || fail "the patches cost ${patched} bytes for 6 edits of 40 bytes"

echo "--- a patch resumes at the frame holding the part file's end (at ${SECONDS}s)"
old[text.pak]=$(sha1sum < "$build/Paks/text.pak" | cut -d' ' -f1)
edit "$build/Paks/text.pak" 4200000 8500000
publish
resumes_at_frame1 "$(patch_of text.pak)"
echo "all steps passed"
