#!/usr/bin/env bash
# The launcher keeps itself current, with the real TVLLauncher.exe and
# TVLHeadless.exe under Wine and the test server. The offered build is this
# launcher with a few bytes appended, so only the signed release that names
# it tells it apart. Offers that must be refused leave nothing behind; a kill -9 during
# the download or at any moment of the swap leaves a launcher that starts.
#   self_update_story.sh BUILD_DIR SERVER_STATE_DIR SERVER_ADDRESS
source "$(dirname "$0")/support/story_env.sh" "self-update story" display "$@"
publish() { python3 "$repo/tools/tvl_publish.py" "$@"; }

root="$state/root"
rm -rf "$root" "$state/game"
mkdir -p "$state/game"
head -c 1000 /dev/urandom > "$state/game/data.bin"
key="$state/owner.key"
rm -f "$key"
key_line=$(publish keygen "$key" | grep '^manifest_key=')
# The game as a signed release (the test server serves ROOT/launcher/release
# and its objects), with the info the test server serves beside it.
publish publish "$state/game" --site "$root" --version 3 --sign "$key" --host "$address" >/dev/null
python3 "$here/support/test_site.py" --root "$root" --version 3 >/dev/null
data="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"

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
printf 'the build offered as version 9' >> "$offered"

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

# TVLHeadless reports what it finds; it stops at its first "Launcher:" line,
# or at a refused release, after which no offer is looked at.
headless_says() {
    local out="$state/headless.out"
    run "$app/TVLHeadless.exe" --timeout 60 > "$out" 2>/dev/null &
    local pid=$!
    for _ in $(seq 300); do grep -qE '^(Launcher: |Release: refused)' "$out" && break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    pkill -9 -f 'self_update_story.app.TVLHeadless' 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    tr -d '\r' < "$out" | grep -E '^(Launcher: |Release: refused)' | head -1
}
export REPO="$repo"
sha() { sha256sum "$1" | cut -d' ' -f1; }
size() { stat -c %s "$1"; }
# The site's release offering VERSION SHA256 SIZE (or nothing), signed with the key.
offer() {
    python3 - "$root" "$key" "$@" <<'PY'
import os, sys
sys.path.insert(0, os.path.join(os.environ["REPO"], "tools"))
import publisher.release as t
root, key, *launcher = sys.argv[1:]
release = t.read_release(root)
release.pop("launcher", None)
if launcher:
    release["launcher"] = (int(launcher[0]), launcher[1], int(launcher[2]))
t.write_release(root, release, key)
PY
}
store() { cp "$1" "$root/launcher/o/$2"; }  # bytes at an object's name, whatever their hash

# ---- what is refused leaves nothing behind --------------------------------
publish launcher "$offered" --site "$root" --sign "$key" --version 9 >/dev/null
good_object="/launcher/o/$(sha "$offered")"
ini ""
run "$app/TVLHeadless.exe" --press-update --exit-on-ready --timeout 60 >/dev/null 2>&1 || fail "no Ready without a key"
[ "$(requests "$good_object")" = 0 ] || fail "a launcher without a key downloaded the offered build"
ini "$key_line"
cp "$root/launcher/release" "$state/good.release"
sed -i 's/^version 3$/version 4/' "$root/launcher/release"
said=$(headless_says); echo "bad signature: $said"
[[ "$said" == *"not signed with the game's key"* ]] || fail "a bad signature was not refused: $said"
cp "$state/good.release" "$root/launcher/release"
offer 1 "$(sha "$offered")" "$(size "$offered")"
said=$(headless_says); echo "same version: $said"
[[ "$said" == *"not newer than version 1"* ]] || fail "the same version was not refused: $said"
offer 9 "$(sha "$offered")" "$(( $(size "$offered") + 1 ))"
said=$(headless_says); echo "wrong size: $said"
[[ "$said" == *"does not match"* ]] || fail "a wrong size was not refused: $said"
store "$offered" "$(sha "$old")"
offer 9 "$(sha "$old")" "$(size "$offered")"
said=$(headless_says); echo "wrong hash: $said"
[[ "$said" == *"does not match"* ]] || fail "a wrong hash was not refused: $said"
rm "$root/launcher/o/$(sha "$old")"
# The good offer, attacked on the wire: the exe grows past what was signed,
# is cut off mid-way, or the release never ends.
cp "$state/good.release" "$root/launcher/release"
for rule in "{\"path\": \"$good_object\", \"extra\": 4096}" "{\"path\": \"$good_object\", \"cut_after\": 500000}" \
            '{"path": "/launcher/release", "endless": true}'; do
    echo "[$rule]" > "$root/rules.json"
    said=$(headless_says); echo "$rule: $said"
    [[ "$said" == *"prepared"* ]] && fail "prepared despite $rule"
    [ -n "$said" ] || fail "no word on $rule"
done
rm -f "$root/rules.json"
[ -z "$(leftovers)" ] || fail "refused offers left $(leftovers)"
cmp -s "$exe" "$old" || fail "a refused offer changed the exe"

# ---- a signed offer is prepared, then swapped in at the next start ---------
said=$(headless_says); echo "headless: $said"
[ "$said" = "Launcher: version 9 offered, signed, prepared" ] || fail "TVLHeadless did not prepare: $said"
said=$(headless_says); echo "offered again: $said"
[[ "$said" == *"not newer than version 9"* ]] || fail "a version already prepared was fetched again: $said"
rm -f "$app"/TVLHeadless.exe.new*  # TVLHeadless never swaps; its build is of no further use

run "$exe" >/dev/null 2>&1 &
for _ in $(seq 300); do [ -f "$exe.new.release" ] && break; sleep 0.1; done
[ -f "$exe.new.release" ] || fail "the launcher prepared nothing"
window_up || fail "no window while preparing"
kill_launchers
cmp -s "$exe.new" "$offered" || fail "the prepared build is not the served bytes"
cmp -s "$exe" "$old" || fail "the exe changed before the next start"
rm -rf "$state/prepared" && mkdir -p "$state/prepared"
cp "$exe.new" "$exe.new.release" "$state/prepared/"

downloads=$(requests "$good_object") looks=$(requests /launcher/release)
run "$exe" >/dev/null 2>&1 &
for _ in $(seq 300); do cmp -s "$exe" "$offered" && break; sleep 0.1; done
cmp -s "$exe" "$offered" || fail "the next start did not swap the offered build in"
window_up || fail "no launcher runs from the swapped exe"
for _ in $(seq 100); do [ "$(requests /launcher/release)" -gt "$looks" ] && break; sleep 0.1; done
sleep 1  # its own look at the offer: the build it runs already
[ -z "$(leftovers)" ] || fail "the swap left $(leftovers)"
[ "$(requests /launcher/release)" -gt "$looks" ] || fail "the swapped launcher never looked at the release"
[ "$(requests "$good_object")" = "$downloads" ] || fail "the swapped launcher downloaded itself again"
kill_launchers
echo "swapped: the exe holds the served bytes and runs"

# ---- an older build offered by a release of the same version is no news -----
# The swapped launcher (compiled as version 1) was published as version 9. A
# replayed release of the same release version offers the old exe as 5.
store "$old" "$(sha "$old")"
offer 5 "$(sha "$old")" "$(size "$old")"
looks=$(requests /launcher/release) fetched=$(requests "/launcher/o/$(sha "$old")")
run "$exe" >/dev/null 2>&1 &
for _ in $(seq 300); do [ "$(requests /launcher/release)" -gt "$looks" ] && break; sleep 0.1; done
sleep 2
kill_launchers
[ "$(requests "/launcher/o/$(sha "$old")")" = "$fetched" ] || fail "the older build was downloaded"
[ -z "$(leftovers)" ] || fail "the older build was prepared: $(leftovers)"
cmp -s "$exe" "$offered" || fail "the launcher went back to an older build"
cp "$state/good.release" "$root/launcher/release"
rm -f "$data/release_versions.txt"  # the sections below prepare version 9 afresh
echo "an older build in a replayed release changes nothing"

# ---- a build changed after it was prepared is deleted, not swapped --------
cp "$old" "$exe"
cp "$state/prepared/"* "$app/"
printf 'x' >> "$exe.new"
offer  # no fresh offer to prepare it again
run "$exe" >/dev/null 2>&1 &
window_up || fail "no window after refusing a changed build"
[ -z "$(leftovers)" ] || fail "a changed build was kept: $(leftovers)"
cmp -s "$exe" "$old" || fail "a changed build was swapped in"
kill_launchers
cp "$state/good.release" "$root/launcher/release"

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
rm -f "$data/release_versions.txt"  # the swap above took version 9: offer it afresh
echo "[{\"path\": \"$good_object\", \"chunk\": 65536, \"delay_ms\": 150}]" > "$root/rules.json"
before=$(requests "$good_object")
run "$exe" >/dev/null 2>&1 &
for _ in $(seq 300); do [ "$(requests "$good_object")" -gt "$before" ] && break; sleep 0.1; done
sleep 1
kill_launchers
[ ! -f "$exe.new.release" ] || fail "a download killed mid-way left a prepared build"
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
