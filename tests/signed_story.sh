#!/usr/bin/env bash
# Signed updates as an attacker would try them, with the real parts: keys and
# signatures from tools/tvl_publish.py, Debian's stock nginx with the shipped
# config, and TVLHeadless holding the key in its TVLLauncher.ini.
#   signed_story.sh BUILD_DIR STATE_DIR ADDRESS
set -euo pipefail
build_dir="$1"
state="$(mkdir -p "$2" && cd "$2" && pwd)"
address="$3"
repo="$(cd "$(dirname "$0")/.." && pwd)"
prefix="$build_dir/wineprefix"
export WINEPREFIX="$prefix"
tool() { python3 "$repo/tools/tvl_publish.py" "$@"; }
nginx_ctl() { bash "$repo/tests/support/nginx_ctl.sh" "$@"; }
fail() { echo "signed story: $*" >&2; exit 1; }

build="$state/build"
# The site where Debian's nginx workers (www-data) can read it, wherever the build tree is.
site_root=$(mktemp -d /tmp/tvl-site.XXXXXX)
chmod 755 "$site_root"
site="$site_root/site"
app="$state/app"
data="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
game="$data/Game"
rm -rf "$build" "$site" "$app" "$state/nginx" "$state/owner.key"
mkdir -p "$build/Tervalon/Content/Paks" "$app"
head -c 40000 /dev/urandom > "$build/Tervalon.exe"
head -c 700000 /dev/urandom > "$build/Tervalon/Content/Paks/Level 1.pak"
cp "$build_dir/TVLHeadless.exe" "$app/"
trap 'nginx_ctl stop "$state/nginx"; rm -rf "$site_root"' EXIT

key_line=$(tool keygen "$state/owner.key" | grep '^manifest_key=')
[ "$(stat -c %a "$state/owner.key")" = 600 ] || fail "the private key is not 0600"
tool keygen "$state/owner.key" >/dev/null 2>&1 && fail "keygen overwrote a key"
ini() { printf 'server=%s\r\n%s' "$address" "$1" > "$app/TVLLauncher.ini"; }
ini "$key_line"$'\r\n'
headless() { "$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" "$@" | tr -d '\r'; }
log_since() { tail -n +"$(($1 + 1))" "$state/nginx/access.log"; }
requests() { wc -l < "$state/nginx/access.log"; }
installed_matches() { (cd "$build" && find . -type f | while read -r f; do cmp -s "$f" "$game/$f" || exit 1; done); }
# A start that must be refused: it runs until the time-out, shows $1 and asks for no file.
expect_refused() {
    local text="$1" why="$2" before out
    before=$(requests)
    out=$(headless --press-update --fast-waits 100 --timeout 4 || true)
    grep -qF "$text" <<<"$out" || fail "$why: no '$text' in: $out"
    grep -q '^Checking:' <<<"$out" && fail "$why: files were judged against it: $out"
    log_since "$before" | grep -q '^/launcher/file' && fail "$why: files were requested"
    echo "$out"
}

echo "--- a signed site installs byte for byte (at ${SECONDS}s)"
tool publish "$build" --site "$site" --version 5 --sign "$state/owner.key" --host "$address" | grep -q ", signed$" || fail "not signed"
tool verify --site "$site" --key "$key_line" | grep -q "^verified: version 5" || fail "verify refused a good site"
rm -rf "$state/site-v5"
cp -a "$site" "$state/site-v5"  # replayed later, once players have version 6
nginx_ctl start "$state/nginx" "$address" "$site"
rm -rf "$data"
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "install: $out"
grep -q "^Signature: verified with the game's key, version 5$" <<<"$out" || fail "no verification line: $out"
installed_matches || fail "the signed install differs from the build"
grep -q '^/launcher/manifest.sig 200' "$state/nginx/access.log" || fail "no .sig request"
[ "$(tr -d '\r' < "$data/signed_version.txt")" = "version=5" ] || fail "no rollback record"

echo "--- a manifest changed after signing is refused, and no file is asked for (at ${SECONDS}s)"
cp "$site/launcher/manifest" "$state/manifest.good"
rm "$site/files/Tervalon.exe"  # the site's files may be hard links to the build
evil=$(head -c 40000 /dev/urandom | tee "$site/files/Tervalon.exe" | sha1sum | cut -d' ' -f1)
sed -i "s/\"p\": \"Tervalon.exe\", \"s\": 40000, \"h\": \"[0-9a-f]*\"/\"p\": \"Tervalon.exe\", \"s\": 40000, \"h\": \"$evil\"/" \
    "$site/launcher/manifest"
grep -q "$evil" "$site/launcher/manifest" || fail "the test did not change the manifest"
tool verify --site "$site" --key "$key_line" >/dev/null 2>&1 && fail "verify accepted a changed manifest"
out=$(expect_refused "ServerError: This update is not signed with the game's key" "a changed manifest")
grep -q "^Signature: does not verify" <<<"$out" || fail "changed: $out"
installed_matches || fail "a refused manifest changed the installed files"

echo "--- a missing signature is refused (at ${SECONDS}s)"
cp "$state/manifest.good" "$site/launcher/manifest"
mv "$site/launcher/manifest.sig" "$state/manifest.sig.good"
out=$(expect_refused "ServerError: This update is not signed with the game's key" "a missing .sig")
grep -q "^Signature: missing: /launcher/manifest.sig answered 404" <<<"$out" || fail "missing: $out"
printf 'AAAA\n' > "$site/launcher/manifest.sig"
out=$(expect_refused "ServerError: This update is not signed with the game's key" "a malformed .sig")
grep -q "^Signature: malformed" <<<"$out" || fail "malformed: $out"
mv "$state/manifest.sig.good" "$site/launcher/manifest.sig"

echo "--- an ini saved as UTF-16 by PowerShell 5.1 (> or Out-File) holds the key as well (at ${SECONDS}s)"
printf 'server=%s\r\n%s\r\n' "$address" "$key_line" | iconv -f UTF-8 -t UTF-16 > "$app/TVLLauncher.ini"
out=$(headless --exit-on-ready --timeout 120) || fail "a UTF-16 ini: $out"
grep -q "^Signature: verified with the game's key, version 5$" <<<"$out" || fail "a UTF-16 ini was not signed: $out"
ini "$key_line"$'\r\n'

echo "--- a lower signed version after a higher one is refused; the installed files stay (at ${SECONDS}s)"
head -c 1000 /dev/urandom >> "$build/Tervalon/Content/Paks/Level 1.pak"
tool publish "$build" --site "$site" --version 6 --sign "$state/owner.key" --host "$address" >/dev/null
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "update to 6: $out"
installed_matches || fail "version 6 did not install"
tool publish "$build" --site "$site" --version 5 --sign "$state/owner.key" --host "$address" >/dev/null 2>&1 &&
    fail "the publish tool signed version 5 after version 6"
# A man in the middle (or a mirror restored from a backup) replays the old signed site.
rm -rf "$site" && cp -a "$state/site-v5" "$site"
tool verify --site "$site" --key "$state/owner.key" | grep -q "^verified: version 5" || fail "the old site is not validly signed"
out=$(expect_refused "ServerError: The server offers version 5, older than the installed version 6, so it was refused." "a rollback")
grep -q "^Signature: refused: version 5 is older than version 6" <<<"$out" || fail "rollback: $out"
installed_matches || fail "a rollback changed the installed files"
[ "$(tr -d '\r' < "$data/signed_version.txt")" = "version=6" ] || fail "the record went back"

echo "--- a malformed key stops updates; it never falls back to unsigned (at ${SECONDS}s)"
ini "manifest_key=${key_line#manifest_key=}x"$'\r\n'
before=$(requests)
out=$(expect_refused "LocalError: The manifest_key in TVLLauncher.ini is not a valid key" "a bad key")
log_since "$before" | grep -q '^/launcher/manifest' && fail "a bad key still asked for the manifest"

echo "--- without a key, nothing changes: no .sig request (at ${SECONDS}s)"
ini ""
before=$(requests)
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "unsigned start: $out"
grep -q '^Signature:' <<<"$out" && fail "a launcher without a key spoke of signatures: $out"
log_since "$before" | grep -q '^/launcher/manifest.sig' && fail "a launcher without a key asked for the .sig"
log_since "$before" | grep -q '^/launcher/manifest 200' || fail "no manifest request"

echo "--- a new launcher is published through nginx, and only ever signed and higher (at ${SECONDS}s)"
ini "$key_line"$'\r\n'
tool launcher "$build_dir/TVLLauncher.exe" --site "$site" >/dev/null 2>&1 && fail "a launcher was published unsigned"
[ ! -e "$site/launcher/self" ] || fail "a refused launcher publish left a document"
out=$(tool launcher "$build_dir/TVLLauncher.exe" --site "$site" --sign "$state/owner.key")
grep -q "^published launcher version $(headless --version): " <<<"$out" || fail "the exe's own version was not read: $out"
cp "$build_dir/TVLLauncher.exe" "$state/offered.exe"
printf 'served as version 9' >> "$state/offered.exe"
tool launcher "$state/offered.exe" --site "$site" --sign "$state/owner.key" --version 1 >/dev/null 2>&1 &&
    fail "a launcher no higher than the published one was accepted"
tool launcher "$state/offered.exe" --site "$site" --sign "$state/owner.key" --version 9 >/dev/null
for path in self self.sig self.exe; do
    [ "$(curl -sk -o /dev/null -w '%{http_code}' "https://$address/launcher/$path")" = 200 ] || fail "nginx does not serve $path"
done
"$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" --timeout 60 > "$state/offer.out" 2>/dev/null &
offer_pid=$!
for _ in $(seq 300); do grep -q '^Launcher: ' "$state/offer.out" && break; sleep 0.1; done
kill "$offer_pid" 2>/dev/null || true
wait "$offer_pid" 2>/dev/null || true
out=$(tr -d '\r' < "$state/offer.out" | grep -m1 '^Launcher: ' || true)
[ "$out" = "Launcher: version 9 offered, signed, prepared" ] || fail "TVLHeadless through nginx: $out"
cmp -s "$app/TVLHeadless.exe.new" "$state/offered.exe" || fail "the prepared build is not the served exe"
rm -f "$app"/TVLHeadless.exe.new*
touch "$site/publishing"
for path in self self.sig self.exe; do
    [ "$(curl -sk -o /dev/null -w '%{http_code}' "https://$address/launcher/$path")" = 503 ] || fail "no 503 for $path"
done
rm "$site/publishing"

echo "--- the publish marker makes the .sig wait with the manifest (at ${SECONDS}s)"
touch "$site/publishing"
[ "$(curl -sk -o /dev/null -w '%{http_code}' "https://$address/launcher/manifest.sig")" = 503 ] || fail "no 503 for the .sig"
rm "$site/publishing"
out=$(tool publish "$build" --site "$site" --version 7)
grep -q "removed launcher/manifest.sig" <<<"$out" || fail "stale .sig kept: $out"
[ ! -e "$site/launcher/manifest.sig" ] || fail "an unsigned publish left the old signature"
echo "all steps passed"
