#!/usr/bin/env bash
# Signed releases as an attacker would try them, with the real parts: keys,
# releases and objects from tools/tvl_publish.py, Debian's stock nginx with
# the shipped config, TVLHeadless and the window holding the key in their
# TVLLauncher.ini, and the accessibility probe reading what the window shows.
#   signed_story.sh BUILD_DIR STATE_DIR ADDRESS
source "$(dirname "$0")/support/nginx_story_env.sh" "signed story" "$@"
[ -n "${DISPLAY:-}" ] || fail "needs a display (scripts/test.sh starts Xvfb)"

build="$state/build"
app="$state/app"
rm -rf "$build" "$site" "$app" "$state/nginx" "$state/owner.key"
mkdir -p "$build/Tervalon/Content/Paks" "$app"
head -c 40000 /dev/urandom > "$build/Tervalon.exe"
head -c 700000 /dev/urandom > "$build/Tervalon/Content/Paks/Level 1.pak"
cp "$build_dir/TVLHeadless.exe" "$build_dir/TVLLauncher.exe" "$app/"
printf 'Patch 5 signed\n* Faster loading\n' > "$state/notes.txt"
python3 -c "import sys; sys.path.insert(0, '$repo/tests/support'); import test_site as t; t.make_banner('$state/signed.png', 680, 200); t.make_banner('$state/evil.png', 300, 90)"
launcher_pid=""
trap 'kill ${launcher_pid:-} 2>/dev/null || true; nginx_ctl stop "$state/nginx"; rm -rf "$site_root"' EXIT

key_line=$(tool keygen "$state/owner.key" | grep '^manifest_key=')
ini() { printf 'server=%s\r\n%s' "$address" "$1" > "$app/TVLLauncher.ini"; }
ini "$key_line"$'\r\n'
headless() { "$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" "$@" | tr -d '\r'; }
probe() { "$repo/scripts/wine-run.sh" "$prefix" "$build_dir/accessibility_probe.exe" "$@" | tr -d '\r'; }
log_since() { tail -n +"$(($1 + 1))" "$state/nginx/access.log"; }
requests() { wc -l < "$state/nginx/access.log"; }
installed_matches() { (cd "$build" && find . -type f | while read -r f; do cmp -s "$f" "$game/$f" || exit 1; done); }
floor() { tr -d '\r' < "$data/release_versions.txt"; }
day_of() { date -u -d "@$1" +%F; }
sign_release() {  # sign_release FILE: FILE's lines before sig, signed again with the owner's key
    python3 - "$1" "$state/owner.key" <<'PY'
import os, sys
sys.path.insert(0, os.path.join(os.environ["REPO"], "tools"))
import publisher.signing as t
path, key = sys.argv[1:]
text = open(path, "rb").read()
body = text[:text.index(b"sig ")]
raw = t.raw_signature(t.openssl("dgst", "-sha256", "-sign", key, data=body))
open(path, "wb").write(body + b"sig " + __import__("base64").b64encode(raw) + b"\n")
PY
}
export REPO="$repo"
# A start that must be refused: it runs until the time-out, shows $1, asks
# for no game file and leaves the installed files and the rollback record.
expect_refused() {
    local text="$1" why="$2" before out record
    before=$(requests) record=$(floor)
    out=$(headless --press-update --fast-waits 100 --timeout 4 || true)
    grep -qF "$text" <<<"$out" || fail "$why: no '$text' in: $out"
    grep -q '^Checking:' <<<"$out" && fail "$why: files were judged against it: $out"
    log_since "$before" | grep -qE '^/launcher/(file|o/[0-9a-f]{40} )' && fail "$why: game files were requested"
    installed_matches || fail "$why: the installed files changed"
    [ "$(floor)" = "$record" ] || fail "$why: the rollback record changed to $(floor)"
    echo "$out"
}

echo "--- a signed release installs through its objects alone (at ${SECONDS}s)"
tool publish "$build" --site "$site" --version 5 --sign "$state/owner.key" --host "$address" \
    --notes "$state/notes.txt" --banner "$state/signed.png" | grep -q ", signed$" || fail "not signed"
out=$(tool verify --site "$site" --key "$key_line") || fail "verify refused: $out"
grep -q "^release: version 5 for $address, signed" <<<"$out" || fail "verify did not check the release: $out"
rm -rf "$state/site-v5"
cp -a "$site" "$state/site-v5"  # replayed later, once players have version 6
nginx_ctl start "$state/nginx" "$address" "$site"
rm -rf "$data"
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "install: $out"
expires=$(sed -n 's/^expires //p' "$site/launcher/release")
grep -qx "Release: version 5 for $address, signed, expires $(day_of "$expires")" <<<"$out" || fail "no release line: $out"
installed_matches || fail "the signed install differs from the build"
grep -Eq '^/launcher/(manifest|file)' "$state/nginx/access.log" && fail "the manifest or files at fixed addresses were asked for"
grep -Eq '^/launcher/o/[0-9a-f]{40} 200' "$state/nginx/access.log" || fail "no game file came as an object"
[[ "$(floor)" == *" $address 5 0" ]] || fail "no rollback record: $(floor)"

echo "--- a man in the middle's notes and banner are never shown or saved (at ${SECONDS}s)"
python3 - "$site/launcher/info" <<'PY'
import json, sys
info = json.load(open(sys.argv[1]))
info["notes"] = "SECURITY NOTICE: download the fixed launcher and enter your Steam password"
info["version"] = 5
open(sys.argv[1], "w").write(json.dumps(info))
PY
cp "$state/evil.png" "$site/launcher/banner"
before=$(requests)
"$repo/scripts/wine-run.sh" "$prefix" "$app/TVLLauncher.exe" >/dev/null 2>&1 &
launcher_pid=$!
probe wait-name 3 PLAY 120 || fail "the window never read PLAY"
probe check PLAY "Patch 5 signed" || fail "the window shows other notes than the signed ones"
cmp -s "$data/banner.img" "$state/signed.png" || fail "banner.img is not the signed banner"
log_since "$before" | grep -q '^/launcher/banner' && fail "the unsigned banner was asked for"
kill "$launcher_pid" 2>/dev/null || true
wait "$launcher_pid" 2>/dev/null || true
launcher_pid=""

echo "--- a newer version installs; then each broken release is refused (at ${SECONDS}s)"
head -c 1000 /dev/urandom >> "$build/Tervalon/Content/Paks/Level 1.pak"
tool publish "$build" --site "$site" --version 6 --sign "$state/owner.key" --host "$address" >/dev/null
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "update to 6: $out"
installed_matches || fail "version 6 did not install"
[[ "$(floor)" == *" $address 6 0" ]] || fail "the record did not rise to 6: $(floor)"
cp "$site/launcher/release" "$state/release.good"

rm -rf "$state/beta"  # a beta site at version 100, signed with the same key
tool publish "$build" --site "$state/beta" --version 100 --sign "$state/owner.key" --host beta.tervalon.net >/dev/null
cp -r "$state/beta/launcher/o/." "$site/launcher/o/"
cp "$state/beta/launcher/release" "$site/launcher/release"
expect_refused "ServerError: The server sent an update made for another server (beta.tervalon.net)" "another host" >/dev/null

cp "$state/release.good" "$site/launcher/release"
sed -i 's/^expires .*/expires 1700000000/' "$site/launcher/release"
sign_release "$site/launcher/release"
out=$(expect_refused "expired on 2023-11-14, and this computer's date is $(date -u +%F)" "an expired release")
grep -q "^Release: refused: version 6 expired on 2023-11-14" <<<"$out" || fail "expired: $out"

cp "$state/release.good" "$site/launcher/release"
sed -i 's/^version 6$/version 7/' "$site/launcher/release"
expect_refused "ServerError: This update is not signed with the game's key" "a signature over other bytes" >/dev/null

cp "$state/release.good" "$site/launcher/release"
manifest_object="$site/launcher/o/$(sed -n 's/^manifest \([0-9a-f]*\) .*/\1/p' "$state/release.good")"
cp "$manifest_object" "$state/manifest.good"
python3 -c "import sys; p=sys.argv[1]; b=bytearray(open(p,'rb').read()); b[-5]^=1; open(p,'wb').write(b)" "$manifest_object"
expect_refused "does not match its signed description" "a manifest object with one byte changed" >/dev/null
cp "$state/manifest.good" "$manifest_object"

# A man in the middle (or a mirror restored from a backup) replays the old
# signed site: the release in use stands, and nothing of version 5 is taken.
rm -rf "$site" && cp -a "$state/site-v5" "$site"
out=$(expect_refused "Release: version 5 is older than version 6 in use: nothing newer yet" "a replay")
grep -q "^ServerError: " <<<"$out" || fail "a replay without version 6's objects did not stop: $out"
# Without the release in use kept, the replay is refused as a rollback.
mv "$data/release.txt" "$state/release.kept"
out=$(expect_refused "ServerError: The server offers version 5, older than the installed version 6, so it was refused." "a rollback")
grep -q "^Release: refused: version 5 is older than version 6" <<<"$out" || fail "rollback: $out"
mv "$state/release.kept" "$data/release.txt"

echo "--- a malformed key stops updates; it never falls back to unsigned (at ${SECONDS}s)"
ini "manifest_key=${key_line#manifest_key=}x"$'\r\n'
before=$(requests)
expect_refused "LocalError: The manifest_key in TVLLauncher.ini is not a valid key" "a bad key" >/dev/null
[ "$(requests)" = "$before" ] || fail "a bad key still asked the server"

echo "--- without a key: an unsigned release installs through objects, a site without a release as before (at ${SECONDS}s)"
ini ""
rm -rf "$site" "$data"
tool publish "$build" --site "$site" --version 8 --host "$address" >/dev/null
before=$(requests)
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "an unsigned release: $out"
grep -qx "Release: version 8 for $address, not checked (no manifest key)" <<<"$out" || fail "unsigned: $out"
installed_matches || fail "the unsigned release did not install"
log_since "$before" | grep -Eq '^/launcher/(manifest|file)' && fail "an unsigned release still used the fixed addresses"
rm -rf "$site" "$data"
tool publish "$build" --site "$site" --version 9 >/dev/null
before=$(requests)
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "a site without a release: $out"
installed_matches || fail "the site without a release did not install"
grep -q '^Release:' <<<"$out" && fail "a site without a release spoke of one: $out"
log_since "$before" | grep -q '^/launcher/release 404' || fail "no look for a release"
log_since "$before" | grep -q '^/launcher/file' || fail "the files at fixed addresses were not used"

echo "--- nginx serves the release and objects, and nothing retired (at ${SECONDS}s)"
code() { curl -sk -o /dev/null -w '%{http_code}' "https://$address$1"; }
tool publish "$build" --site "$site" --version 10 --host "$address" >/dev/null
[ "$(code /launcher/release)" = 200 ] || fail "no release"
[ "$(code "/launcher/o/$(sha1sum < "$build/Tervalon.exe" | cut -d' ' -f1)")" = 200 ] || fail "no object"
touch "$site/launcher/manifest.sig" "$site/launcher/self"
for path in /launcher/manifest.sig /launcher/self "/launcher/o/$(printf "A%.0s" {1..40})" /launcher/o/release; do
    [ "$(code "$path")" = 404 ] || fail "nginx served $path"
done
echo "all steps passed"
