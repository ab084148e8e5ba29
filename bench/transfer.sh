#!/usr/bin/env bash
# Transfers over the links, edges and origins players meet, each beside the
# tool that sets the bar, in one run:
#  - 2,000 files of 1 KiB, a first install, at 0, 50 and 100 ms of round
#    trip (tests/support/delay_proxy.py in front of stock nginx), against
#    `aria2c -x8 -j8` fetching the same objects through the same proxy;
#  - one file of 512 MiB, a first install on loopback, against curl;
#  - a patched pak through each edge and origin (direct, Varnish 7.1, an
#    origin of one range per request, a cold nginx proxy_cache) against what
#    zsync 0.6.2 moves direct on the same pair, and at 100 ms against
#    fetching the same ranges eight at a time.
#   bash bench/transfer.sh [small|large|delta|all (default)] [pak MiB, default 256]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build_targets TVLHeadless
command -v aria2c >/dev/null || apt-get install -y aria2 >/dev/null
command -v zsync >/dev/null || apt-get install -y zsync >/dev/null

what="${1:-all}" mib="${2:-256}"
work="$PWD/build/bench-transfer"
sites=/tmp/tvl-bench-transfer  # where nginx's www-data workers can read them
origin=127.0.0.26 near=127.0.0.27 edge_origin=127.0.0.28
app="$work/app" data="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
rm -rf "$app" "$sites"
mkdir -p "$app" "$sites"
chmod 755 "$sites"
cp build/windows/TVLHeadless.exe "$app/"
WINEPREFIX="$prefix" wineserver -p 2>/dev/null || true
proxy_pid=""
stop_proxy() { [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null; proxy_pid=""; }
stop_all() {
    stop_proxy
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    bash tests/support/nginx_ctl.sh stop "$work/nginx"
    bash tests/support/edge_ctl.sh stop "$work/edge" 2>/dev/null || true
}
trap stop_all EXIT

# start_proxy RTT_MS: the launcher's server address ($near:443) leads to nginx at $origin:443.
start_proxy() {
    stop_proxy
    rm -f "$work/proxy.ready"
    python3 tests/support/delay_proxy.py --listen "$near:443" --target "$origin:443" --rtt-ms "$1" \
        --ready-file "$work/proxy.ready" >/dev/null 2>&1 &
    proxy_pid=$!
    for _ in $(seq 100); do [ -f "$work/proxy.ready" ] && break; sleep 0.05; done
}
headless() { scripts/wine-run.sh "$prefix" "$app/TVLHeadless.exe" "$@" | tr -d '\r'; }
timed() { local t0 t1; t0=$(date +%s.%N); "$@" >"$work/last.out"; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
row() { printf '%-34s %10s %10s %10s\n' "$@"; }
# Connections and requests nginx saw since line $1 of its log.
log_since() { tail -n +"$(($1 + 1))" "$work/nginx/access.log"; }

install_site() {  # install_site BUILD_DIR: a fresh site of one version behind $near
    rm -rf "$sites/site"
    python3 tools/tvl_publish.py publish "$1" --site "$sites/site" --version 1 --host "$near" >/dev/null
    bash tests/support/nginx_ctl.sh start "$work/nginx" "$origin" "$sites/site"
    printf 'server=%s\r\n' "$near" > "$app/TVLLauncher.ini"
}

# ours RTT [CONNECTIONS]: seconds for a first install through the proxy
# (started by the caller: a command substitution cannot keep it).
ours() {
    rm -rf "$data"
    local s
    s=$(timed headless --press-update --exit-on-ready --timeout 900 ${2:+--connections "$2"})
    cp "$work/last.out" "$work/ours.out"
    grep -q '^Ready:' "$work/ours.out" || { echo "install at $1 ms did not end Ready" >&2; cat "$work/ours.out" >&2; exit 1; }
    echo "$s"
}

# aria2 RTT URL_LIST: seconds for aria2c -x8 -j8 to fetch every URL.
aria2() {
    rm -rf "$work/aria2"
    timed aria2c -x8 -j8 --check-certificate=false --quiet=true --allow-overwrite=true \
        --file-allocation=none --auto-file-renaming=false -d "$work/aria2" -i "$2"
}

small_files() {
    echo "== 2,000 files of 1 KiB, a first install, through a delay proxy; aria2c -x8 -j8 on the same objects"
    rm -rf "$work/small" && mkdir -p "$work/small/Content"
    head -c 40000 /dev/urandom > "$work/small/Tervalon.exe"
    python3 - "$work/small/Content" <<'PY'
import os, sys
for i in range(2000):
    with open(os.path.join(sys.argv[1], f"f{i:04d}.bin"), "wb") as f:
        f.write(os.urandom(1024))
PY
    install_site "$work/small"
    (cd "$sites/site/launcher/o" && ls | grep -E '^[0-9a-f]{40}$' | sed "s#^#https://$near/launcher/o/#") > "$work/urls.txt"
    row "round trip" "launcher s" "aria2c s" "ratio"
    for rtt in 0 50 100; do
        local o a
        start_proxy "$rtt"
        o=$(ours "$rtt")
        a=$(aria2 "$rtt" "$work/urls.txt")
        row "${rtt} ms" "$(printf %.1f "$o")" "$(printf %.1f "$a")" "$(ratio "$o" "$a")"
    done
    echo "(target at 100 ms: ratio at most 1.5)"
    echo "the launcher at 100 ms: $(grep '^Network:' "$work/ours.out" | tail -1 | cut -d' ' -f2-)"
    echo "== the same install at 100 ms with 1, 4, 6 (the launcher's) and 8 connections"
    row "connections" "seconds" "" ""
    for n in 1 4 6 8; do row "$n" "$(printf %.1f "$(ours 100 "$n")")" "" ""; done
}

case "$what" in
small) small_files ;;
all) small_files ;;
*) echo "usage: transfer.sh [small|large|delta|all] [MiB]" >&2; exit 2 ;;
esac
