#!/usr/bin/env bash
# Mirrors, with the real parts: a signed release naming two mirrors (stock
# nginx with the shipped config, and the test server), the host as stock
# nginx or as the test server with faults, and TVLHeadless moving on by
# itself. The host killed mid-download, a 503 to every object, a mirror
# lacking an object, one object with a changed byte, one stalled mid-body,
# one trickled far below a mirror's rate,
# every source down, a mirror list changed on the way and one left from an
# earlier publish; then
# verify --mirror on a complete and a damaged mirror.
#   mirror_story.sh BUILD_DIR STATE_DIR HOST MIRROR_A MIRROR_B
source "$(dirname "$0")/support/nginx_story_env.sh" "mirror story" "$1" "$2" "$3"
mirror_a="$4" mirror_b="$5"
build="$state/build" app="$state/app" host_server="$state/host-server" b_server="$state/mirror-b"
mirror_site="$site_root/mirror-a"
rm -rf "$build" "$app" "$state/host" "$state/mirror-a" "$state/owner.key"
mkdir -p "$build/Paks" "$app"
cp "$build_dir/TVLHeadless.exe" "$app/"
server_ctl() { bash "$repo/tests/support/server_ctl.sh" "$@"; }
# This story's TVLHeadless, whether Wine shows a Unix or a Windows path.
stop_headless() { pkill -9 -f 'mirror_story.app.TVLHeadless' 2>/dev/null || true; }
headless_pid=""
trap 'stop_headless; nginx_ctl stop "$state/host"; nginx_ctl stop "$state/mirror-a"
      server_ctl stop "$host_server"; server_ctl stop "$b_server"; rm -rf "$site_root"' EXIT
key_line=$(tool keygen "$state/owner.key" | grep '^manifest_key=')
printf 'server=%s\r\n%s\r\n' "$address" "$key_line" > "$app/TVLLauncher.ini"
publish() {
    tool publish "$build" --site "$site" --sign "$state/owner.key" --host "$address" --patch-releases 0 \
        --mirror "https://$mirror_a" --mirror "https://$mirror_b" "$@" >/dev/null
}
headless() { "$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" "$@" | tr -d '\r'; }
installed_matches() { (cd "$build" && find . -type f | while read -r f; do cmp -s "$f" "$game/$f" || exit 1; done); }
sha() { sha1sum < "$build/$1" | cut -d' ' -f1; }
size() { stat -c %s "$1" 2>/dev/null || echo 0; }
now() { date +%s.%N; }
seconds() { python3 -c "print(f'{$2 - $1:.1f}')"; }
# Objects first, the release last, as the README's rsync does it.
sync_mirrors() {
    mkdir -p "$mirror_site/launcher" "$b_server/root/launcher"
    cp -a "$site/launcher/o" "$mirror_site/launcher/"
    cp -a "$site/launcher/o" "$b_server/root/launcher/"
}
# The host as the test server, serving a copy of the site with its faults.
host_as_test_server() {
    rm -rf "$host_server/root"
    mkdir -p "$host_server/root"
    cp -a "$site/launcher" "$host_server/root/"
    cp "$site/launcher/info" "$host_server/root/info.json"
    echo "${1:-[]}" > "$host_server/root/rules.json"
    server_ctl start "$host_server" "$address"
}
mirror_a_requests() { cat "$state/mirror-a/access.log" 2>/dev/null | grep -c "^/launcher/o/$1 " || true; }
host_requests() { cat "$host_server/root/requests.log" 2>/dev/null | grep -c "\"/launcher/o/$1\"" || true; }
wait_for() {  # wait_for SECONDS WHY COMMAND...
    local limit=$1 why=$2
    shift 2
    for _ in $(seq $((limit * 10))); do "$@" && return 0; sleep 0.1; done
    fail "$why"
}

echo "--- the host is killed mid-download: a mirror finishes the install from the part file (at ${SECONDS}s)"
head -c 48000000 /dev/urandom > "$build/Paks/big.pak"
for n in 1 2 3; do head -c 200000 /dev/urandom > "$build/Paks/s$n.pak"; done
head -c 30000 /dev/urandom > "$build/Tervalon.exe"
publish --version 1
grep -q "^mirror https://$mirror_b\$" "$site/launcher/release2" || fail "no mirrors in release2: $(cat "$site/launcher/release2")"
grep -q '^mirror' "$site/launcher/release" && fail "mirrors in the release older launchers read"
cp "$site/launcher/release2" "$state/release2.v1"
sync_mirrors
nginx_ctl start "$state/host" "$address" "$site" 1m  # slowed, so there is a middle to kill it in
nginx_ctl start "$state/mirror-a" "$mirror_a" "$mirror_site"
server_ctl start "$b_server" "$mirror_b"
rm -rf "$data"
part="$game/Paks/big.pak.part"
headless --press-update --timeout 180 > "$state/out1" &
headless_pid=$!
part_large() { [ "$(size "$part")" -ge 8000000 ]; }
wait_for 90 "the big file never got under way from the host" part_large
kill -9 "$(cat "$state/host/nginx.pid")" $(pgrep -f "nginx: worker process" | while read -r p; do
    [ "$(ps -o ppid= -p "$p" | tr -d ' ')" = "$(cat "$state/host/nginx.pid")" ] && echo "$p"; done)
killed=$(now) kept=$(size "$part")
rm -f "$state/host/nginx.pid"
big=$(sha Paks/big.pak)
mirror_took_over() { [ "$(mirror_a_requests "$big")" -gt 0 ]; }
wait_for 30 "no mirror was asked for the big file after the host died" mirror_took_over
took_over=$(now)
installed() { grep -q '^version=1' "$data/installed.txt" 2>/dev/null; }
wait_for 60 "the install never completed after the host died: $(cat "$state/out1")" installed
stop_headless
wait "$headless_pid" 2>/dev/null || true
headless_pid=""
installed_matches || fail "the install differs from the build"
grep -q "^Source: https://$mirror_a: the host could not be reached, or broke off or stalled, during /launcher/o/$big" \
    "$state/out1" || fail "no move to the mirror said: $(cat "$state/out1")"
first=$(grep "^/launcher/o/$big " "$state/mirror-a/access.log" | sed -n 's/.* bytes=\([0-9]*\)-.*/\1/p' | sort -n | head -1)
[ -n "$first" ] && [ "$first" -ge "$kept" ] ||
    fail "the mirror was asked from byte ${first:-0}, before the $kept bytes the part file held"
echo "the host died with $kept bytes in the part file; the mirror was asked from byte $first," \
     "$(seconds "$killed" "$took_over") s after the kill"

echo "--- the host answers 503 to every object, and one mirror lacks one: each comes from where it is (at ${SECONDS}s)"
head -c 200000 /dev/urandom > "$build/Paks/s1.pak"
head -c 200000 /dev/urandom > "$build/Paks/s2.pak"
publish --version 2
sync_mirrors
rm "$mirror_site/launcher/o/$(sha Paks/s2.pak)"
host_as_test_server '[{"path": "/launcher/o/", "prefix": true, "status": 503}]'
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "update past a 503 host: $out"
installed_matches || fail "version 2 differs from the build"
grep -q "^Source: https://$mirror_a: the host answered 503 for /launcher/o/" <<<"$out" || fail "no move past the 503: $out"
grep -q "^Source: https://$mirror_b: https://$mirror_a answered 404 for /launcher/o/$(sha Paks/s2.pak)" <<<"$out" ||
    fail "no move past the mirror that lacks s2.pak: $out"
[ "$(mirror_a_requests "$(sha Paks/s2.pak)")" = 1 ] || fail "the mirror without s2.pak was asked for it again"

echo "--- the host sends one object with a changed byte and stalls in another: a mirror serves both (at ${SECONDS}s)"
head -c 200000 /dev/urandom > "$build/Paks/s1.pak"
head -c 3000000 /dev/urandom > "$build/Paks/s3.pak"
publish --version 3
sync_mirrors
changed=$(sha Paks/s1.pak) stalled=$(sha Paks/s3.pak)
host_as_test_server "[{\"path\": \"/launcher/o/$stalled\", \"pause_after_first_ms\": 60000}]"
printf 'X' | dd of="$host_server/root/launcher/o/$changed" bs=1 seek=1000 conv=notrunc status=none
: > "$state/mirror-a/access.log"
headless --press-update --exit-on-ready --timeout 120 > "$state/out3" &
headless_pid=$!
stall_begun() { [ "$(host_requests "$stalled")" -gt 0 ]; }
wait_for 60 "the stalling object was never asked of the host" stall_begun
stalled_at=$(now)
stall_left() { [ "$(mirror_a_requests "$stalled")" -gt 0 ]; }
wait_for 30 "the stalled object was never asked of a mirror" stall_left
left_at=$(now)
wait "$headless_pid" || fail "update past a changed and a stalled object: $(cat "$state/out3")"
headless_pid=""
installed_matches || fail "version 3 differs from the build: something wrong was installed"
grep -q "^Source: https://$mirror_a: the host sent /launcher/o/$changed with other bytes than its SHA-1 and size" \
    "$state/out3" || fail "no move past the changed object: $(cat "$state/out3")"
grep -q "^Source: https://$mirror_a: the host could not be reached, or broke off or stalled, during /launcher/o/$stalled" \
    "$state/out3" || fail "no move past the stalled object: $(cat "$state/out3")"
# Fetched twice: the changed object whole, and nothing of the stalled one:
# the mirror went on from the part file's end.
grep "^/launcher/o/$changed " "$state/mirror-a/access.log" | grep -q ' 200 ' || fail "the changed object was not fetched again whole"
resumed=$(grep "^/launcher/o/$stalled " "$state/mirror-a/access.log" | sed -n 's/.* bytes=\([0-9]*\)-.*/\1/p')
[ "${resumed:-0}" -ge 1000000 ] || fail "the stalled object was fetched again from byte ${resumed:-0}"
echo "the host stalled; a mirror was asked $(seconds "$stalled_at" "$left_at") s after the stall's request," \
     "from byte $resumed"

echo "--- the host trickles a large file far below a mirror's rate: the mirror takes it over (at ${SECONDS}s)"
# l1.pak below the size of a map, so it comes whole (a large file's wrong
# byte would be mended by its map, a few KB that measure no rate), and first.
head -c 3500000 /dev/urandom > "$build/Paks/l1.pak"
head -c 5000000 /dev/urandom > "$build/Paks/l2.pak"
publish --version 4
sync_mirrors
# l1.pak wrong from the host, so the mirror's rate is known; l2.pak at 16 KB/s.
host_as_test_server "[{\"path\": \"/launcher/o/$(sha Paks/l2.pak)\", \"chunk\": 16384, \"delay_ms\": 1000}]"
printf 'X' | dd of="$host_server/root/launcher/o/$(sha Paks/l1.pak)" bs=1 seek=1000 conv=notrunc status=none
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "update past a trickling host: $out"
installed_matches || fail "version 4 differs from the build"
grep -q "^Source: https://$mirror_a: the host gave less than a twentieth of another source's [0-9]* KB/s during /launcher/o/$(sha Paks/l2.pak)" \
    <<<"$out" || fail "no move past the trickling host: $out"
grep "^Source: .*$(sha Paks/l2.pak)" <<<"$out"

echo "--- one segment of a large file trickles from the host: a mirror takes over within seconds (at ${SECONDS}s)"
head -c $((40 * 1048576)) /dev/urandom > "$build/Paks/big.pak"
publish --version 5
big=$(sha Paks/big.pak)
# Without its maps the file comes whole, in segments over several connections.
rm -f "$site/launcher/o/$big.map" "$site/launcher/o/$big.fine"
sync_mirrors
# Bytes 8-12 MiB at 400 B/s: inside the slow-body rule, far below the others.
host_as_test_server "[{\"path\": \"/launcher/o/$big\", \"range\": \"bytes=8388608-12582911\", \"chunk\": 400, \"delay_ms\": 1000}]"
: > "$state/mirror-a/access.log"
headless --press-update --exit-on-ready --timeout 120 > "$state/out5" &
headless_pid=$!
trickle_begun() { grep -q "\"range\": \"bytes=8388608-12582911\"" "$host_server/root/requests.log" 2>/dev/null; }
wait_for 60 "the trickled segment was never asked" trickle_begun
trickled_at=$(now)
taken_over() { [ "$(mirror_a_requests "$big")" -gt 0 ] || grep -q "/launcher/o/$big" "$b_server/root/requests.log" 2>/dev/null; }
wait_for 60 "no mirror took over from the trickling segment" taken_over
taken_at=$(now)
wait "$headless_pid" || fail "update past a trickling segment: $(cat "$state/out5")"
headless_pid=""
installed_matches || fail "version 5 differs from the build"
echo "one segment trickled; a mirror was asked $(seconds "$trickled_at" "$taken_at") s after it began"
rm "$build/Paks/big.pak"

echo "--- every source down: ServerError, naming how many were tried (at ${SECONDS}s)"
head -c 200000 /dev/urandom > "$build/Paks/s1.pak"
publish --version 6
sync_mirrors
host_as_test_server "[{\"path\": \"/launcher/o/$(sha Paks/s1.pak)\", \"status\": 503}]"
nginx_ctl stop "$state/mirror-a"
server_ctl stop "$b_server"
out=$(headless --press-update --fast-waits 20 --timeout 12 || true)
grep -q "^ServerError: Can't download from any of the 3 sources (the server and its mirrors)" <<<"$out" ||
    fail "no ServerError naming the three sources: $out"
# The same for the signed manifest itself, with the last mirror stalling
# after its headers: a stall is the network's failure, not a forgery.
host_as_test_server '[{"path": "/launcher/o/", "prefix": true, "status": 503}]'
echo '[{"path": "/launcher/o/", "prefix": true, "delay_ms": 60000}]' > "$b_server/root/rules.json"
server_ctl start "$b_server" "$mirror_b"
out=$(headless --fast-waits 20 --timeout 30 || true)
grep -q "^ServerError: Can't download from any of the 3 sources (the server and its mirrors)" <<<"$out" ||
    fail "every source failing the manifest was not said as such: $out"
echo '[]' > "$b_server/root/rules.json"

echo "--- a mirror list changed on the way is refused like any change to the release (at ${SECONDS}s)"
host_as_test_server
sed -i "s|^mirror https://$mirror_b\$|mirror https://127.0.0.99|" "$host_server/root/launcher/release2"
: > "$host_server/root/requests.log"
out=$(headless --fast-waits 20 --timeout 8 || true)
grep -q "^Release: refused: /launcher/release2 is malformed or not signed with the game's key" <<<"$out" ||
    fail "a changed mirror list was not refused: $out"
grep -q "^ServerError: This update is not signed with the game's key" <<<"$out" || fail "no refusal shown: $out"
grep -q '"/launcher/o/' "$host_server/root/requests.log" && fail "objects were fetched under a changed mirror list"
# A release2 left from an earlier publish names no mirrors for this one.
cp "$state/release2.v1" "$host_server/root/launcher/release2"
out=$(headless --press-update --exit-on-ready --timeout 60) || fail "update beside a stale release2: $out"
grep -q "^Release: /launcher/release2 is not version 6 as published: no mirrors" <<<"$out" ||
    fail "a stale release2 was not set aside: $out"
installed_matches || fail "version 6 differs from the build"

echo "--- verify --mirror passes a complete mirror and names a missing and a damaged object (at ${SECONDS}s)"
sync_mirrors
nginx_ctl start "$state/mirror-a" "$mirror_a" "$mirror_site"
report=$(tool verify --site "$site" --mirror "https://$mirror_a" --key "$app/TVLLauncher.ini") ||
    fail "a complete mirror failed: $report"
echo "$report"
rm "$mirror_site/launcher/o/$(sha Paks/s2.pak)"
printf 'X' | dd of="$mirror_site/launcher/o/$(sha Paks/s3.pak)" bs=1 seek=5 conv=notrunc status=none
if report=$(tool verify --site "$site" --mirror "https://$mirror_a" --key "$app/TVLLauncher.ini"); then
    fail "a damaged mirror passed: $report"
fi
echo "$report"
grep -q "Paks/s2.pak (launcher/o/$(sha Paks/s2.pak)): missing (404)" <<<"$report" || fail "the missing object not named"
grep -q "Paks/s3.pak (launcher/o/$(sha Paks/s3.pak)): bytes that do not match its hash" <<<"$report" ||
    fail "the damaged object not named"
# Patches are objects a mirror must serve too.
old=$(sha Paks/s1.pak)
publish --version 7 --patch-releases 1  # remembered: the next publish patches from it
printf 'patched' | dd of="$build/Paks/s1.pak" bs=1 seek=1000 conv=notrunc status=none
publish --version 8 --patch-releases 1
patch="$(sha Paks/s1.pak)-$old.zst"
[ -f "$site/launcher/o/$patch" ] || fail "no patch for s1.pak"
sync_mirrors
rm "$mirror_site/launcher/o/$patch"
if report=$(tool verify --site "$site" --mirror "https://$mirror_a" --key "$app/TVLLauncher.ini"); then
    fail "a mirror without a patch passed: $report"
fi
grep -q "Paks/s1.pak (its patch from $old) (launcher/o/$patch): missing (404)" <<<"$report" ||
    fail "the missing patch not named: $report"
echo "mirror story: passed"
