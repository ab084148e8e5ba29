#!/usr/bin/env bash
# Update-engine benchmarks: each figure is a ratio against a baseline measured
# side by side in the same run, because absolute times on a shared machine are noise.
#   bash bench/run.sh [size in MiB, default 1024]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build_targets bench_update

mib="${1:-1024}"
work="$PWD/build/bench"
address=127.0.0.20
mkdir -p "$work"

server="$work/server"
big="$server/root/files/big.bin"
mkdir -p "$server/root/files"
if [ "$(stat -c %s "$big" 2>/dev/null || echo 0)" != "$((mib * 1048576))" ]; then
    head -c "$((mib * 1048576))" /dev/urandom >"$big"
fi
bash tests/support/server_ctl.sh start "$server" "$address"
trap 'bash tests/support/server_ctl.sh stop "$server"; WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT
run hash "$(winpath /dev/null)" >/dev/null 2>&1 || true   # start Wine once before timing

echo "== hashing ${mib} MiB, warm page cache"
cat "$big" >/dev/null
sha=$(sha1sum "$big" | cut -d' ' -f1)
sha_s=$(seconds sha1sum "$big")
out=$(run hash "$(winpath "$big")")
hash_s=$(echo "$out" | field hash_seconds)
[ "$(echo "$out" | field hash_digest)" = "$sha" ] || { echo "digest differs from sha1sum" >&2; exit 1; }
echo "sha1sum ${sha_s}s, sha1OfFile ${hash_s}s: rate ratio $(ratio "$sha_s" "$hash_s") x sha1sum (target 0.75 or better)"

echo "== cached check of 2,000 installed files"
rm -rf "$work/cache"
out=$(run cached-check "$(winpath "$work/cache")" 2000)
echo "wall $(echo "$out" | field check_seconds)s for $(echo "$out" | field check_files) files," \
     "files read: $(echo "$out" | field check_files_read) (targets 0.25 s, 0 files)"

echo "== files.cache of 100,000 rows, loaded and indexed at start"
rm -rf "$work/cache"
out=$(run cache-load "$(winpath "$work/cache")" 100000)
echo "$(echo "$out" | field cache_rows) of 100000 rows, $(echo "$out" | field cache_index) indexed;" \
     "load $(echo "$out" | field cache_load_seconds)s against $(echo "$out" | field cache_read_seconds)s to read its lines alone" \
     "($(ratio "$(echo "$out" | field cache_load_seconds)" "$(echo "$out" | field cache_read_seconds)") x);" \
     "$(echo "$out" | field cache_bytes_per_row) bytes per row"

echo "== download of ${mib} MiB from the test server, best of 3 each"
curls=() bares=() dls=()
for _ in 1 2 3; do
    curls+=("$(seconds curl -sk "https://$address/launcher/file?p=big.bin" -o "$work/curl.bin")")
    rm -f "$work/curl.bin"
    bares+=("$(run bare-read "$address" big.bin | field bare_seconds)")
    rm -rf "$work/game"
    mkdir -p "$work/game"
    out=$(run download "$address" big.bin "$((mib * 1048576))" "$sha" "$(winpath "$work/game")")
    [ "$(echo "$out" | field download_ok)" = 1 ] || { echo "download failed" >&2; exit 1; }
    dls+=("$(echo "$out" | field download_seconds)")
done
rm -rf "$work/game"
curl_s=$(min "${curls[@]}") bare_s=$(min "${bares[@]}") dl_s=$(min "${dls[@]}")
echo "curl ${curls[*]} s; bare WinHTTP loop ${bares[*]} s; downloadEntry ${dls[*]} s (with verification)"
echo "downloadEntry rate: $(ratio "$bare_s" "$dl_s") x bare WinHTTP loop (target 0.85 or better), $(ratio "$curl_s" "$dl_s") x curl"
