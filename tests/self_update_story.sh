#!/usr/bin/env bash
# The launcher keeps itself current, with the real TVLLauncher.exe and
# TVLHeadless.exe under Wine and the test server. The offered build is this
# launcher with a few bytes appended, so only its signed document tells it
# apart. Offers that must be refused leave nothing behind; a kill -9 during
# the download or at any moment of the swap leaves a launcher that starts.
#   self_update_story.sh BUILD_DIR SERVER_STATE_DIR SERVER_ADDRESS
source "$(dirname "$0")/support/story_env.sh" "self-update story" display "$@"
publish() { python3 "$repo/tools/tvl_publish.py" "$@"; }

root="$state/root"
rm -rf "$root/files" "$root/launcher" "$root/rules.json" "$root/requests.log"
mkdir -p "$root/files"
head -c 1000 /dev/urandom > "$root/files/data.bin"
python3 "$here/support/test_site.py" --root "$root" --version 3 >/dev/null
key="$state/owner.key"
rm -f "$key"
key_line=$(publish keygen "$key" | grep '^manifest_key=')

app="$state/app"
rm -rf "$app"
mkdir -p "$app"
exe="$app/TVLLauncher.exe"
cp "$build/TVLLauncher.exe" "$exe"
cp "$build/TVLHeadless.exe" "$app/"
ini() { printf 'server=%s\r\n%s\r\n' "$address" "$1" > "$app/TVLLauncher.ini"; }
ini "$key_line"
old="$state/old.exe"
cp "$exe" "$old"
offered="$state/offered.exe"
cp "$exe" "$offered"
printf 'the build offered as version 2' >> "$offered"

run() { "$repo/scripts/wine-run.sh" "$prefix" "$@"; }
# This story's launchers only, whether Wine shows a Unix or a Windows path.
mine='self_update_story.app.TVLLauncher\.exe'
kill_launchers() {  # again until none is left: a launcher may be starting its successor
    for _ in $(seq 100); do
        pkill -9 -f "$mine" 2>/dev/null || true
        sleep 0.1
        pgrep -f "$mine" >/dev/null || return 0
    done
    fail "a launcher outlived kill -9: $(pgrep -af "$mine")"
}
trap 'kill_launchers; pkill -9 -f "self_update_story.app.TVLHeadless" 2>/dev/null || true' EXIT
window_up() {
    for _ in $(seq 300); do
        xdotool search --onlyvisible --name '^TVL UE4 Launcher$' >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
requests() { grep -c "\"target\": \"$1\"" "$root/requests.log" 2>/dev/null || true; }
leftovers() { ls "$app" | grep -E '\.new' || true; }

# TVLHeadless reports what it finds; it stops at its first "Launcher:" line.
headless_says() {
    local out="$state/headless.out"
    run "$app/TVLHeadless.exe" --timeout 60 > "$out" 2>/dev/null &
    local pid=$!
    for _ in $(seq 300); do grep -q '^Launcher: ' "$out" && break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    pkill -9 -f 'self_update_story.app.TVLHeadless' 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    tr -d '\r' < "$out" | grep '^Launcher: ' | head -1
}
# A signed document of our own making, for the offers publish would refuse to write.
offer() {  # offer VERSION SIZE SHA256 -> launcher/self and self.sig, signed with the key
    python3 - "$root/launcher" "$key" "$1" "$2" "$3" <<'PY'
import os, sys
sys.path.insert(0, os.path.join(os.environ["REPO"], "tools"))
import tvl_publish as t
folder, key, version, size, digest = sys.argv[1:]
doc = f'{{"version": {version}, "size": {size}, "sha256": "{digest}"}}\n'.encode()
open(os.path.join(folder, "self"), "wb").write(doc)
open(os.path.join(folder, "self.sig"), "wb").write(t.sign(doc, key))
PY
}
export REPO="$repo"
sha() { sha256sum "$1" | cut -d' ' -f1; }
size() { stat -c %s "$1"; }

# ---- what is refused leaves nothing behind --------------------------------
ini ""
run "$app/TVLHeadless.exe" --press-update --exit-on-ready --timeout 60 >/dev/null 2>&1 || fail "no Ready without a key"
[ "$(requests /launcher/self)" = 0 ] || fail "a launcher without a key asked for /launcher/self"
ini "$key_line"

publish launcher "$offered" --site "$root" --sign "$key" --version 2 >/dev/null
cp "$root/launcher/self" "$state/good.self"
cp "$root/launcher/self.sig" "$state/good.sig"
printf 'not the signed text' > "$root/launcher/self.sig"
said=$(headless_says); echo "bad signature: $said"
[[ "$said" == *"not signed"* ]] || fail "a bad signature was not refused: $said"
offer 1 "$(size "$offered")" "$(sha "$offered")"
said=$(headless_says); echo "same version: $said"
[[ "$said" == *"not newer than version 1"* ]] || fail "the same version was not refused: $said"
offer 2 "$(( $(size "$offered") + 1 ))" "$(sha "$offered")"
said=$(headless_says); echo "wrong size: $said"
[[ "$said" == *"does not match"* ]] || fail "a wrong size was not refused: $said"
offer 2 "$(size "$offered")" "$(sha "$old")"
said=$(headless_says); echo "wrong hash: $said"
[[ "$said" == *"does not match"* ]] || fail "a wrong hash was not refused: $said"
# The good offer, attacked on the wire: the exe grows past what was signed,
# is cut off mid-way, or the document never ends.
cp "$state/good.self" "$root/launcher/self"
cp "$state/good.sig" "$root/launcher/self.sig"
for rule in '{"path": "/launcher/self.exe", "extra": 4096}' '{"path": "/launcher/self.exe", "cut_after": 500000}' \
            '{"path": "/launcher/self", "endless": true}'; do
    echo "[$rule]" > "$root/rules.json"
    said=$(headless_says); echo "$rule: $said"
    [[ "$said" == *"prepared"* ]] && fail "prepared despite $rule"
    [ -n "$said" ] || fail "no word on $rule"
done
rm -f "$root/rules.json"
[ -z "$(leftovers)" ] || fail "refused offers left $(leftovers)"
cmp -s "$exe" "$old" || fail "a refused offer changed the exe"

# ---- a signed offer is prepared, then swapped in at the next start ---------
cp "$state/good.self" "$root/launcher/self"
cp "$state/good.sig" "$root/launcher/self.sig"
said=$(headless_says); echo "headless: $said"
[ "$said" = "Launcher: version 2 offered, signed, prepared" ] || fail "TVLHeadless did not prepare: $said"
said=$(headless_says); echo "offered again: $said"
[[ "$said" == *"not newer than version 2"* ]] || fail "a version already prepared was fetched again: $said"
rm -f "$app"/TVLHeadless.exe.new*  # TVLHeadless never swaps; its build is of no further use

run "$exe" >/dev/null 2>&1 &
for _ in $(seq 300); do [ -f "$exe.new.self" ] && break; sleep 0.1; done
[ -f "$exe.new.self" ] || fail "the launcher prepared nothing"
window_up || fail "no window while preparing"
kill_launchers
cmp -s "$exe.new" "$offered" || fail "the prepared build is not the served bytes"
cmp -s "$exe" "$old" || fail "the exe changed before the next start"
mkdir -p "$state/prepared"
cp "$exe.new" "$exe.new.self" "$exe.new.self.sig" "$state/prepared/"

downloads=$(requests /launcher/self.exe) looks=$(requests /launcher/self)
run "$exe" >/dev/null 2>&1 &
for _ in $(seq 300); do cmp -s "$exe" "$offered" && break; sleep 0.1; done
cmp -s "$exe" "$offered" || fail "the next start did not swap the offered build in"
window_up || fail "no launcher runs from the swapped exe"
sleep 2  # its own look at the offer: the build it runs already
[ -z "$(leftovers)" ] || fail "the swap left $(leftovers)"
[ "$(requests /launcher/self)" -gt "$looks" ] || fail "the swapped launcher never looked at the offer"
[ "$(requests /launcher/self.exe)" = "$downloads" ] || fail "the swapped launcher downloaded itself again"
kill_launchers
echo "swapped: the exe holds the served bytes and runs"

# ---- a build changed after it was prepared is deleted, not swapped --------
cp "$old" "$exe"
cp "$state/prepared/"* "$app/"
printf 'x' >> "$exe.new"
rm -f "$root/launcher/self"  # no fresh offer to prepare it again
run "$exe" >/dev/null 2>&1 &
window_up || fail "no window after refusing a changed build"
[ -z "$(leftovers)" ] || fail "a changed build was kept: $(leftovers)"
cmp -s "$exe" "$old" || fail "a changed build was swapped in"
kill_launchers
cp "$state/good.self" "$root/launcher/self"

# ---- a build attacked between its check and its start is still the one run --
# A test build of the launcher pauses right after its check; another Windows
# program then tries to write, rename or delete the build and put an unsigned
# program (a stand-in that notes any start in started.txt) in its place.
cp "$build/TVLLauncher_swap_seam.exe" "$exe"
rm -f "$exe".new* "$app/started.txt"
cp "$state/prepared/"* "$app/"
unsigned="$state/unsigned.exe"
cp "$build/fakes/steam.exe" "$unsigned"
run "$exe" >/dev/null 2>&1 &
for _ in $(seq 300); do [ -f "$exe.new.checked" ] && break; sleep 0.1; done
[ -f "$exe.new.checked" ] || fail "the seam build never reached the start of its prepared build"
status=0
attacks=$(run "$build/file_tamper.exe" replace "$(winepath -w "$exe.new" 2>/dev/null)" \
    "$(winepath -w "$unsigned" 2>/dev/null)" | tr -d '\r') ||
    status=$?
echo "$attacks" | sed 's/^/attack on the checked build: /'
[ "$status" = 0 ] || fail "the prepared build was changed between its check and its start"
touch "$exe.new.go"
for _ in $(seq 300); do cmp -s "$exe" "$offered" && break; sleep 0.1; done
cmp -s "$exe" "$offered" || fail "the checked build was not swapped in"
kill_launchers
[ ! -e "$app/started.txt" ] || fail "an unsigned build ran: $(cat "$app/started.txt")"
rm -f "$exe".new* "$unsigned".copy
cp "$old" "$exe"
echo "the build checked is the build started"

# ---- kill -9 during the download -------------------------------------------
echo '[{"path": "/launcher/self.exe", "chunk": 65536, "delay_ms": 150}]' > "$root/rules.json"
before=$(requests /launcher/self.exe)
run "$exe" >/dev/null 2>&1 &
for _ in $(seq 300); do [ "$(requests /launcher/self.exe)" -gt "$before" ] && break; sleep 0.1; done
sleep 1
kill_launchers
[ ! -f "$exe.new.self" ] || fail "a download killed mid-way left a prepared build"
cmp -s "$exe" "$old" || fail "a killed download changed the exe"
rm -f "$root/rules.json" "$exe".new*
run "$exe" >/dev/null 2>&1 &
window_up || fail "no launcher starts after a killed download"
kill_launchers

# ---- kill -9 at any moment of the swap -------------------------------------
for delay in 0 0.1 0.2 0.25 0.3 0.5 0.8 1.2; do
    cp "$old" "$exe"
    rm -f "$exe".new*
    cp "$state/prepared/"* "$app/"
    run "$exe" >/dev/null 2>&1 &
    sleep "$delay"
    kill_launchers
    if cmp -s "$exe" "$old"; then now=old; elif cmp -s "$exe" "$offered"; then now=new; else
        fail "killed after ${delay} s, the exe is neither the old launcher nor the new one"
    fi
    run "$exe" >/dev/null 2>&1 &
    window_up || fail "killed after ${delay} s (exe: $now), no launcher starts"
    kill_launchers
    echo "killed after ${delay} s: the $now launcher, and it starts"
done
echo "the launcher keeps itself current"
