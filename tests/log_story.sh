#!/usr/bin/env bash
# When something goes wrong, with the real parts: a signed site from the
# publish tool behind the test server, TVLHeadless with --log, and the
# stand-ins for the game and Steam. An install, an update by delta, a cut
# body, a 503 and a refused release each leave launcher.log lines naming
# the request, the status or error code and the cause; no line holds the
# key, a Steam ID or the user's name; then "Play offline" with the server
# stopped, refused for a changed file and with no release ever accepted;
# last, the log under load: rotation at 2 MiB, two writers at once and a
# kill -9 leave only whole lines.
#   log_story.sh BUILD_DIR SERVER_STATE_DIR SERVER_ADDRESS
source "$(dirname "$0")/support/story_env.sh" "log story" no-display "$@"

root="$state/root" build_in="$state/build" app="$state/app" site="$state/site"
data="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
game="$data/Game"
log="$data/launcher.log"
tool() { python3 "$repo/tools/tvl_publish.py" "$@"; }
server_ctl() { bash "$here/support/server_ctl.sh" "$@"; }
steam_dir="$state/steam"
cleanup() {
    pkill -9 -f 'log_story.(steam|app|build)' 2>/dev/null || true
    rm -rf "$data" "$prefix/drive_c/users/$(whoami)/Games" "$prefix/drive_c/Games" "$prefix/drive_c/Players"
}
trap cleanup EXIT
cleanup
rm -rf "$build_in" "$app" "$site" "$state/owner.key" "$steam_dir"
mkdir -p "$build_in/Paks" "$app" "$steam_dir"
cp "$build/TVLHeadless.exe" "$app/"
cp "$build/fakes/steam.exe" "$steam_dir/"
# The game the launcher installs is the stand-in, so "Play offline" starts it.
cp "$build/fakes/Tervalon.exe" "$build_in/Tervalon.exe"
head -c 6000000 /dev/urandom > "$build_in/Paks/a.pak"
head -c 300000 /dev/urandom > "$build_in/Paks/b.pak"
key_line=$(tool keygen "$state/owner.key" | grep '^manifest_key=')
key_b64=${key_line#manifest_key=}
printf 'server=%s\r\n%s\r\n' "$address" "$key_line" > "$app/TVLLauncher.ini"
publish() {
    tool publish "$build_in" --site "$site" --sign "$state/owner.key" --host "$address" "$@" >/dev/null
    rm -rf "$root/launcher"
    cp -a "$site/launcher" "$root/"
    cp "$site/launcher/info" "$root/info.json"
}
rules() { echo "$1" > "$root/rules.json"; }
headless() { "$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" "$@" 2> "$state/stderr" | tr -d '\r'; }
sha() { sha1sum < "$build_in/$1" | cut -d' ' -f1; }
mark() { wc -l < "$log" 2>/dev/null || echo 0; }
since() { tail -n +"$(($1 + 1))" "$log"; }
expect() {  # expect FROM_LINE WHY EXTENDED_REGEX
    since "$1" | grep -Eq "$3" || fail "$2: no line like /$3/ in:
$(since "$1" | tail -40)"
}
line_shape='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z [a-z -]*[a-z0-9]: '
ip=${address//./\\.}

echo "--- an install: the start, every request, the release's verdict, the check's decision (at ${SECONDS}s)"
rules '[]'
publish --version 1
out=$(headless --press-update --exit-on-ready --timeout 120 --log) || fail "install (exit $?): $out"
expect 0 "the start" "worker|window: TVL UE4 Launcher version [0-9]+ on Windows [0-9]+\.[0-9]+\.[0-9]+"
expect 0 "the host" "window: server $ip, manifest key set, game folder %LOCALAPPDATA%\\\\UE4TVL\\\\Game$"
expect 0 "the info request" "worker: GET /launcher/info from $ip: 200, [0-9]+ bytes in [0-9]+ ms, (new|reused) connection$"
expect 0 "a reused connection" "GET .* reused connection$"
expect 0 "an object request" "GET /launcher/o/$(sha Paks/a.pak) from $ip: 200, 6000000 bytes in [0-9]+ ms"
expect 0 "the release's verdict" "release: version 1 for $ip, signed, expires [0-9-]+$"
expect 0 "the check's decision" "checked version 1: 3 of 3 file\(s\) to fetch, $((6300000 + $(stat -c %s "$build_in/Tervalon.exe"))) bytes$"
expect 0 "a file to fetch" "to fetch: Paks/a.pak, 6000000 bytes, sha1 $(sha Paks/a.pak)$"
expect 0 "the status shown" "Ready: Up to date • version 1$"
tr -d '\r' < "$state/stderr" | diff -q - "$log" >/dev/null || fail "--log echoed other lines than the log holds"

echo "--- an update by delta names what it reused and its range requests (at ${SECONDS}s)"
python3 - "$build_in/Paks/a.pak" <<'PY'
import os, sys
b = bytearray(open(sys.argv[1], "rb").read())
b[3000000:3000000] = os.urandom(5000)
open(sys.argv[1], "wb").write(bytes(b))
PY
publish --version 2
at=$(mark)
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "update (exit $?): $out"
expect "$at" "the delta" "worker: delta Paks/a.pak: reused [0-9]+ bytes \(.* from Paks/a.pak\), fetched [0-9]+ bytes, [0-9]+ request\(s\)$"
expect "$at" "a range request" "GET /launcher/o/$(sha Paks/a.pak) bytes=[0-9,-]+ from $ip: 206, [0-9]+ bytes"

echo "--- a body cut mid-way and a 503: the request's error or status, and the retry's cause (at ${SECONDS}s)"
head -c 3000000 /dev/urandom > "$build_in/Paks/b.pak"
head -c 2000000 /dev/urandom > "$build_in/Paks/c.pak"
publish --version 3
rules "[{\"path\": \"/launcher/o/$(sha Paks/b.pak)\", \"cut_after\": 500000, \"times\": 1},
        {\"path\": \"/launcher/o/$(sha Paks/c.pak)\", \"status\": 503, \"times\": 1}]"
at=$(mark)
out=$(headless --press-update --exit-on-ready --timeout 120 --fast-waits 20) || fail "faults (exit $?): $out"
# Wine's WinHTTP ends such a body as if whole; Windows fails the read with a code.
expect "$at" "the cut body" "GET /launcher/o/$(sha Paks/b.pak) from $ip: 200, 500000 bytes in [0-9]+ ms, (new|reused) connection, (ended before its Content-Length of 3000000: the connection closed|broke off: error 120[0-9]+ \(ERROR_WINHTTP_[A-Z_]+\))$"
expect "$at" "the cut body's retry" "Paks/b.pak from https://$ip, attempt 1: (the answer ended before the file's end|no answer, or it broke off)"
expect "$at" "the 503" "GET /launcher/o/$(sha Paks/c.pak) from $ip: 503, [0-9]+ bytes"
expect "$at" "the 503's retry" "Paks/c.pak from https://$ip, attempt 1: the source answered 503$"
expect "$at" "the resume" "GET /launcher/o/$(sha Paks/b.pak) bytes=500000- from $ip: 206, 2500000 bytes"
cat "$log" > "$state/kept.log"

echo "--- no line holds the key, a Steam ID or the user's name; folders are rewritten (at ${SECONDS}s)"
user=$(whoami)
at=$(mark)
headless --exit-on-ready --timeout 60 --game-folder "C:\\users\\$user\\Games\\Tervalon" >/dev/null || fail "move into the profile"
expect "$at" "the folder in the profile" "Ready: The game is now in %USERPROFILE%\\\\Games\\\\Tervalon • up to date$"
headless --exit-on-ready --timeout 60 --game-folder "C:\\Players\\$user\\Tervalon" >/dev/null || fail "move under the user's name"
expect "$at" "the user's name outside the profile" "Ready: The game is now in C:\\\\Players\\\\<user>\\\\Tervalon • up to date$"
steam_id=76561198012345678
headless --exit-on-ready --timeout 60 --game-folder "C:\\Games\\$steam_id\\Tervalon" >/dev/null || fail "move under a Steam ID"
expect "$at" "the Steam ID rewritten" "Ready: The game is now in C:\\\\Games\\\\<steam id>\\\\Tervalon • up to date$"
game="$prefix/drive_c/Games/$steam_id/Tervalon"
for secret in "$key_b64" "manifest_key" "$steam_id" "users\\$user" "users/$user" "/root/" "\\$user\\"; do
    grep -iqF -- "$secret" "$log" "$state/stderr" && fail "the log holds \"$secret\": $(grep -iF -- "$secret" "$log" | head -3)"
done
grep -vE "$line_shape" "$log" | head -3 | grep . && fail "lines not of the log's shape"

echo "--- a refused release is logged with its cause; the verified game plays offline meanwhile (at ${SECONDS}s)"
sed -i 's/^expires \([0-9]*\)$/expires 1\1/' "$root/launcher/release"  # changed after signing
export TVL_FAKE_STAY_MS=3000 TVL_FAKE_EXIT_CODE=7  # the stand-in game's run, passed on by the launcher
TVL_FAKE_STAY_MS=600000 "$repo/scripts/wine-run.sh" "$prefix" "$steam_dir/steam.exe" >/dev/null 2>&1 &
at=$(mark)
out=$(headless --play-offline --fast-waits 20 --timeout 60) || fail "play offline while refused (exit $?): $out"
expect "$at" "the refusal" "worker: release: refused: /launcher/release is malformed or not signed with the game's key$"
expect "$at" "the refusal shown" "worker: ServerError: This update is not signed with the game's key"
grep -q "^Offline: playing version 3$" <<<"$out" || fail "no offline game: $out"
grep -q "^Running: Tervalon is running" <<<"$out" || fail "no Running while the game ran: $out"
expect "$at" "the game's start" "window: started C:\\\\Games\\\\<steam id>\\\\Tervalon\\\\Tervalon.exe, process [0-9]+$"
expect "$at" "the game's end" "monitor: Tervalon.exe \(process [0-9]+\) ended with exit code 7 \(0x00000007\)$"
# After the game the phase from before it is back, not "Up to date".
grep -A3 "^Running:" <<<"$out" | grep -q "^ServerError: This update is not signed" || fail "not back to ServerError: $out"

echo "--- the server stopped: plays offline; a changed size or time, or no release ever accepted, refuses (at ${SECONDS}s)"
server_ctl stop "$state"
at=$(mark)
out=$(headless --play-offline --fast-waits 20 --timeout 60) || fail "play offline, server stopped (exit $?): $out"
grep -q "^ServerError: Can't reach the server" <<<"$out" || fail "the server was reachable: $out"
grep -q "^Offline: the game has ended$" <<<"$out" || fail "the monitor did not see the game end: $out"
expect "$at" "the unreachable server" "GET /launcher/info from $ip: no answer in [0-9]+ ms: error 12029 \(ERROR_WINHTTP_CANNOT_CONNECT\)$"
started() { grep -c '^Tervalon.exe|' "$game/started.txt" 2>/dev/null || echo 0; }
before=$(started)
touch -d '2001-01-01' "$game/Paks/b.pak"
out=$(headless --play-offline --fast-waits 20 --timeout 60) && fail "played with a file's time changed: $out"
grep -q "^Offline: refused: Paks/b.pak has changed since it was verified" <<<"$out" || fail "no refusal for the time: $out"
truncate -s -1 "$game/Paks/c.pak"
touch -d '2001-01-01' "$game/Paks/b.pak"
out=$(headless --play-offline --fast-waits 20 --timeout 60) && fail "played with a file's size changed: $out"
grep -q "^Offline: refused: Paks/[bc].pak has changed since it was verified" <<<"$out" || fail "no refusal for the size: $out"
[ "$(started)" = "$before" ] || fail "a refused offline play started the game"
rm -rf "$data"
out=$(headless --play-offline --fast-waits 20 --timeout 60) && fail "played with no release ever accepted: $out"
grep -q "^Offline: refused: No update was ever accepted on this computer" <<<"$out" || fail "no refusal without a release: $out"
[ "$(started)" = "$before" ] || fail "a refused offline play started the game"
pkill -9 -f 'log_story.steam' 2>/dev/null || true

echo "--- under load: 10,000 cycles' worth rotate at 2 MiB; two writers and a kill -9 leave whole lines (at ${SECONDS}s)"
logs="$state/logs"
rm -rf "$logs" && mkdir -p "$logs"
writer() { "$repo/scripts/wine-run.sh" "$prefix" "$build/log_writer.exe" "$(winepath -w "$logs" 2>/dev/null)" "$@"; }
stamp='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z'
whole="$stamp (worker: [A-Z] [0-9]+: GET /launcher/info .* reused connection|worker: log_writer [A-Z] started|log: at this run's start: log_writer [A-Z] started)\$"
only_whole() {
    local bad
    bad=$(cat "$logs"/launcher*.log | grep -cvE "$whole" || true)
    [ "$bad" = 0 ] || fail "$1: $bad torn or foreign line(s): $(cat "$logs"/launcher*.log | grep -vE "$whole" | head -2)"
}
numbers() { cat "$logs/launcher.1.log" "$logs/launcher.log" | sed -n "s/.* $1 \([0-9]*\): GET.*/\1/p"; }
writer A 10000 || fail "the writer failed"
for f in launcher.log launcher.1.log; do
    size=$(stat -c %s "$logs/$f")
    [ "$size" -gt 0 ] && [ "$size" -le 1048576 ] || fail "$f holds $size bytes"
done
only_whole "one writer"
# The newest lines are kept, in order, with none lost between the two files.
[ "$(numbers A | tail -1)" = 10000 ] || fail "the last line is not the newest"
in_order() { numbers "$1" | awk 'NR > 1 && $1 != prev + 1 { bad = 1 } { prev = $1 } END { exit bad }'; }
in_order A || fail "lines lost or out of order"
# Each file the writer started opens with its start line again.
head -1 "$logs/launcher.log" | grep -q "log: at this run's start: log_writer A started$" ||
    fail "the new file does not open with the run's start: $(head -1 "$logs/launcher.log")"
echo "kept $(numbers A | wc -l) of 10000 lines in $(($(stat -c %s "$logs/launcher.log") + $(stat -c %s "$logs/launcher.1.log"))) bytes"
rm -f "$logs"/launcher*.log
# K writes without end; B and C start beside it, and K is killed while all
# three write. Only the oldest lines may have rotated away: each writer's
# lines that are left run in order to its last.
writer K 400000 2>/dev/null & k=$!
wait_lines() { for _ in $(seq 300); do [ "$(numbers "$1" | wc -l)" -gt 0 ] && return 0; sleep 0.1; done; fail "no lines from $1"; }
wait_lines K
writer B 2000 & b=$!
writer C 2000 & c=$!
wait_lines B
pkill -9 -f 'log_writer.exe.* K 400000' || fail "no writer to kill"
wait "$b" || fail "writer B failed beside the others"
wait "$c" || fail "writer C failed beside the others"
wait "$k" 2>/dev/null || true
only_whole "two writers and a kill -9"
[ "$(numbers B | tail -1)" = 2000 ] && [ "$(numbers C | tail -1)" = 2000 ] || fail "a writer's last line is missing"
in_order B && in_order C || fail "a writer lost lines beside the others"
echo "K wrote $(numbers K | wc -l) whole lines before its kill -9"

# A viewer holds launcher.log without delete sharing: it cannot move aside,
# so the file stops at its bound, says so once, and the start lines are not
# written again and again.
rm -f "$logs"/launcher*.log
writer H 12000 held || fail "the held writer failed"
size=$(stat -c %s "$logs/launcher.log")
[ "$size" -le 1048576 ] || fail "a held log grew to $size bytes"
notes=$(grep -c "log: launcher.log is full and another program holds it" "$logs/launcher.log" || true)
[ "$notes" = 1 ] || fail "the held log said so $notes time(s)"
starts=$(grep -c "log_writer H started" "$logs/launcher.log" || true)
[ "$starts" = 1 ] || fail "the start line was written $starts time(s) into a held log"
[ ! -e "$logs/launcher.1.log" ] || fail "a held log was counted as moved aside"
echo "a held log stopped at $size bytes"
