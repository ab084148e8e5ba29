#!/usr/bin/env bash
# Update benchmarks against stock nginx serving a tvl_publish.py site, each
# beside baselines run the same way in the same run:
#  - one large download: downloadEntry (writing and hashing) against the
#    fastest plain WinHTTP read loop found over several buffer sizes, and curl;
#  - an install of 2,000 files of 1 KiB: downloadEntry for each against the
#    same requests with WinHTTP alone, and curl fetching all 2,000 URLs over
#    one kept-alive connection.
#   bash bench/nginx.sh [MiB, default 1024]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build_targets bench_update

mib="${1:-1024}"
work="$PWD/build/bench-nginx"
sites=/tmp/tvl-bench-sites  # where nginx's www-data workers can read them
address=127.0.0.23
rm -rf "$work/game"
mkdir -p "$work/big" "$work/many"
trap 'bash tests/support/nginx_ctl.sh stop "$work/nginx"' EXIT

if [ "$(stat -c %s "$work/big/big.bin" 2>/dev/null || echo 0)" != "$((mib * 1048576))" ]; then
    head -c "$((mib * 1048576))" /dev/urandom > "$work/big/big.bin"
fi
if [ ! -f "$work/many/f1999.dat" ]; then
    for i in $(seq 0 1999); do head -c 1024 /dev/urandom > "$work/many/f$i.dat"; done
fi
python3 tools/tvl_publish.py publish "$work/big" --site "$sites/big" --version 1 >/dev/null
python3 tools/tvl_publish.py publish "$work/many" --site "$sites/many" --version 1 >/dev/null
sha=$(sha1sum "$work/big/big.bin" | cut -d' ' -f1)
run hash "$(winpath /dev/null)" >/dev/null 2>&1 || true  # Wine up before timing

echo "== download of ${mib} MiB from nginx, best of 3 each"
bash tests/support/nginx_ctl.sh start "$work/nginx" "$address" "$sites/big"
curls=() dls=()
declare -A bare
for _ in 1 2 3; do
    curls+=("$(seconds curl -sk "https://$address/launcher/file?p=big.bin" -o "$work/curl.bin")")
    for kib in 64 256 1024 4096; do
        bare[$kib]="${bare[$kib]:-} $(run bare-read "$address" big.bin "$kib" | field bare_seconds)"
    done
    rm -rf "$work/game" && mkdir -p "$work/game"
    out=$(run download "$address" big.bin "$((mib * 1048576))" "$sha" "$(winpath "$work/game")")
    [ "$(echo "$out" | field download_ok)" = 1 ] || { echo "download failed" >&2; exit 1; }
    dls+=("$(echo "$out" | field download_seconds)")
done
rm -f "$work/curl.bin"
best=""
for kib in 64 256 1024 4096; do
    b=$(min ${bare[$kib]})
    echo "bare WinHTTP loop, ${kib} KiB reads: ${bare[$kib]} s (best $b)"
    if [ -z "$best" ] || [ "$(echo "$b < $best" | bc -l)" = 1 ]; then best=$b; fi
done
curl_s=$(min "${curls[@]}") dl_s=$(min "${dls[@]}")
echo "curl ${curls[*]} s; downloadEntry ${dls[*]} s (writing and verifying)"
echo "downloadEntry: $(ratio "$best" "$dl_s") x the fastest bare WinHTTP loop (target 0.9 or better), $(ratio "$curl_s" "$dl_s") x curl"

echo "== install of 2,000 files of 1 KiB from nginx"
bash tests/support/nginx_ctl.sh start "$work/nginx" "$address" "$sites/many"
: > "$work/urls.txt"
mkdir -p "$work/curl-many"
for i in $(seq 0 1999); do printf 'url = "https://%s/launcher/file?p=f%d.dat"\noutput = "%s/curl-many/f%d.dat"\n' \
    "$address" "$i" "$work" "$i" >> "$work/urls.txt"; done
curl_many=$(seconds curl -sk -K "$work/urls.txt")
requests=$(run requests "$address" | field requests_seconds)
rm -rf "$work/game" && mkdir -p "$work/game"
out=$(run install "$address" "$(winpath "$work/game")")
[ "$(echo "$out" | field install_ok)" = 2000 ] || { echo "install failed: $out" >&2; exit 1; }
install=$(echo "$out" | field install_seconds)
echo "curl ${curl_many}s; WinHTTP requests alone ${requests}s; downloadEntry for each ${install}s"
echo "per file: curl $(echo "scale=2; 1000 * $curl_many / 2000" | bc -l) ms, WinHTTP $(echo "scale=2; 1000 * $requests / 2000" | bc -l) ms," \
     "downloadEntry $(echo "scale=2; 1000 * $install / 2000" | bc -l) ms"
echo "install: $(ratio "$install" "$curl_many") x curl's time (target 3 or less)"

echo "== logging's cost: the same install with launcher.log and without, alternately, 4 each"
with=() without=()
for _ in 1 2 3 4; do
    for mode in with without; do
        rm -rf "$work/game" "$work/launcher.log" "$work/launcher.1.log" && mkdir -p "$work/game"
        if [ "$mode" = with ]; then
            out=$(run install "$address" "$(winpath "$work/game")")
            with+=("$(echo "$out" | field install_seconds)")
            lines=$(wc -l < "$work/launcher.log")
        else
            out=$(TVL_BENCH_NO_LOG=1 run install "$address" "$(winpath "$work/game")")
            without+=("$(echo "$out" | field install_seconds)")
        fi
        [ "$(echo "$out" | field install_ok)" = 2000 ] || { echo "install failed: $out" >&2; exit 1; }
    done
done
with_s=$(min "${with[@]}") without_s=$(min "${without[@]}")
spread=$(ratio "$(max "${without[@]}")" "$(min "${without[@]}")")
echo "with the log ${with[*]} s ($lines lines); without ${without[*]} s"
echo "logging: $(ratio "$with_s" "$without_s") x the install's time without it (best of each);" \
     "noise: the runs without it spread $spread x (target: within the noise)"
