#!/usr/bin/env bash
# A player behind a proxy, with the real parts: Debian's squid as the proxy
# (tests/support/squid_ctl.sh), Debian's stock nginx with the shipped config
# as the server, TVLHeadless as the launcher. The ini's proxy= line is
# followed for every request; with the proxy down nothing goes round it;
# proxy=direct goes round it; a line that cannot be followed stops the
# launcher with its own message.
#   proxy_story.sh BUILD_DIR STATE_DIR ADDRESS PROXY_ADDRESS
source "$(dirname "$0")/support/nginx_story_env.sh" "proxy story" "$1" "$2" "$3"
proxy="$4:3129"  # not squid's own 3128, where a packaged squid may already listen
squid_ctl() { bash "$repo/tests/support/squid_ctl.sh" "$@"; }
build="$state/build" app="$state/app"
rm -rf "$build" "$app"
mkdir -p "$build/Paks" "$app"
cp "$build_dir/TVLHeadless.exe" "$app/"
trap 'squid_ctl stop "$state/squid"; nginx_ctl stop "$state/nginx"; rm -rf "$site_root"' EXIT
headless() { "$repo/scripts/wine-run.sh" "$prefix" "$app/TVLHeadless.exe" "$@" | tr -d '\r'; }
ini() { printf 'server=%s\r\n%s\r\n' "$address" "$1" > "$app/TVLLauncher.ini"; }
installed_matches() { (cd "$build" && find . -type f | while read -r f; do cmp -s "$f" "$game/$f" || exit 1; done); }
served() { wc -l < "$state/nginx/access.log"; }
connects() { grep -c "^CONNECT $address:443 " "$state/squid/access.log" || true; }
head -c 300000 /dev/urandom > "$build/Paks/a.pak"
head -c 5000000 /dev/urandom > "$build/Paks/large.pak"
head -c 20000 /dev/urandom > "$build/Tervalon.exe"
tool publish "$build" --site "$site" --host "$address" >/dev/null
nginx_ctl start "$state/nginx" "$address" "$site"
squid_ctl start "$state/squid" "$proxy"

echo "--- proxy=http://host:port: the install goes through the proxy (at ${SECONDS}s)"
ini "proxy=http://$proxy"
rm -rf "$data"
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "through the proxy: $out"
installed_matches || fail "the install through the proxy differs"
grep -qx "Network: http://$proxy, from TVLLauncher.ini" <<<"$out" || fail "TVLHeadless did not name the proxy: $out"
grep -q "network: http://$proxy, from TVLLauncher.ini" "$data/launcher.log" || fail "the log does not name the proxy"
[ "$(grep -c "^CONNECT $address:443 200" "$state/squid/access.log")" -ge 1 ] ||
    fail "squid saw no CONNECT to the server: $(cat "$state/squid/access.log")"
echo "squid: $(connects) CONNECT(s) for $(served) request(s) at the server"

echo "--- the proxy down: nothing goes round it (at ${SECONDS}s)"
squid_ctl stop "$state/squid"
before=$(served)
rm -rf "$data"
out=$(headless --fast-waits 50 --timeout 8 || true)
grep -q "^ServerError: " <<<"$out" || fail "no error with the proxy down: $out"
[ "$(served)" = "$before" ] || fail "requests went round the proxy: $(tail -n +"$((before + 1))" "$state/nginx/access.log")"
[ ! -d "$game" ] || [ -z "$(ls -A "$game")" ] || fail "files were written with the proxy down"

echo "--- proxy=direct goes round a proxy (at ${SECONDS}s)"
squid_ctl start "$state/squid" "$proxy"
ini "proxy=direct"
out=$(headless --press-update --exit-on-ready --timeout 120) || fail "direct: $out"
installed_matches || fail "the direct install differs"
[ "$(connects)" = 0 ] || fail "proxy=direct went through the proxy: $(cat "$state/squid/access.log")"

echo "--- a proxy= line the launcher cannot follow stops it with its own message (at ${SECONDS}s)"
before=$(served)
for line in "proxy=$proxy" "proxy=socks5://$proxy" "proxy=http://ann:secret@$proxy"; do
    ini "$line"
    out=$(headless --timeout 20) && fail "$line was accepted: $out"
    grep -q "^LocalError: The proxy= line in TVLLauncher.ini " <<<"$out" || fail "$line: $out"
    grep -q secret <<<"$out" && fail "the password was shown: $out"
done
[ "$(served)" = "$before" ] || fail "a launcher with a proxy= line it cannot follow contacted the server"
echo "all steps passed"
