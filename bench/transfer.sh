#!/usr/bin/env bash
# Transfers over the links, edges and origins players meet, each beside the
# tool that sets the bar, in one run:
#  - 2,000 files of 1 KiB, a first install, at 0, 50 and 100 ms of round
#    trip (tests/support/delay_proxy.py in front of stock nginx), against
#    `aria2c -x8 -j8` fetching the same objects through the same proxy;
#  - one file of 512 MiB, a first install on loopback, against curl and aria2c;
#  - a patched pak through each edge and origin (direct, Varnish 7.1, an
#    origin of one range per request, a cold nginx proxy_cache) against what
#    zsync 0.6.2 moves direct on the same pair, and at 100 ms against
#    fetching the same ranges eight at a time.
#   bash bench/transfer.sh [small|large|delta|rounds|all (default)] [pak MiB, default 256]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build_targets TVLHeadless
command -v aria2c >/dev/null || apt-get install -y aria2 >/dev/null
command -v zsync >/dev/null || apt-get install -y zsync >/dev/null

what="${1:-all}" mib="${2:-256}"
work="$PWD/build/bench-transfer"
sites=/tmp/tvl-bench-transfer  # where nginx's www-data workers can read them
origin=127.0.0.31 near=127.0.0.32 edge_origin=127.0.0.33
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
    python3 tools/tvl_publish.py publish "$1" --site "$sites/site" --version 1 --host "$near" --patch-releases 0 >/dev/null
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
    echo "== the same install at 100 ms with 1, 4, 6 and 8 (the launcher's) connections"
    row "connections" "seconds" "" ""
    for n in 1 4 6 8; do row "$n" "$(printf %.1f "$(ours 100 "$n")")" "" ""; done
}

large_file() {
    echo "== one file of 512 MiB, a first install on loopback (stock nginx, direct); curl and aria2c to a file, best of 2 each"
    rm -rf "$work/large" && mkdir -p "$work/large"
    head -c $((512 << 20)) /dev/urandom > "$work/large/Tervalon.pak"
    install_site "$work/large"
    stop_proxy
    local sha url o1 o2 c1 c2
    sha=$(sha1sum "$work/large/Tervalon.pak" | cut -d' ' -f1)
    url="https://$origin/launcher/o/$sha"
    printf 'server=%s\r\n' "$origin" > "$app/TVLLauncher.ini"
    python3 tools/tvl_publish.py publish "$work/large" --site "$sites/site" --version 1 --host "$origin" --patch-releases 0 >/dev/null
    o1=$(ours 0) o2=$(ours 0)
    cmp -s "$data/Game/Tervalon.pak" "$work/large/Tervalon.pak" || { echo "the large install differs" >&2; exit 1; }
    cp "$work/ours.out" "$work/ours-large.out"
    local one a1 a2
    one=$(min "$(ours 0 1)" "$(ours 0 1)")
    c1=$(timed curl -sk -o "$work/curl.out" "$url") c2=$(timed curl -sk -o "$work/curl.out" "$url")
    rm -f "$work/curl.out"
    echo "$url" > "$work/large-url.txt"
    a1=$(aria2 0 "$work/large-url.txt") a2=$(aria2 0 "$work/large-url.txt")
    rm -rf "$work/aria2"
    row "" "seconds" "" ""
    row "this launcher (TVLHeadless)" "$(printf %.2f "$(min "$o1" "$o2")")" "" ""
    row "  with one connection" "$(printf %.2f "$one")" "" ""
    row "curl" "$(printf %.2f "$(min "$c1" "$c2")")" "" ""
    row "aria2c -x8 -j8" "$(printf %.2f "$(min "$a1" "$a2")")" "" ""
    echo "launcher/curl $(ratio "$(min "$o1" "$o2")" "$(min "$c1" "$c2")"), launcher/aria2c $(ratio "$(min "$o1" "$o2")" "$(min "$a1" "$a2")");" \
         "$(grep '^Network:' "$work/ours-large.out" | cut -d' ' -f2-)"
}

# ---- the delta through each edge and origin ---------------------------------

zsync_direct() {  # bytes zsync moves direct, plain HTTP on stock nginx
    mkdir -p "$sites/z" "$work/zsync-out"
    cp "$v2" "$sites/z/x.pak"
    (cd "$sites/z" && zsyncmake -u x.pak -o x.pak.zsync x.pak >/dev/null 2>&1)
    plain_nginx "$work/znginx" "$edge_origin:80" "$sites"
    rm -f "$work/zsync-out/x.pak"
    (cd "$work/zsync-out" && zsync -q -i "$v1" -o x.pak "http://$edge_origin/z/x.pak.zsync" >/dev/null 2>&1)
    kill "$(cat "$work/znginx/nginx.pid")"
    sleep 0.3
    cmp -s "$work/zsync-out/x.pak" "$v2" || { echo "zsync's result differs from version 2" >&2; exit 1; }
    awk '{ b += $NF } END { print b }' "$work/znginx/access.log"
}

# The installed version 1, hashed once by a run straight at nginx, so each
# path starts from the same game folder and cache, and every cache is cold.
install_v1() {
    rm -rf "$data" "$sites/site" && mkdir -p "$data/Game/Paks"
    cp "$v1" "$data/Game/Paks/x.pak"
    printf 'server=%s\r\n' "$near" > "$app/TVLLauncher.ini"
    python3 tools/tvl_publish.py publish "$work/v1" --site "$sites/site" --version 1 --host "$near" --patch-releases 0 >/dev/null
    bash tests/support/nginx_ctl.sh start "$work/nginx" "$near" "$sites/site"
    headless --exit-on-ready --timeout 600 >/dev/null
    bash tests/support/nginx_ctl.sh stop "$work/nginx"
    python3 tools/tvl_publish.py publish "$work/v2" --site "$sites/site" --version 2 --host "$near" --patch-releases 0 >/dev/null
}

# Seconds from the end of the scan to the end of the pass (the cycle then
# reads the server's documents again): the ranges, the copies, the move.
delta_seconds() {
    awk '/^[0-9.]+ Downloading: Comparing/ { c = 1; next }
         c == 1 && /^[0-9.]+ Downloading:/ { t0 = $1; c = 2; next }
         c == 2 && !/^[0-9.]+ Downloading:/ { print $1 - t0; exit }' "$1"
}
stamp() { while IFS= read -r line; do echo "$(date +%s.%N) $line"; done; }

# delta_through KIND RTT: "bytes-to-launcher origin-copies requests seconds"
delta_through() {
    local kind="$1" rtt="$2" front origin_log
    install_v1
    case "$kind" in
    direct|one-range)
        front="$work/nginx/access.log"
        rm -f "$front"
        TVL_NGINX_MAX_RANGES=$([ "$kind" = one-range ] && echo 1 || echo "") \
            bash tests/support/nginx_ctl.sh start "$work/nginx" "$origin" "$sites/site"
        origin_log="$front"
        ;;
    varnish|proxy)
        rm -rf "$work/edge"
        bash tests/support/edge_ctl.sh start "$kind" "$work/edge" "$origin" "$edge_origin" "$sites/site"
        front="$work/edge/edge/access.log" origin_log="$work/edge/origin/access.log"
        ;;
    esac
    # The copies and objects just written go to disk first: their writeback
    # would otherwise land inside the launcher's time.
    sync
    start_proxy "$rtt"
    scripts/wine-run.sh "$prefix" "$app/TVLHeadless.exe" --press-update --exit-on-ready --timeout 900 |
        stdbuf -oL tr -d '\r' | stamp > "$work/delta.out"
    stop_proxy
    grep -q 'Ready:' "$work/delta.out" || { echo "$kind: not Ready" >&2; cat "$work/delta.out" >&2; exit 1; }
    cmp -s "$data/Game/Paks/x.pak" "$v2" || { echo "$kind: the update differs from version 2" >&2; exit 1; }
    grep "^/launcher/o/$sha2 " "$front" > "$work/delta-front.log" || true
    local bytes requests origin_bytes
    bytes=$(awk '{ b += $NF } END { print b + 0 }' "$work/delta-front.log")
    requests=$(wc -l < "$work/delta-front.log")
    origin_bytes=$(grep "^/launcher/o/$sha2 " "$origin_log" | awk '{ b += $NF } END { print b + 0 }')
    bash tests/support/edge_ctl.sh stop "$work/edge" 2>/dev/null || true
    bash tests/support/nginx_ctl.sh stop "$work/nginx"
    local copies="-"  # direct, the front is the origin
    case "$kind" in varnish|proxy) copies="$(ratio "$origin_bytes" "$whole")x" ;; esac
    echo "$bytes $copies $requests $(delta_seconds "$work/delta.out")"
}

# The ranges the launcher asked of the one-range origin, fetched eight at a
# time by curl through the same proxy: what a client that only waits on the
# network would take.
ranges_eight_at_a_time() {
    local config="$work/ranges.curl"
    : > "$config"
    awk '$3 ~ /^bytes=[0-9]+-[0-9]+$/ { print $3 }' "$work/delta-front.log" | sed 's/^bytes=//' |
        while read -r r; do
            printf 'next\nurl = "https://%s/launcher/o/%s"\nrange = "%s"\noutput = "/dev/null"\ninsecure\n' "$near" "$sha2" "$r"
        done | tail -n +2 >> "$config"
    TVL_NGINX_MAX_RANGES=1 bash tests/support/nginx_ctl.sh start "$work/nginx" "$origin" "$sites/site"
    start_proxy 100
    timed curl -s --parallel --parallel-max 8 -K "$config" 2>/dev/null
    stop_proxy
    bash tests/support/nginx_ctl.sh stop "$work/nginx"
}

delta_paths() {
    echo "== a patched pak of ${mib} MiB through each edge and origin; zsync 0.6.2 direct on the same pair"
    rm -rf "$work/v1" "$work/v2" && mkdir -p "$work/v1/Paks" "$work/v2/Paks"
    fresh=$(python3 tests/support/pak_pair.py "$work/v1/Paks/x.pak" "$work/v2/Paks/x.pak" --mib "$mib" --seed 11 --replaced 5)
    v1="$work/v1/Paks/x.pak" v2="$work/v2/Paks/x.pak"
    whole=$(stat -c %s "$v2")
    sha2=$(sha1sum "$v2" | cut -d' ' -f1)
    local zb
    zb=$(zsync_direct)
    echo "whole file ${whole} bytes; new bytes ${fresh}; zsync direct ${zb} bytes"
    printf '%-28s %12s %8s %9s %8s %10s\n' "path" "bytes" "/zsync" "requests" "seconds" "origin sent"
    for kind in direct varnish one-range proxy; do
        read -r b copies n s < <(delta_through "$kind" 0)
        printf '%-28s %12s %8s %9s %8s %10s\n' "$kind" "$b" "$(ratio "$b" "$zb")" "$n" "$(printf %.2f "$s")" "$copies"
    done
    echo "(targets: bytes at most 1.25 x zsync direct; the origin sends the file at most once)"
    echo "== at 100 ms of round trip, the one-range origin: the launcher against its own ranges fetched eight at a time"
    read -r b copies n s < <(delta_through one-range 100)
    local eight
    eight=$(ranges_eight_at_a_time)
    echo "launcher ${s} s for ${n} requests (${b} bytes); the same ranges eight at a time ${eight} s:" \
         "ratio $(ratio "$s" "$eight") (target at most 2)"
}

# At 100 ms against the one-range origin only, on a pak whose changes are
# spread (1 % of its entries replaced, or TVL_BENCH_REPLACED), three runs:
# the launcher's time beside its ranges eight at a time, split into the wait
# on the network (to the last range's arrival) and the local rest (copies
# from the installed pak after it, their writes and hash), and its requests
# before the first range of the file and of the fine map.
delta_rounds() {
    echo "== at 100 ms of round trip, the one-range origin, ${mib} MiB with changes spread: requests and time"
    rm -rf "$work/v1" "$work/v2" && mkdir -p "$work/v1/Paks" "$work/v2/Paks"
    fresh=$(python3 tests/support/pak_pair.py "$work/v1/Paks/x.pak" "$work/v2/Paks/x.pak" --mib "$mib" --seed 12 --replaced "${TVL_BENCH_REPLACED:-1}")
    v1="$work/v1/Paks/x.pak" v2="$work/v2/Paks/x.pak"
    whole=$(stat -c %s "$v2")
    sha2=$(sha1sum "$v2" | cut -d' ' -f1)
    echo "new bytes ${fresh}"
    local log="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL/launcher.log" ratios=""
    for run in 1 2 3; do
        read -r b copies n s < <(delta_through one-range 100)
        local eight before fine local_s
        fine=$(grep -c "^/launcher/o/$sha2.fine " "$work/nginx/access.log" || true)
        before=$(awk -v o="/launcher/o/$sha2" '$1 == o { exit } { n++ } END { print n + 0 }' \
            <(grep "^/launcher/o/$sha2" "$work/nginx/access.log"))
        # The log's times: the last range of the file arrived, the delta ended.
        local_s=$(grep -E "GET /launcher/o/$sha2 bytes=[0-9]+-[0-9]+ |: delta " "$log" | tail -n 2 |
            awk '{ split($2, t, ":"); s[NR] = t[1] * 3600 + t[2] * 60 + t[3] } END { printf "%.2f", s[2] - s[1] }')
        eight=$(ranges_eight_at_a_time)
        echo "run ${run}: launcher ${s} s (network $(echo "$s - $local_s" | bc) s, local ${local_s} s) for ${n}" \
             "range request(s) (${b} bytes), ${before} request(s) before the first range (${fine} of the fine map);" \
             "the same ranges eight at a time ${eight} s: ratio $(ratio "$s" "$eight")," \
             "network alone $(ratio "$(echo "$s - $local_s" | bc)" "$eight")"
        ratios="$ratios $(ratio "$s" "$eight")"
    done
    echo "median ratio $(echo $ratios | tr ' ' '\n' | sort -n | sed -n 2p) (target at most 2)"
}

case "$what" in
small) small_files ;;
rounds) delta_rounds ;;
large) large_file ;;
delta) delta_paths ;;
all) small_files; large_file; delta_paths ;;
*) echo "usage: transfer.sh [small|large|delta|all] [MiB]" >&2; exit 2 ;;
esac
