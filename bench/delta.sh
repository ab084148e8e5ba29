#!/usr/bin/env bash
# Patches that move only what changed, side by side with zsync 0.6.2 on the
# same pak-like pair, in one run: bytes over the wire (from nginx's logs:
# maps or control files, ranges and response headers), requests and wall
# time, on loopback and at 20 MB/s; the new bytes and the whole file beside
# them (for a patch of replaced, inserted and removed entries, and for small
# edits in place); the scan against sha1sum on the same file; forged maps against the
# costliest honest scan; publishing with maps
# against publishing without; the scan's peak memory for an 8 GiB file.
#   bash bench/delta.sh [MiB, default 520]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build_targets bench_update TVLHeadless
command -v zsync >/dev/null || apt-get install -y zsync >/dev/null

mib="${1:-520}"
work="$PWD/build/bench-delta"
sites=/tmp/tvl-bench-delta  # where nginx's www-data workers can read them
ours=127.0.0.24 theirs=127.0.0.25
app="$work/app" data="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
rm -rf "$work/app" "$sites" "$work/zsync-out"
mkdir -p "$work/v1/Paks" "$work/v2/Paks" "$app" "$sites/z" "$work/zsync-out"
chmod 755 "$sites"
cp build/windows/TVLHeadless.exe "$app/"
printf 'server=%s\r\n' "$ours" > "$app/TVLLauncher.ini"
WINEPREFIX="$prefix" wineserver -p 2>/dev/null || true  # kept up between runs (or already up): no run pays for starting it
stop_all() {
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    bash tests/support/nginx_ctl.sh stop "$work/nginx"
    [ -f "$work/znginx/nginx.pid" ] && kill "$(cat "$work/znginx/nginx.pid")" 2>/dev/null || true
}
trap stop_all EXIT

echo "== a pak-like pair of ${mib} MiB: 2 % of entries replaced, 5 inserted, 3 removed, the index rewritten"
fresh=$(python3 tests/support/pak_pair.py "$work/v1/Paks/x.pak" "$work/v2/Paks/x.pak" --mib "$mib" --seed 11)
v1="$work/v1/Paks/x.pak" v2="$work/v2/Paks/x.pak"
whole=$(stat -c %s "$v2")
sha2=$(sha1sum "$v2" | cut -d' ' -f1)
echo "whole file ${whole} bytes; new bytes ${fresh}"

echo "== publishing version 2, best of 2: with block maps against without"
best_publish() {
    local times=()
    for _ in 1 2; do
        rm -rf "$sites/p"
        times+=("$(seconds python3 tools/tvl_publish.py publish "$work/v2" --site "$sites/p" --version 1 --host x "$@")")
    done
    min "${times[@]}"
}
cat "$v2" >/dev/null
with=$(best_publish) without=$(best_publish --no-maps)
rm -rf "$sites/p"
echo "publish with maps ${with} s, without ${without} s: ratio $(ratio "$with" "$without") (target at most 2.0: the fine map's sums, one per sub-block, cost about as much as the map)"

echo "== the scan against sha1sum, on the installed copy, warm page cache"
python3 tools/tvl_publish.py publish "$work/v2" --site "$sites/ours" --version 2 --host "$ours" --patch-releases 0 >/dev/null
map="$sites/ours/launcher/o/$sha2.map"
echo "map ${map##*/}: $(stat -c %s "$map") bytes ($(ratio "$(stat -c %s "$map") * 100" "$whole") % of the file)"
cat "$v1" >/dev/null
sha_s=$(min "$(seconds sha1sum "$v1")" "$(seconds sha1sum "$v1")")
scan() { run scan "$(winpath "$map")" "$(winpath "$v1")" "$sha2" "$whole"; }
scan >/dev/null
scan_s=$(min "$(scan | field scan_seconds)" "$(scan | field scan_seconds)")
v1size=$(stat -c %s "$v1")
echo "scan ${scan_s} s ($(ratio "$v1size / 1000000" "$scan_s") MB/s), sha1sum ${sha_s} s ($(ratio "$v1size / 1000000" "$sha_s") MB/s):" \
     "speed ratio $(ratio "$sha_s" "$scan_s") (target at least 0.50)"

echo "== forged maps (a hostile server): 1 KiB blocks of one weak sum, against honest maps on the same copy"
# The costliest honest scan: the map of a file with nothing in common, where
# every window of the copy is rolled and looked up.
head -c "$whole" /dev/urandom > "$work/unrelated.bin"
unrelated=$(python3 -c 'import sys; sys.path.insert(0, "tools"); import hashlib, publisher.objects as t
d = open(sys.argv[1], "rb").read(); m = t.BlockMapper(len(d)); m.add(d); s = hashlib.sha1(d).hexdigest()
open(sys.argv[2], "wb").write(m.finish(s)); print(s)' "$work/unrelated.bin" "$work/unrelated.map")
rm -f "$work/unrelated.bin"
unrelated_s=$(run scan "$(winpath "$work/unrelated.map")" "$(winpath "$v1")" "$unrelated" "$whole" | field scan_seconds)
for kind in fixed zero; do
    python3 bench/forge_map.py "$whole" "$sha2" "$work/forged-$kind.map" --weak "$kind"
    forged_s=$(run scan "$(winpath "$work/forged-$kind.map")" "$(winpath "$v1")" "$sha2" "$whole" | field scan_seconds)
    echo "forged map ($kind sum): scan ${forged_s} s; honest maps: nothing in common ${unrelated_s} s, the real pair ${scan_s} s:" \
         "ratio $(ratio "$forged_s" "$unrelated_s") to the costliest honest scan (target at most 2)"
done

# zsync's side: plain HTTP (zsync 0.6.2 has no TLS), stock nginx, the same log.
zsync_nginx() { plain_nginx "$work/znginx" "$theirs:80" "$sites" "${1:-}"; }  # zsync_nginx [RATE]
cp "$v2" "$sites/z/x.pak"
(cd "$sites/z" && zsyncmake -u x.pak -o x.pak.zsync x.pak >/dev/null 2>&1)
sum_log() { awk '{ bytes += $NF; n += 1 } END { printf "%d %d", bytes, n }' "$1"; }

# The launcher's update, timed: prints its seconds, and leaves the requests
# it caused whose line matches PATTERN in $work/ours.log.
timed_update() {  # timed_update PATTERN
    local before t0 t1
    before=$(wc -l < "$work/nginx/access.log")
    t0=$(date +%s.%N)
    scripts/wine-run.sh "$prefix" "$app/TVLHeadless.exe" --press-update --exit-on-ready --timeout 900 | tr -d '\r' |
        grep '^Delta:' >&2 || true
    t1=$(date +%s.%N)
    tail -n +"$((before + 1))" "$work/nginx/access.log" | grep "$1" > "$work/ours.log" || true
    echo "$t1 - $t0" | bc -l
}

update_ours() {  # update_ours RATE -> "bytes requests seconds"
    bash tests/support/nginx_ctl.sh start "$work/nginx" "$ours" "$sites/ours" ${1:+"$1"}
    rm -rf "$data" && mkdir -p "$data/Game/Paks"
    cp "$v1" "$data/Game/Paks/x.pak"
    python3 tools/tvl_publish.py publish "$work/v1" --site "$sites/ours" --version 1 --host "$ours" --patch-releases 0 >/dev/null
    scripts/wine-run.sh "$prefix" "$app/TVLHeadless.exe" --exit-on-ready --timeout 600 >/dev/null  # hashes version 1
    python3 tools/tvl_publish.py publish "$work/v2" --site "$sites/ours" --version 2 --host "$ours" --patch-releases 0 >/dev/null
    local took
    took=$(timed_update "^/launcher/o/$sha2")
    cmp -s "$data/Game/Paks/x.pak" "$v2" || { echo "our update differs from version 2" >&2; exit 1; }
    echo "$(sum_log "$work/ours.log") $took"
}

update_zsync() {  # update_zsync RATE -> "bytes requests seconds"
    zsync_nginx "${1:-}"
    rm -f "$work/zsync-out/x.pak"
    local t0 t1
    t0=$(date +%s.%N)
    (cd "$work/zsync-out" && zsync -q -i "$v1" -o x.pak "http://$theirs/z/x.pak.zsync" >/dev/null 2>&1)
    t1=$(date +%s.%N)
    cmp -s "$work/zsync-out/x.pak" "$v2" || { echo "zsync's result differs from version 2" >&2; exit 1; }
    echo "$(sum_log "$work/znginx/access.log") $(echo "$t1 - $t0" | bc -l)"
}

row() { printf '%-26s %14s %9s %9s\n' "$@"; }
faster() { if (( $(echo "$3 < $6" | bc -l) )); then echo "$1 $2 $3"; else echo "$4 $5 $6"; fi; }
compare() {  # compare WHAT: version 1 to "$work/v2", on loopback and at 20 MB/s
    for rate in "" 20m; do
        if [ -n "$rate" ]; then where="at ${rate%m} MB/s"; else where="on loopback"; fi
        echo "== update from version 1 to version 2 ($1) $where, best of 2 each"
        read -r ob on os < <(faster $(update_ours "$rate") $(update_ours "$rate"))
        read -r zb zn zs < <(faster $(update_zsync "$rate") $(update_zsync "$rate"))
        row "" "bytes" "requests" "seconds"
        row "this launcher (TVLHeadless)" "$ob" "$on" "$(printf %.2f "$os")"
        row "zsync 0.6.2" "$zb" "$zn" "$(printf %.2f "$zs")"
        row "new bytes (the floor)" "$fresh" "" ""
        row "whole file" "$whole" "1" ""
        echo "ours/zsync bytes $(ratio "$ob" "$zb"), over the new bytes $(ratio "$ob" "$fresh"); time ours/zsync $(ratio "$os" "$zs")"
    done
}
compare "entries replaced, inserted and removed"

# Small edits in place: 60 of 200 bytes each, where a block costs far more
# than what changed; the fine map's sub-blocks are what this measures.
fresh=$(python3 - "$v1" "$v2" <<'PY'
import random, sys
data = bytearray(open(sys.argv[1], "rb").read())
rng = random.Random(60)
for at in sorted(rng.sample(range(len(data) - 200), 60)):
    data[at:at + 200] = rng.randbytes(200)
open(sys.argv[2], "wb").write(data)
print(60 * 200)
PY
)
whole=$(stat -c %s "$v2") sha2=$(sha1sum "$v2" | cut -d' ' -f1)
cp "$v2" "$sites/z/x.pak"
(cd "$sites/z" && zsyncmake -u x.pak -o x.pak.zsync x.pak >/dev/null 2>&1)
compare "60 edits of 200 bytes in place"

echo "== every installed file a seed: content moved between paks, a pak renamed, a patch pak folded into its base"
# Moved and renamed: bytes over the wire at most 1.15 times the new bytes and at
# most zsync's with every pak a seed; folded: at most zsync's.
command -v casync >/dev/null || apt-get install -y casync >/dev/null
# Installed: a.pak and b.pak (96 MiB each), c.pak (64 MiB), a_P.pak (a patch
# pak: new versions of 3 of a's entries). Each case is one new version.
python3 - "$work/seeds" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(37)
def entries(mib):
    out, left = [], mib << 20
    while left > 0:
        size = min(int(4096 * (1024 ** rng.random())), left)  # 4 KiB .. 4 MiB
        out.append(rng.randbytes(size))
        left -= size
    return out
def pak(parts):
    return b"".join(p + bytes(-len(p) % 2048) for p in parts)
def write(case, files):
    os.makedirs(f"{root}/{case}/Paks", exist_ok=True)
    for name, data in files.items():
        open(f"{root}/{case}/Paks/{name}", "wb").write(data)
a, b, c = entries(96), entries(96), entries(64)
fixed = sorted(rng.sample(range(len(a)), 3))
fixes = {i: rng.randbytes(len(a[i])) for i in fixed}
v1 = {"a.pak": pak(a), "b.pak": pak(b), "c.pak": pak(c), "a_P.pak": pak(fixes.values())}
write("v1", v1)
# 30 % of a's entries move into b, which also gains 4 MiB of new entries.
moved = {i for i in range(len(a)) if rng.random() < 0.3}
write("moved", {**v1, "a.pak": pak([e for i, e in enumerate(a) if i not in moved]),
                "b.pak": pak(b + [a[i] for i in sorted(moved)] + entries(4))})
# c.pak renamed c2.pak, with 4 MiB of new entries.
renamed = dict(v1)
del renamed["c.pak"]
renamed["c2.pak"] = pak(c + entries(4))
write("renamed", renamed)
folded = dict(v1)
del folded["a_P.pak"]
folded["a.pak"] = pak([fixes.get(i, e) for i, e in enumerate(a)])
write("folded", folded)
PY
seeds_row() { printf '%-30s %14s %9s %9s\n' "$@"; }
changed_files() {  # changed_files CASE: the files of CASE that v1 lacks or has otherwise
    (cd "$work/seeds/$1/Paks" && for f in *; do cmp -s "$f" "$work/seeds/v1/Paks/$f" || echo "$f"; done)
}
update_ours_seeds() {  # update_ours_seeds CASE -> "bytes requests seconds", at 20 MB/s
    rm -rf "$sites/seeds" "$data" && mkdir -p "$data"
    python3 tools/tvl_publish.py publish "$work/seeds/v1" --site "$sites/seeds" --version 1 --host "$ours" --patch-releases 0 >/dev/null
    bash tests/support/nginx_ctl.sh start "$work/nginx" "$ours" "$sites/seeds"
    scripts/wine-run.sh "$prefix" "$app/TVLHeadless.exe" --press-update --exit-on-ready --timeout 600 >/dev/null
    python3 tools/tvl_publish.py publish "$work/seeds/$1" --site "$sites/seeds" --version 2 --host "$ours" --patch-releases 0 >/dev/null
    bash tests/support/nginx_ctl.sh start "$work/nginx" "$ours" "$sites/seeds" 20m
    local took
    took=$(timed_update "^/launcher/o/")
    for f in $(changed_files "$1"); do
        cmp -s "$data/Game/Paks/$f" "$work/seeds/$1/Paks/$f" || { echo "our $1 update differs at $f" >&2; exit 1; }
    done
    echo "$(sum_log "$work/ours.log") $took"
}
every_seed() { for f in "$work/seeds/v1/Paks/"*; do printf -- "$1 %s " "$f"; done; }
update_zsync_seeds() {  # update_zsync_seeds CASE -> "bytes requests seconds": each changed file, every v1 pak a seed
    rm -rf "$sites/z/seeds" "$work/zsync-out" && mkdir -p "$sites/z/seeds" "$work/zsync-out"
    for f in $(changed_files "$1"); do
        cp "$work/seeds/$1/Paks/$f" "$sites/z/seeds/"
        (cd "$sites/z/seeds" && zsyncmake -u "$f" -o "$f.zsync" "$f" >/dev/null 2>&1)
    done
    zsync_nginx 20m
    local t0 t1
    t0=$(date +%s.%N)
    for f in $(changed_files "$1"); do
        # shellcheck disable=SC2046
        (cd "$work/zsync-out" && zsync -q $(every_seed -i) -o "$f" "http://$theirs/z/seeds/$f.zsync" >/dev/null 2>&1)
        cmp -s "$work/zsync-out/$f" "$work/seeds/$1/Paks/$f" || { echo "zsync's $1 result differs at $f" >&2; exit 1; }
    done
    t1=$(date +%s.%N)
    echo "$(sum_log "$work/znginx/access.log") $(echo "$t1 - $t0" | bc -l)"
}
update_casync_seeds() {  # update_casync_seeds CASE -> "bytes requests seconds": each changed file, every v1 pak a seed
    rm -rf "$sites/z/cas" "$work/cas-out" && mkdir -p "$sites/z/cas/store" "$work/cas-out"
    for f in $(changed_files "$1"); do
        casync make --store="$sites/z/cas/store" "$sites/z/cas/$f.caibx" "$work/seeds/$1/Paks/$f" >/dev/null
    done
    chmod -R a+rX "$sites/z/cas"
    zsync_nginx 20m
    local t0 t1
    t0=$(date +%s.%N)
    for f in $(changed_files "$1"); do
        # shellcheck disable=SC2046
        casync extract --store="http://$theirs/z/cas/store" $(every_seed --seed) "http://$theirs/z/cas/$f.caibx" \
            "$work/cas-out/$f" >/dev/null 2>&1
        cmp -s "$work/cas-out/$f" "$work/seeds/$1/Paks/$f" || { echo "casync's $1 result differs at $f" >&2; exit 1; }
    done
    t1=$(date +%s.%N)
    echo "$(sum_log "$work/znginx/access.log") $(echo "$t1 - $t0" | bc -l)"
}
for case in moved renamed folded; do
    fresh_case=$(python3 - "$work/seeds/v1/Paks" "$work/seeds/$case/Paks" <<'PY'
import hashlib, os, sys
# The new bytes: 2 KiB-aligned pieces of the new files found in no installed pak.
old, new = sys.argv[1:]
have = set()
for f in os.listdir(old):
    d = open(os.path.join(old, f), "rb").read()
    have.update(hashlib.sha1(d[at:at + 2048]).digest() for at in range(0, len(d), 2048))
fresh = 0
for f in os.listdir(new):
    d = open(os.path.join(new, f), "rb").read()
    if os.path.exists(os.path.join(old, f)) and open(os.path.join(old, f), "rb").read() == d:
        continue
    fresh += sum(min(2048, len(d) - at) for at in range(0, len(d), 2048) if hashlib.sha1(d[at:at + 2048]).digest() not in have)
print(fresh)
PY
)
    echo "-- $case: changed $(changed_files "$case" | tr '\n' ' '), at 20 MB/s"
    read -r ob on os < <(update_ours_seeds "$case")
    read -r zb zn zs < <(update_zsync_seeds "$case")
    read -r cb cn cs < <(update_casync_seeds "$case")
    seeds_row "" "bytes" "requests" "seconds"
    seeds_row "this launcher (TVLHeadless)" "$ob" "$on" "$(printf %.2f "$os")"
    seeds_row "zsync 0.6.2, every pak -i" "$zb" "$zn" "$(printf %.2f "$zs")"
    seeds_row "casync, every pak --seed" "$cb" "$cn" "$(printf %.2f "$cs")"
    seeds_row "new bytes (the floor)" "$fresh_case" "" ""
    echo "ours/zsync bytes $(ratio "$ob" "$zb"), ours/casync $(ratio "$ob" "$cb"), over the new bytes" \
         "$(ratio "$ob" "$(( fresh_case > 0 ? fresh_case : 1 ))")"
done

echo "== the scan's peak memory for an 8 GiB file (a sparse one; the map is what grows)"
big="$work/big8g.bin"
rm -f "$big" && truncate -s 8G "$big"
python3 - "$big" "$work/big8g.map" <<'PY'
import sys
sys.path.insert(0, "tools")
import publisher.objects as t
path, out = sys.argv[1:]
size = 8 << 30
m = t.BlockMapper(size)
zero = bytes(1 << 20)
for _ in range(size >> 20):
    m.add(zero)
open(out, "wb").write(m.finish("00" * 20))
PY
peak=$( { /usr/bin/time -f '%M' scripts/wine-run.sh "$prefix" build/windows/bench_update.exe scan \
    "$(winpath "$work/big8g.map")" "$(winpath "$big")" "$(printf '0%.0s' {1..40})" $((8 << 30)) >/dev/null; } 2>&1 | tail -1)
echo "map $(stat -c %s "$work/big8g.map") bytes; peak resident memory of the scanning process ${peak} KiB (target under 131072)"
rm -f "$big" "$work/big8g.map"

echo "== the index's peak memory for a 50 GiB release (a map of random sums: every block distinct)"
python3 - "$work/release50g.map" <<'PY'
import os, sys
sys.path.insert(0, "tools")
import publisher.objects as t
size = 50 << 30
block = t.map_block_size(size)
check = t.map_check_bytes(size, block)
blocks = -(-size // block)
header = (t.MAP_MAGIC + bytes(20) + size.to_bytes(8, "little") + block.to_bytes(4, "little") + bytes([4, check, 0, 0]))
open(sys.argv[1], "wb").write(header + os.urandom(blocks * (4 + check)))
PY
head -c $((64 << 20)) /dev/urandom > "$work/seed64m.bin"
peak=$( { /usr/bin/time -f '%M' scripts/wine-run.sh "$prefix" build/windows/bench_update.exe scan \
    "$(winpath "$work/release50g.map")" "$(winpath "$work/seed64m.bin")" "$(printf '0%.0s' {1..40})" $((50 << 30)) >/dev/null; } 2>&1 | tail -1)
echo "map $(stat -c %s "$work/release50g.map") bytes; peak resident memory with its index built and a seed scanned ${peak} KiB (target under 131072)"
rm -f "$work/release50g.map" "$work/seed64m.bin"
