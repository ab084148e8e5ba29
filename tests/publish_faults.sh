#!/usr/bin/env bash
# tools/tvl_publish.py under the faults a server owner meets, served by
# Debian's stock nginx running as www-data. After every case each file the
# site serves must have the size and SHA-1 its manifest promises.
#   publish_faults.sh BUILD_DIR STATE_DIR ADDRESS
set -euo pipefail
build_dir="$1"
state="$(mkdir -p "$2" && cd "$2" && pwd)"
address="$3"
repo="$(cd "$(dirname "$0")/.." && pwd)"
tool() { python3 "$repo/tools/tvl_publish.py" "$@"; }
nginx_ctl() { bash "$repo/tests/support/nginx_ctl.sh" "$@"; }
fail() { echo "publish faults: $*" >&2; exit 1; }

root=$(mktemp -d /tmp/tvl-faults.XXXXXX)  # where www-data can reach the site
chmod 755 "$root"
build="$root/build"
site="$root/site"
trap 'nginx_ctl stop "$state/nginx"; rm -rf "$root"' EXIT
fresh() { rm -rf "$build" "$site"; mkdir -p "$build/Content/Paks"; printf 'exe %s' "$1" > "$build/Tervalon.exe"
          head -c 300000 /dev/urandom > "$build/Content/Paks/Level 1.pak"; }
status_of() { curl -sk -o /dev/null -w '%{http_code}' "https://$address$1"; }

# Every file of the manifest, fetched through nginx, against its size and SHA-1.
check_site() {
    [ "$(status_of /launcher/manifest)" = 200 ] || fail "$1: the manifest answers $(status_of /launcher/manifest)"
    python3 - "$address" "$repo/tools" "$1" <<'PY' || exit 1
import hashlib, json, ssl, sys, urllib.request
address, tools, case = sys.argv[1:]
sys.path.insert(0, tools)
from publisher.names import request_name
ctx = ssl.create_default_context()
ctx.check_hostname, ctx.verify_mode = False, ssl.CERT_NONE
get = lambda path: urllib.request.urlopen(f"https://{address}{path}", context=ctx).read()
manifest = json.loads(get("/launcher/manifest"))
for entry in manifest["files"]:
    try:
        body = get("/launcher/file?p=" + request_name(entry["p"]))
    except Exception as e:
        sys.exit(f"publish faults: {case}: {entry['p']}: {e}")
    if len(body) != entry["s"] or hashlib.sha1(body).hexdigest() != entry["h"]:
        sys.exit(f"publish faults: {case}: {entry['p']} serves other bytes than its manifest promises")
PY
}
publish() { tool publish "$build" --site "$site" "$@" >/dev/null; }
refused() {  # refused WHAT EXPECTED -- ARGS: the publish fails with EXPECTED in its message, without a traceback
    local out
    out=$(tool "${@:4}" 2>&1) && fail "$1: published"
    grep -qF -- "$2" <<<"$out" || fail "$1: no '$2' in: $out"
    grep -q Traceback <<<"$out" && fail "$1: a traceback: $out"
    true
}

fresh 1
publish --version 1
nginx_ctl start "$state/nginx" "$address" "$site"

echo "--- a build overwritten in place after a publish does not change what is served (at ${SECONDS}s)"
head -c 300000 /dev/urandom > "$root/new.pak"
cp "$root/new.pak" "$build/Content/Paks/Level 1.pak"  # cp rewrites the same inode
check_site "overwritten in place"

echo "--- same size and time, new contents: copied again, with or without the cache (at ${SECONDS}s)"
publish
touch -r "$build/Content/Paks/Level 1.pak" "$root/stamp"
head -c 300000 /dev/urandom > "$root/newer.pak"
cat "$root/newer.pak" > "$build/Content/Paks/Level 1.pak"
touch -r "$root/stamp" "$build/Content/Paks/Level 1.pak"  # as cp -p or an archive would leave it
publish
check_site "same size and time"
grep -q "$(sha1sum "$root/newer.pak" | cut -d' ' -f1)" "$site/launcher/manifest" || fail "the new contents were not hashed"
cat "$root/new.pak" > "$build/Content/Paks/Level 1.pak"
touch -r "$root/stamp" "$build/Content/Paks/Level 1.pak"
rm "$site/.publish-cache.json"
publish
check_site "same size and time, cache gone"

echo "--- symlinks of every kind are refused, each named; nginx serves none (at ${SECONDS}s)"
mkdir -p "$root/elsewhere" && echo secret > "$root/elsewhere/secret.txt"
ln -s /etc/passwd "$build/Content/Default.ini"
ln -s "$root/elsewhere" "$build/Linked"
ln -s "$root/nothing" "$build/broken.txt"
ln -s loop "$build/loop" 2>/dev/null || true
out=$(tool publish "$build" --site "$site" 2>&1) && fail "a build with links published"
for name in "Content/Default.ini: a symbolic link to '/etc/passwd'" "Linked: a symbolic link" "broken.txt: a symbolic link" \
    "loop: a symbolic link"; do
    grep -qF "$name" <<<"$out" || fail "links: no '$name' in: $out"
done
rm "$build/Content/Default.ini" "$build/Linked" "$build/broken.txt" "$build/loop"
ln -s /etc/passwd "$site/files/passwd"
[ "$(status_of '/launcher/file?p=passwd')" != 200 ] || fail "nginx served a link"
rm "$site/files/passwd"

echo "--- folders that hold one another are refused (at ${SECONDS}s)"
refused "site in build" "must not hold one another" -- publish "$build" --site "$build/site"
refused "build in site" "must not hold one another" -- publish "$site/files" --site "$site"
[ ! -e "$build/site" ] || fail "a refused publish made its site"
check_site "overlap refused"

echo "--- umask 077 for the build and the publish: www-data still reads everything (at ${SECONDS}s)"
(umask 077; mkdir -p "$build/Secret/Deep"; head -c 5000 /dev/urandom > "$build/Secret/Deep/x.pak"
 chmod 600 "$build/Tervalon.exe"; tool publish "$build" --site "$site" >/dev/null)
check_site "umask 077"
(umask 077; rm -rf "$site"; tool publish "$build" --site "$site" --version 9 >/dev/null)
check_site "umask 077, a new site"

echo "--- a file that became a folder and back, the longest names, a bad cache, a bad banner (at ${SECONDS}s)"
rm -rf "$build/Secret"; head -c 100 /dev/urandom > "$build/Secret"
publish
check_site "folder became a file"
rm "$build/Secret"; mkdir -p "$build/Secret"; head -c 100 /dev/urandom > "$build/Secret/x.pak"
publish
check_site "file became a folder"
long=$(printf 'a%.0s' $(seq 251)).pak  # 255 bytes, as long as a name may be
head -c 1000 /dev/urandom > "$build/Content/$long"
publish
check_site "the longest name"
for cache in '[]' '{"Tervalon.exe": 5}' '{"Tervalon.exe": {"build": [1], "site": "x", "sha1": 7}}' 'null'; do
    echo "$cache" > "$site/.publish-cache.json"
    publish || fail "cache $cache stopped the publish"
    check_site "cache $cache"
done
printf 'not a picture' > "$root/banner.txt"
head -c $((17 * 1024 * 1024)) /dev/zero | sed 's/^/\xff\xd8\xff/' > "$root/huge.jpg" 2>/dev/null || true
refused "missing banner" "cannot be read" -- publish "$build" --site "$site" --banner "$root/no-such.jpg"
refused "text banner" "not a PNG, JPEG" -- publish "$build" --site "$site" --banner "$root/banner.txt"
refused "huge banner" "more than the" -- publish "$build" --site "$site" --banner "$root/huge.jpg"
[ ! -e "$site/publishing" ] || fail "a refused banner left the site answering 503"
publish --banner "$repo/resources/default_banner.jpg"
check_site "good banner"

echo "--- an interrupted publish leaves the 503; the next run finishes it (at ${SECONDS}s)"
head -c 20000000 /dev/urandom > "$build/Content/Paks/Level 2.pak"
# The tool itself, not a subshell around it: a kill of the subshell left the
# publish running, and the re-run below met its lock.
python3 "$repo/tools/tvl_publish.py" publish "$build" --site "$site" >/dev/null & victim=$!
for _ in $(seq 100); do [ -e "$site/publishing" ] && break; sleep 0.02; done
kill -9 "$victim" 2>/dev/null || true; wait "$victim" 2>/dev/null || true
publish
check_site "after an interruption"
[ ! -e "$site/publishing" ] && [ ! -e "$site/.publish-temp" ] || fail "the re-run left a marker or temporary files"

echo "--- two publishes at once, and counts during a publish (at ${SECONDS}s)"
# The real tool, held before it copies a file until $root/hold goes away.
held_publish() {
    touch "$root/hold"
    python3 "$repo/tests/support/held_publish.py" "$root/hold" "$build" "$site" &
    holder=$!
    for _ in $(seq 200); do [ -e "$site/publishing" ] && break; sleep 0.05; done
    [ -e "$site/publishing" ] || fail "the held publish put up no marker"
}
head -c 1000 /dev/urandom >> "$build/Tervalon.exe"
held_publish
refused "a second publish" "another publish" -- publish "$build" --site "$site"
[ -e "$site/publishing" ] || fail "the second publish took the first one's marker away"
tool counts 3 4 --site "$site" & counter=$!
sleep 0.5
kill -0 "$counter" 2>/dev/null || fail "counts did not wait for the publish"
rm "$root/hold"
wait "$holder" || fail "the held publish failed"
wait "$counter" || fail "counts failed"
python3 - "$site" <<'PY' || fail "info and manifest disagree after counts"
import json, sys
site = sys.argv[1]
info = json.load(open(f"{site}/launcher/info"))
manifest = json.load(open(f"{site}/launcher/manifest"))
sys.exit(not (info["version"] == manifest["version"] and (info["lobbies"], info["players"]) == (3, 4)))
PY
check_site "after two runs at once"

echo "--- names as Windows folds them: the launcher's own table decides (at ${SECONDS}s)"
python3 - "$repo/tools" "$root/keys.in" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
chars = [chr(c) for c in range(1, 0x110000)
         if not 0xD800 <= c <= 0xDFFF and chr(c) not in "\n\r\\" and (c < 0x10000 or chr(c).upper() != chr(c))]
open(sys.argv[2], "w", encoding="utf-8").write("".join(c + "\n" for c in chars))
PY
"$repo/scripts/wine-run.sh" "$build_dir/wineprefix" "$build_dir/file_name_keys.exe" "Z:${root//\//\\}\\keys.in" \
    "Z:${root//\//\\}\\keys.out"
python3 - "$repo/tools" "$root/keys.in" "$root/keys.out" <<'PY' || fail "the tool folds names unlike the launcher"
import sys
sys.path.insert(0, sys.argv[1])
from publisher.names import file_name_key
names = open(sys.argv[2], encoding="utf-8").read().split("\n")[:-1]
keys = open(sys.argv[3], encoding="utf-8").read().split("\n")[:-1]
wrong = [f"U+{ord(n):04X}" for n, k in zip(names, keys) if file_name_key(n) != k]
if len(names) != len(keys) or wrong:
    sys.exit(f"{len(wrong)} differ: {' '.join(wrong[:20])}")
PY
touch "$build/"$'\xe1\xbe\x80.pak' "$build/"$'\xe1\xbe\x88.pak'  # U+1F80 and U+1F88, one file on Windows
refused "subscript iota" "the same file on Windows" -- publish "$build" --site "$site"
rm "$build/"$'\xe1\xbe\x80.pak' "$build/"$'\xe1\xbe\x88.pak'
touch "$build/"$'\xc2\xb5.pak' "$build/"$'\xce\x9c.pak'  # U+00B5 and U+039C: two files on Windows
publish
check_site "micro sign beside capital mu"

echo "--- bad UTF-8 gives a one-line error that names the file (at ${SECONDS}s)"
printf 'Patch \xff notes\n' > "$root/notes.txt"
refused "notes" "$root/notes.txt is not UTF-8" -- publish "$build" --site "$site" --notes "$root/notes.txt"
touch "$build/bad"$'\xff'"name.pak"
refused "file name" 'bad\xffname.pak: the name is not valid UTF-8' -- publish "$build" --site "$site"
rm "$build/bad"$'\xff'"name.pak"

echo "--- the nginx config: no way out of the site, no version told (at ${SECONDS}s)"
for p in '../launcher/info' '..%2flauncher%2finfo' '%2e%2e/launcher/info' '%252e%252e/launcher/info' \
    '..\launcher\info' 'Tervalon.exe%00.png' '/etc/passwd' 'Content/../../launcher/info' ''; do
    [ "$(status_of "/launcher/file?p=$p")" = 404 ] || fail "p=$p answers $(status_of "/launcher/file?p=$p")"
done
curl -skI "https://$address/launcher/info" | grep -i '^server:' | grep -q '[0-9]' && fail "nginx tells its version"
[ "$(status_of /.publish-cache.json)" = 404 ] && [ "$(status_of /.publish-lock)" = 404 ] || fail "tool files are served"
echo "all steps passed"
