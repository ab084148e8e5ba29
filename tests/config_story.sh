#!/usr/bin/env bash
# TVLLauncher.ini as players really have it: held open by another Windows
# program, saved as UTF-16 by PowerShell, garbled, or carrying another key
# than the one built into the exe. An ini that cannot be trusted must stop
# the launcher with a clear LocalError, before it asks any server for
# anything or touches any file but its log, which says why; it never falls
# back to the defaults.
#   config_story.sh BUILD_DIR SERVER_STATE_DIR SERVER_ADDRESS
source "$(dirname "$0")/support/story_env.sh" "config story" no-display "$@"

root="$state/root"
rm -rf "$root/files" "$root/rules.json" "$root/requests.log"
mkdir -p "$root/files"
head -c 20000 /dev/urandom > "$root/files/data.bin"
python3 "$here/support/test_site.py" --root "$root" --version 3 >/dev/null

app="$state/app"
rm -rf "$app"
mkdir -p "$app"
cp "$build/TVLHeadless.exe" "$app/"
ini="$app/TVLLauncher.ini"
data="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
wine_run="$here/../scripts/wine-run.sh"
headless() { "$wine_run" "$prefix" "$app/TVLHeadless.exe" --press-update --exit-on-ready --timeout 60 | tr -d '\r'; }
requests() { cat "$root/requests.log" 2>/dev/null | wc -l; }
# The log is the one file a refused configuration writes: it says why.
files_now() { find "$data" -not -name 'launcher*.log' -printf '%p %s %T@\n' 2>/dev/null | sort; }
holder_pid=""
trap 'kill ${holder_pid:-} 2>/dev/null || true' EXIT

# refused WHY TEXT: exit 4 with that LocalError, no request, no file changed.
refused() {
    local before files out status=0
    before=$(requests) files=$(files_now)
    out=$(headless) || status=$?
    [ "$status" = 4 ] || fail "$1: exit $status, not 4: $out"
    grep -qF "LocalError: $2" <<<"$out" || fail "$1: no '$2' in: $out"
    [ "$(requests)" = "$before" ] || fail "$1: a server was asked: $(tail -1 "$root/requests.log")"
    [ "$(files_now)" = "$files" ] || fail "$1: files of the data folder changed"
    tail -3 "$data/launcher.log" | grep -qF "TVLLauncher.ini: $2" || fail "$1: the log does not say why: $(tail -3 "$data/launcher.log")"
    echo "$1: refused"
}
# hold MS: another program opens the ini with no sharing and keeps it MS ms.
hold() {
    rm -f "$state/holder.out"
    "$wine_run" "$prefix" "$build/file_tamper.exe" hold "$(winepath -w "$ini" 2>/dev/null)" "$1" > "$state/holder.out" &
    holder_pid=$!
    for _ in $(seq 200); do grep -q held "$state/holder.out" 2>/dev/null && return 0; sleep 0.05; done
    fail "the holder never held the ini"
}

printf 'server=%s\r\n' "$address" > "$ini"
headless >/dev/null || fail "no install with a plain ini"
echo "plain ini: installed"

hold 30000
refused "held past the retries" "TVLLauncher.ini could not be read: another program may have it open."
kill "$holder_pid" 2>/dev/null || true
wait "$holder_pid" 2>/dev/null || true

hold 500
out=$(headless) || fail "an ini released within the retries stopped the launcher: $out"
grep -q '^Ready:' <<<"$out" || fail "no Ready after the ini was released: $out"
wait "$holder_pid" 2>/dev/null || true
echo "released within the retries: runs"

printf 'server=%s\r\n' "$address" | iconv -f UTF-8 -t UTF-16 > "$ini"  # with a byte-order mark
before=$(requests)
out=$(headless) || fail "a UTF-16 ini: $out"
[ "$(requests)" -gt "$before" ] || fail "a UTF-16 ini did not reach its server"
echo "UTF-16 with a byte-order mark: runs against its server"

printf 'server=%s\r\n' "$address" | iconv -f UTF-8 -t UTF-16LE > "$ini"  # no mark: NUL bytes
refused "UTF-16 without a mark" "TVLLauncher.ini is not readable text."
printf 'server=%s\r\n# caf\xe9\r\n' "$address" > "$ini"  # Latin-1
refused "Latin-1" "TVLLauncher.ini is not readable text."

# A studio's build with its key inside: an ini may repeat that key, never replace it.
cp "$build/TVLHeadless_builtin_key.exe" "$app/TVLHeadless.exe"
built_in=$(sed -n 's/^ *"\([A-Za-z0-9+/=]\{88\}\)";$/\1/p' "$here/support/built_in_test_key.cpp")
[ ${#built_in} = 88 ] || fail "no key in built_in_test_key.cpp"
rm -f "$state/other.key"
other=$(python3 "$here/../tools/tvl_publish.py" keygen "$state/other.key" | sed -n 's/^manifest_key=//p')
for line in "manifest_key=$other" "manifest_key=${built_in}x" "Manifest_Key = $built_in"; do
    printf 'server=%s\r\n%s\r\n' "$address" "$line" > "$ini"
    refused "built-in key, ini '${line:0:20}...'" "TVLLauncher.ini names another manifest_key than the one built into this launcher."
done
for line in "manifest_key=$built_in" "# no key line"; do
    printf 'server=%s\r\n%s\r\n' "$address" "$line" > "$ini"
    out=$("$wine_run" "$prefix" "$app/TVLHeadless.exe" --timeout 5 | tr -d '\r' || true)
    grep -q '^Release: refused: /launcher/release answered 404' <<<"$out" || fail "'$line' did not use the built-in key: $out"
done
echo "built-in key: the same key or none in the ini runs signed; any other is refused"
