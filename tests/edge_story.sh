#!/usr/bin/env bash
# The site behind a cache, with real caching engines started by the story:
# Varnish 7.1 with its builtin VCL behind a TLS nginx, or nginx with
# proxy_cache (tests/support/edge_ctl.sh), in front of the origin (stock
# nginx, the shipped config). TVLHeadless with the game's key speaks only
# to the edge. The origin's log tells what the cache spared it.
#   edge_story.sh varnish|proxy BUILD_DIR STATE_DIR EDGE_ADDRESS ORIGIN_ADDRESS
kind="$1"
shift
source "$(dirname "$0")/support/nginx_story_env.sh" "edge story ($kind)" "$1" "$2" "$3"
origin_address="$4"
edge_ctl() { bash "$repo/tests/support/edge_ctl.sh" "$@"; }
build="$state/build" app="$state/app" edge="$state/edge"
rm -rf "$build" "$app" "$state/owner.key"
mkdir -p "$build/Paks" "$app"
cp "$build_dir/TVLHeadless.exe" "$app/"
head -c 40000 /dev/urandom > "$build/Tervalon.exe"
head -c 2000000 /dev/urandom > "$build/Paks/a.pak"
head -c 300000 /dev/urandom > "$build/Paks/b.pak"
headless_pid=""
trap 'kill -9 ${headless_pid:-} 2>/dev/null || true; pkill -9 -f "edge_story.$kind.app" 2>/dev/null || true
      edge_ctl stop "$edge"; rm -rf "$site_root"' EXIT
key_line=$(tool keygen "$state/owner.key" | grep '^manifest_key=')
printf 'server=%s\r\n%s\r\n' "$address" "$key_line" > "$app/TVLLauncher.ini"
publish() { tool publish "$build" --site "$site" --sign "$state/owner.key" --host "$address" --patch-releases 0 "$@" >/dev/null; }
headless() { "$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" "$@" | tr -d '\r'; }
installed_matches() { (cd "$build" && find . -type f | while read -r f; do cmp -s "$f" "$game/$f" || exit 1; done); }
origin_log() { cat "$edge/origin/access.log" 2>/dev/null || true; }
lines() { wc -l < "$1" 2>/dev/null || echo 0; }
sum_bytes() { awk '{ b += $NF } END { print b + 0 }'; }

publish --version 1
rm -rf "$edge"  # logs of an earlier run
edge_ctl start "$kind" "$edge" "$address" "$origin_address" "$site"

echo "--- five launchers install one after another; the origin serves each object once (at ${SECONDS}s)"
for n in 1 2 3 4 5; do
    rm -rf "$data"
    out=$(headless --press-update --exit-on-ready --timeout 120) || fail "install $n (exit $?): $out"
    installed_matches || fail "install $n differs from the build"
done
repeated=$(origin_log | grep '^/launcher/o/' | cut -d' ' -f1 | sort | uniq -d)
[ -z "$repeated" ] || fail "the origin served objects more than once: $repeated"
edge_bytes=$(sum_bytes < "$edge/edge/access.log") origin_bytes=$(origin_log | sum_bytes)
echo "five installs: the edge sent $(lines "$edge/edge/access.log") answers, ${edge_bytes} bytes;" \
     "the origin $(origin_log | wc -l) answers, ${origin_bytes} bytes"

echo "--- the origin answers 404, then goes down, then recovers: no launcher sees a stale error (at ${SECONDS}s)"
# A start that goes on until the edge passes the origin's trouble on (a
# cache may serve the last good release for its freshness and grace first).
until_seen() {  # until_seen PATTERN WHY
    local out
    for _ in $(seq 15); do
        out=$(headless --fast-waits 100 --timeout 3 || true)
        grep -q "$1" <<<"$out" && return 0
        sleep 1
    done
    fail "$2: $out"
}
mv "$site/launcher/release" "$state/release.good"
until_seen "^Release: refused: /launcher/release answered 404" "the origin's 404 never came through"
mv "$state/release.good" "$site/launcher/release"
out=$(headless --exit-on-ready --timeout 60) || fail "a 404 was kept after the origin recovered (exit $?): $out"
edge_ctl origin-stop "$edge"
until_seen "^ServerError: " "a down origin was never noticed"
edge_ctl origin-start "$edge"
out=$(headless --exit-on-ready --timeout 60) || fail "an error was kept after the origin came back (exit $?): $out"

echo "--- version 2 is published while the edge holds version 1 and a launcher is mid-file (at ${SECONDS}s)"
edge_ctl start "$kind" "$edge" "$address" "$origin_address" "$site" 1m
rm -rf "$state/build.v1" && cp -a "$build" "$state/build.v1"
rm -rf "$data"
"$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" --press-update --exit-on-ready --timeout 120 \
    > "$state/mid.out" 2>/dev/null &
headless_pid=$!
for _ in $(seq 300); do [ -f "$game/Paks/a.pak.part" ] && break; sleep 0.1; done
[ -f "$game/Paks/a.pak.part" ] || fail "no download under way"
head -c 2000000 /dev/urandom > "$build/Paks/a.pak"
publish --version 2
wait "$headless_pid" || fail "the launcher mid-file did not end: $(cat "$state/mid.out")"
headless_pid=""
(cd "$state/build.v1" && find . -type f | while read -r f; do cmp -s "$f" "$game/$f" || exit 1; done) ||
    installed_matches || fail "the launcher mid-file ended with neither version whole"
grep -q "^LocalError\|SHA-1" "$state/mid.out" && fail "a failure on the way: $(cat "$state/mid.out")"
edge_ctl start "$kind" "$edge" "$address" "$origin_address" "$site"
for _ in $(seq 8); do
    out=$(headless --press-update --exit-on-ready --timeout 60) || fail "update to 2 (exit $?): $out"
    installed_matches && break
    sleep 3  # the edge still holds release 1 for up to its freshness
done
installed_matches || fail "version 2 never arrived through the edge"
twice=$(origin_log | awk '$2 == 200 && $1 ~ /^\/launcher\/o\// { print $1, $NF }' | sort -u | cut -d' ' -f1 | uniq -d)
[ -z "$twice" ] || fail "the origin served one object with two sizes: $twice"

echo "--- a download killed mid-way resumes through the edge with a Range request (at ${SECONDS}s)"
head -c 6000000 /dev/urandom > "$build/Paks/a.pak"
publish --version 3
edge_ctl start "$kind" "$edge" "$address" "$origin_address" "$site" 1m
"$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" --press-update --timeout 120 >/dev/null 2>&1 &
headless_pid=$!
part="$game/Paks/a.pak.part"
for _ in $(seq 300); do [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -gt 1000000 ] && break; sleep 0.1; done
pkill -9 -f "edge_story.$kind.app.TVLHeadless" 2>/dev/null || true
kill -9 "$headless_pid" 2>/dev/null || true
wait "$headless_pid" 2>/dev/null || true
headless_pid=""
have=$(stat -c %s "$part" 2>/dev/null || echo 0)
[ "$have" -gt 0 ] || fail "no part file to resume"
edge_ctl start "$kind" "$edge" "$address" "$origin_address" "$site"
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "resume (exit $?): $out"
installed_matches || fail "the resumed download differs"
grep -q " 206 bytes=$have-" "$edge/edge/access.log" || fail "no Range request from $have through the edge"

echo "--- a patched pak through the edge: up to date, from single ranges where several are refused (at ${SECONDS}s)"
# Varnish answers 416 to a request of several ranges, a cold proxy_cache 200
# with the whole file; the map (named in the signed manifest) is fetched once.
for at in 100000 4000000; do printf 'patched' | dd of="$build/Paks/a.pak" bs=1 seek="$at" conv=notrunc status=none; done
publish --version 4
edge_ctl start "$kind" "$edge" "$address" "$origin_address" "$site"
edge_before=$(lines "$edge/edge/access.log")
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "the patch never installed (exit $?): $out"
installed_matches || fail "the patched pak differs"
grep '^Delta: ' <<<"$out" || fail "no delta for the patched pak: $out"
maps=$(tail -n +"$((edge_before + 1))" "$edge/edge/access.log" | grep -c '^/launcher/o/[0-9a-f]*\.map ' || true)
[ "$maps" = 1 ] || fail "the map was fetched $maps times"
# The edge fetched the new pak from the origin once, and sent the launcher
# little more than what changed (a 200 to ranges is abandoned, not read).
sha=$(sha1sum < "$build/Paks/a.pak" | cut -d' ' -f1)
from_origin=$(origin_log | grep "^/launcher/o/$sha " | sum_bytes)
to_launcher=$(tail -n +"$((edge_before + 1))" "$edge/edge/access.log" | grep "^/launcher/o/$sha " | sum_bytes)
echo "the patched pak: the origin sent ${from_origin} bytes, the edge ${to_launcher} to the launcher"
[ "$from_origin" -le 6100000 ] || fail "the origin sent the patched pak more than once ($from_origin bytes)"
[ "$to_launcher" -lt 1500000 ] || fail "the patch cost the launcher $to_launcher bytes of 6000000"

echo "--- a new pak comes as its zst form through the edge, in segments of whole frames (at ${SECONDS}s)"
head -c 7500000 /dev/urandom | base64 -w 100 > "$build/Paks/text.pak"  # three frames, about 3/4 each
publish --version 5 --patch-releases 3  # remembered, for the next step's patch
edge_ctl start "$kind" "$edge" "$address" "$origin_address" "$site"
edge_before=$(lines "$edge/edge/access.log")
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "the zst form (exit $?): $out"
installed_matches || fail "the pak from its zst form differs"
zst="/launcher/o/$(sha1sum < "$build/Paks/text.pak" | cut -d' ' -f1).zst"
size=$(stat -c %s "$site$zst")
from_origin=$(origin_log | grep "^$zst " | sum_bytes)
to_launcher=$(tail -n +"$((edge_before + 1))" "$edge/edge/access.log" | grep "^$zst " | sum_bytes)
echo "text.pak: its zst form of ${size} bytes; the origin sent ${from_origin}, the edge ${to_launcher} to the launcher"
[ "$from_origin" -le $((size + 100000)) ] || fail "the origin sent the zst form more than once ($from_origin bytes)"
[ "$to_launcher" -le $((size + 100000)) ] && [ "$to_launcher" -ge "$size" ] || fail "the launcher took $to_launcher bytes of it"

echo "--- the pak edited comes as its patch from the installed version through the edge (at ${SECONDS}s)"
old=$(sha1sum < "$build/Paks/text.pak" | cut -d' ' -f1)
python3 -c "import sys; d = bytearray(open(sys.argv[1], 'rb').read())
for at in (100, 5000000, 9000000): d[at:at + 50] = b'x' * 50
open(sys.argv[1], 'wb').write(d)" "$build/Paks/text.pak"
publish --version 6 --patch-releases 3
edge_ctl start "$kind" "$edge" "$address" "$origin_address" "$site"
edge_before=$(lines "$edge/edge/access.log") origin_before=$(lines "$edge/origin/access.log")
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "the patch (exit $?): $out"
installed_matches || fail "the pak from its patch differs"
new=$(sha1sum < "$build/Paks/text.pak" | cut -d' ' -f1)
to_launcher=$(tail -n +"$((edge_before + 1))" "$edge/edge/access.log" | grep "^/launcher/o/$new" | cut -d' ' -f1 | sort -u)
[ "$to_launcher" = "/launcher/o/$new-$old.frames"$'\n'"/launcher/o/$new-$old.zst" ] ||
    fail "text.pak came by other objects than its patch and its frame table: $to_launcher"
patch="/launcher/o/$new-$old.zst"
from_origin=$(tail -n +"$((origin_before + 1))" "$edge/origin/access.log" | grep "^$patch " | sum_bytes)
echo "text.pak: its patch of $(stat -c %s "$site$patch") bytes; the origin sent ${from_origin}"
[ "$from_origin" -le $(($(stat -c %s "$site$patch") + 2000)) ] || fail "the origin sent the patch more than once ($from_origin bytes)"

echo "--- five launchers in Ready: the origin sees the release and the info by their freshness (at ${SECONDS}s)"
edge_ctl start "$kind" "$edge" "$address" "$origin_address" "$site"
edge_before=$(lines "$edge/edge/access.log") origin_before=$(lines "$edge/origin/access.log")
pids=()
for n in 1 2 3 4 5; do
    "$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" --fast-waits 10 --timeout 24 >/dev/null 2>&1 &
    pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
for doc in release info; do
    at_edge=$(tail -n +"$((edge_before + 1))" "$edge/edge/access.log" | grep -c "^/launcher/$doc " || true)
    at_origin=$(origin_log | tail -n +"$((origin_before + 1))" | grep -c "^/launcher/$doc " || true)
    echo "/launcher/$doc: ${at_edge} answers from the edge, ${at_origin} from the origin"
    [ "$at_edge" -ge 25 ] || fail "the launchers polled $doc only $at_edge times"
    [ "$at_origin" -le 6 ] || fail "the origin answered $doc $at_origin times in 24 s"
done
echo "all steps passed"
