#!/usr/bin/env bash
# A server owner's story, end to end with the real parts: a build published
# with tools/tvl_publish.py, served by Debian's stock nginx with
# tools/nginx/tvl-launcher.conf, installed and updated by TVLHeadless.
#   nginx_story.sh BUILD_DIR STATE_DIR ADDRESS
source "$(dirname "$0")/support/nginx_story_env.sh" "nginx story" "$@"
publish() { tool publish "$@"; }

build="$state/build"
app="$state/app"
rm -rf "$build" "$site" "$app" "$state/nginx"
mkdir -p "$build/Tervalon/Content/Paks" "$build/Tervalon/Content/Movies" "$build/Engine" "$app"
head -c 50000 /dev/urandom > "$build/Tervalon.exe"
head -c 3000000 /dev/urandom > "$build/Tervalon/Content/Paks/Level 1.pak"
head -c 500000 /dev/urandom > "$build/Tervalon/Content/Movies/Intro Café.mp4"
: > "$build/Engine/empty.txt"
for n in $(seq 2000); do echo "[Section$n] Tervalon=Ember Harbour"; done > "$build/Engine/Defaults.ini"
printf 'Version 1\n- Ember Harbour opens\n' > "$state/notes.txt"

cp "$build_dir/TVLHeadless.exe" "$app/"
printf 'server=%s\r\n' "$address" > "$app/TVLLauncher.ini"
headless() { "$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" "$@" | tr -d '\r'; }
requests() { wc -l < "$state/nginx/access.log"; }
file_requests_since() { tail -n +"$(($1 + 1))" "$state/nginx/access.log" | grep '^/launcher/file' | cut -d' ' -f1-3 || true; }
trap 'nginx_ctl stop "$state/nginx"; rm -rf "$site_root"' EXIT

echo "--- publish version 1 and install it (at ${SECONDS}s)"
publish "$build" --site "$site" --version 1 --notes "$state/notes.txt" --banner "$repo/resources/default_banner.jpg"
nginx_ctl start "$state/nginx" "$address" "$site"
rm -rf "$(dirname "$game")"  # a fresh install: no game, no cache, no record
headless --press-update --exit-on-ready --timeout 120 >"$state/install.out" || fail "install: $(cat "$state/install.out")"
(cd "$build" && find . -type f | while read -r f; do cmp -s "$f" "$game/$f" || fail "installed $f differs"; done)
before=$(requests)
headless --exit-on-ready --timeout 60 >"$state/second.out" || fail "second start"
grep -q '^Downloading' "$state/second.out" && fail "the second start downloaded"
[ -z "$(file_requests_since "$before")" ] || fail "the second start asked for files"

echo "--- republish with one file changed: only that file comes down (at ${SECONDS}s)"
head -c 1000 /dev/urandom >> "$build/Tervalon/Content/Paks/Level 1.pak"
out=$(publish "$build" --site "$site")
grep -q "published version 2: .* 1 hashed" <<<"$out" || fail "republish: $out"
before=$(requests)
headless --exit-on-ready --timeout 120 --press-update >"$state/update.out" || fail "update"
[ "$(file_requests_since "$before")" = "/launcher/file?p=Tervalon/Content/Paks/Level%201.pak 200 -" ] ||
    fail "update fetched: $(file_requests_since "$before")"
cmp -s "$build/Tervalon/Content/Paks/Level 1.pak" "$game/Tervalon/Content/Paks/Level 1.pak" || fail "updated file differs"

echo "--- an interrupted download resumes with Range, and nginx answers 206 (at ${SECONDS}s)"
head -c 30000000 /dev/urandom > "$build/Tervalon/Content/Paks/Level 2.pak"
publish "$build" --site "$site" >/dev/null
nginx_ctl start "$state/nginx" "$address" "$site" 4m
part="$game/Tervalon/Content/Paks/Level 2.pak.part"
"$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" --press-update --timeout 120 >/dev/null 2>&1 &
runner=$!
for _ in $(seq 300); do [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -gt 1000000 ] && break; sleep 0.1; done
kill -9 "$runner" 2>/dev/null || true  # the launcher process itself: Wine runs it as this one
wait "$runner" 2>/dev/null || true
have=$(stat -c %s "$part")
nginx_ctl start "$state/nginx" "$address" "$site"
before=$(requests)
headless --press-update --exit-on-ready --timeout 120 >"$state/resume.out" || fail "resume"
file_requests_since "$before" | grep -qF "/launcher/file?p=Tervalon/Content/Paks/Level%202.pak 206 bytes=$have-" ||
    fail "no 206 from $have: $(file_requests_since "$before")"
cmp -s "$build/Tervalon/Content/Paks/Level 2.pak" "$game/Tervalon/Content/Paks/Level 2.pak" || fail "resumed file differs"

echo "--- a file the new version dropped leaves the site once the manifest no longer names it (at ${SECONDS}s)"
rm "$build/Tervalon/Content/Paks/Level 2.pak"
publish "$build" --site "$site" >/dev/null
[ ! -e "$site/files/Tervalon/Content/Paks/Level%202.pak" ] || fail "a dropped file is still served"
grep -q "Level 2.pak" "$site/launcher/manifest" && fail "the manifest still names a dropped file"
[ ! -e "$site/publishing" ] || fail "the publish left its marker"

echo "--- while a publish runs, players wait; then they reach Ready on their own (at ${SECONDS}s)"
# The real tool, held before it places files until $state/hold goes away.
held_publish() {
    touch "$state/hold"
    python3 "$repo/tests/support/held_publish.py" "$state/hold" "$build" "$site" &
    publisher=$!
    for _ in $(seq 100); do [ -e "$site/publishing" ] && break; sleep 0.05; done
    [ -e "$site/publishing" ] || fail "the publish put up no marker"
}
head -c 2000 /dev/urandom > "$build/Tervalon/Content/Paks/Level 3.pak"
held_publish
kill -9 "$publisher"  # interrupted: the old version stays, behind the 503
wait "$publisher" 2>/dev/null || true
grep -q '"version": 4' "$site/launcher/manifest" || fail "an interrupted publish changed the manifest"
[ "$(curl -sk -o /dev/null -w '%{http_code}' "https://$address/launcher/manifest")" = 503 ] || fail "no 503 after an interruption"
held_publish
# Straight to the file, unbuffered, so its lines can be watched as they come.
"$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" --exit-on-ready --press-update --fast-waits 10 \
    --timeout 120 >"$state/wait.out" 2>&1 &
waiter=$!
for _ in $(seq 200); do grep -q '^Waiting:' "$state/wait.out" && break; sleep 0.1; done
grep -q '^Waiting: The server is preparing' "$state/wait.out" || fail "no wait: $(cat "$state/wait.out")"
rm "$state/hold"  # the publish goes on and finishes
wait "$publisher" || fail "the held publish failed"
wait "$waiter" || fail "no Ready after the publish: $(cat "$state/wait.out")"
grep -q '^Ready:' "$state/wait.out" || fail "not Ready: $(cat "$state/wait.out")"
cmp -s "$build/Tervalon/Content/Paks/Level 3.pak" "$game/Tervalon/Content/Paks/Level 3.pak" || fail "the new file is missing"

echo "--- counts for the game server (at ${SECONDS}s)"
python3 "$repo/tools/tvl_publish.py" counts 9 123 --site "$site"
curl -sk "https://$address/launcher/info" | grep -q '"version": 5, "lobbies": 9, "players": 123' ||
    fail "counts: $(curl -sk "https://$address/launcher/info")"

echo "--- what a cache may keep of each answer (at ${SECONDS}s)"
cache_control() { curl -sk -o /dev/null -D - "https://$address$1" | tr -d '\r' | sed -n 's/^[Cc]ache-[Cc]ontrol: //p'; }
object="/launcher/o/$(sha1sum < "$build/Tervalon.exe" | cut -d' ' -f1)"
[ "$(cache_control /launcher/info)" = "public, max-age=10, stale-while-revalidate=10" ] || fail "info: $(cache_control /launcher/info)"
[ "$(cache_control "$object")" = "public, max-age=31536000, immutable" ] || fail "object: $(cache_control "$object")"
zst="/launcher/o/$(sha1sum < "$build/Engine/Defaults.ini" | cut -d' ' -f1).zst"
[ "$(cache_control "$zst")" = "public, max-age=31536000, immutable" ] || fail "a zst form: $(cache_control "$zst")"
curl -sk "https://$address$zst" | zstd -d -q | cmp -s - "$build/Engine/Defaults.ini" || fail "the served zst form"
[ "$(cache_control /launcher/manifest)" = "no-cache" ] || fail "manifest: $(cache_control /launcher/manifest)"
for missing in "/launcher/o/$(printf 'f%.0s' {1..40})" /launcher/nothing; do
    [ "$(cache_control "$missing")" = "no-store" ] || fail "a 404 may be kept: $missing"
done
# A range past the end of an object: nginx's 416, which no cache may keep.
unsatisfiable=$(curl -sk -o /dev/null -D - -H 'Range: bytes=999999999-' "https://$address$object" | tr -d '\r')
grep -q "^HTTP/1.1 416" <<<"$unsatisfiable" && grep -qi "^cache-control: no-store$" <<<"$unsatisfiable" ||
    fail "a 416 may be kept: $unsatisfiable"
touch "$site/publishing"
headers=$(curl -sk -o /dev/null -D - "https://$address/launcher/manifest" | tr -d '\r')
rm "$site/publishing"
grep -q "^Cache-Control: no-store$" <<<"$headers" && grep -q "^Retry-After: 30$" <<<"$headers" ||
    fail "the publishing 503 may be kept, or says not when to come back: $headers"
echo "all steps passed"
