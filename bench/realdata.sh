#!/usr/bin/env bash
# Real game data nobody here made, published and updated as a server owner
# would: two games' data as Debian packages them (supertux-data and
# supertuxkart-data), bullseye's versions as version 1 and bookworm's as
# version 2, in one run:
#  - publish time of version 1 without and with zst forms;
#  - the first install from stock nginx on loopback: bytes, requests, time
#    and CPU seconds per GB (TVLHeadless and wineserver), beside aria2c -x8 -j8
#    fetching the raw objects, and beside the per-file zst choice (each
#    file's zst form where it has one, else the file);
#  - the update to version 2: bytes, requests and time, beside rsync's delta
#    and zstd -19 --patch-from file by file (added files zstd -19 alone).
# The packages come through apt lists of the bench's own (the machine's
# sources stay as they are) and are kept in build/bench-realdata.
#   bash bench/realdata.sh [zstd level for publish, default publish's own]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build_targets TVLHeadless bench_update
for tool in aria2c rsync zstd; do
    command -v "$tool" >/dev/null || apt-get install -y "$([ "$tool" = aria2c ] && echo aria2 || echo "$tool")" >/dev/null
done

level=("${1:+--compress-level}" "${1:-}")
[ -n "${1:-}" ] || level=()
packages=(supertux-data supertuxkart-data)
work="$PWD/build/bench-realdata"
sites=/tmp/tvl-bench-realdata  # where nginx's www-data workers can read them
address=127.0.0.34
app="$work/app" data="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
mkdir -p "$work"
rm -rf "$app" "$sites" && mkdir -p "$app" "$sites" && chmod 755 "$sites"
cp build/windows/TVLHeadless.exe "$app/"
printf 'server=%s\r\n' "$address" > "$app/TVLLauncher.ini"
trap 'bash tests/support/nginx_ctl.sh stop "$work/nginx"; WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT

# fetch CODENAME: the packages of that Debian release, unpacked into $work/CODENAME.
fetch() {
    local codename="$1" apt="$work/apt-$1" mirror
    [ -f "$work/$codename/.unpacked" ] && return
    mirror=$(apt-cache policy | awk '$2 ~ /^https?:/ && $3 ~ /\/main$/ && $3 !~ /-/ { print $2; exit }')
    rm -rf "$apt" "$work/$codename" && mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/debs"
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $codename main" > "$apt/sources.list"
    local o=(-q -o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
    apt-get "${o[@]}" update >/dev/null
    (cd "$apt/debs" && apt-get "${o[@]}" download "${packages[@]}" >/dev/null)
    mkdir -p "$work/$codename"
    for deb in "$apt"/debs/*.deb; do dpkg-deb -x "$deb" "$work/$codename"; done
    # The game's data: what the packages install under /usr/share/games,
    # without the links Debian makes to shared fonts (a build holds none).
    find "$work/$codename" -type l -delete
    # Names that differ only by case are one file on Windows: the first stays.
    find "$work/$codename/usr/share/games" -type f | sort | awk '{ k = tolower($0) } seen[k]++ { print }' |
        while IFS= read -r twin; do rm -f "$twin"; done
    ls "$apt"/debs > "$work/$codename/.unpacked"
}
fetch bullseye
fetch bookworm
v1="$work/bullseye/usr/share/games" v2="$work/bookworm/usr/share/games"
count() { find "$1" -type f | wc -l; }
bytes() { du -sb --apparent-size "$1" | cut -f1; }
echo "== version 1: $(tr '\n' ' ' < "$work/bullseye/.unpacked")($(count "$v1") files, $(bytes "$v1") bytes)"
echo "== version 2: $(tr '\n' ' ' < "$work/bookworm/.unpacked")($(count "$v2") files, $(bytes "$v2") bytes)"

publish() { python3 tools/tvl_publish.py publish "$1" --site "$2" --host "$address" "${@:3}" >/dev/null; }
plain=$(seconds publish "$v1" "$sites/plain" --version 1 --no-compress)
zst=$(seconds publish "$v1" "$sites/site" --version 1 "${level[@]}")
echo "publish of version 1: ${plain} s without zst forms, ${zst} s with (ratio $(ratio "$zst" "$plain"))"

# CPU seconds of wineserver so far (the launcher's own come from time(1)).
server_cpu() {
    local pid
    pid=$(pgrep -f "wineserver" | head -1)
    awk '{ printf "%.2f", ($14 + $15) / '"$(getconf CLK_TCK)"' }' "/proc/$pid/stat"
}
sent_since() { tail -n +"$(($1 + 1))" "$work/nginx/access.log" | awk '$1 ~ /^\/launcher\/o\// { b += $NF; n++ } END { print b + 0, n + 0 }'; }
# headless_run LABEL ARGS...: wall seconds, CPU seconds (process and wineserver), bytes and requests of objects.
headless_run() {
    local label="$1" before s0 t
    shift
    before=$(wc -l < "$work/nginx/access.log")
    WINEPREFIX="$prefix" wineserver -p 2>/dev/null || true
    s0=$(server_cpu)
    /usr/bin/time -f "%e %U %S" -o "$work/time.out" scripts/wine-run.sh "$prefix" "$app/TVLHeadless.exe" \
        --press-update --exit-on-ready --timeout 1800 > "$work/$label.out" 2>&1
    grep -q '^Ready' "$work/$label.out" || { echo "$label: not Ready" >&2; tail "$work/$label.out" >&2; exit 1; }
    read -r wall user sys < "$work/time.out"
    t=$(echo "$user + $sys + $(server_cpu) - $s0" | bc -l)
    echo "$wall $t $(sent_since "$before")"
}

echo "== the first install, stock nginx on loopback"
bash tests/support/nginx_ctl.sh start "$work/nginx" "$address" "$sites/site"
rm -rf "$data"
read -r wall cpu sent requests < <(headless_run install)
raw=$(bytes "$v1")
choice=$(python3 - "$sites/site/launcher/manifest" <<'PY'
import json, sys
files = json.load(open(sys.argv[1]))["files"]
print(sum(min(f["s"], f.get("zs", f["s"])) for f in files))
PY
)
python3 - "$sites/site/launcher/manifest" "$address" > "$work/aria.list" <<'PY'
import json, sys
for f in json.load(open(sys.argv[1]))["files"]:
    if f["s"]:
        print(f"https://{sys.argv[2]}/launcher/o/{f['h']}\n  out={f['h']}")
PY
rm -rf "$work/aria"
/usr/bin/time -f "%e %U %S" -o "$work/time.out" aria2c -q -x8 -j8 --check-certificate=false --allow-overwrite=true \
    -i "$work/aria.list" -d "$work/aria"
read -r aria_wall aria_user aria_sys < "$work/time.out"
gb=$(echo "$raw / 1000000000" | bc -l)
printf '%-30s %14s %9s %9s %12s\n' "" "bytes" "requests" "seconds" "CPU s / GB"
printf '%-30s %14s %9s %9.2f %12.1f\n' "launcher" "$sent" "$requests" "$wall" "$(echo "$cpu / $gb" | bc -l)"
printf '%-30s %14s %9s %9.2f %12.1f\n' "aria2c -x8 -j8, raw objects" "$raw" "-" "$aria_wall" \
    "$(echo "($aria_user + $aria_sys) / $gb" | bc -l)"
echo "the per-file zst choice: ${choice} bytes; the launcher moved $(ratio "$sent" "$choice") of it (target at most 1.02)"
# The decoder alone: every zst form read into memory first, then decoded.
scripts/wine-run.sh "$prefix" build/windows/bench_update.exe decode "Z:${sites//\//\\}\\site\\launcher\\o" |
    tr -d '\r' > "$work/decode.out"
grep -qx "decode_ok 1" "$work/decode.out" || { echo "decoding failed: $(cat "$work/decode.out")" >&2; exit 1; }
figure() { sed -n "s/^$1 //p" "$work/decode.out"; }
echo "decoding $(figure decode_forms) zst forms into $(figure decode_made) bytes: $(figure decode_cpu_seconds) CPU s," \
     "$(echo "$(figure decode_cpu_seconds) / $gb" | bc -l | xargs printf '%.2f') per GB of game (target at most 2)," \
     "$(echo "$(figure decode_cpu_seconds) * 1000000000 / $(figure decode_made)" | bc -l | xargs printf '%.2f') per GB decoded"
rm -rf "$work/data.v1" && cp -a "$data" "$work/data.v1"  # version 1 installed, for the updates at a speed limit

echo "== the update to version 2"
upd=$(seconds publish "$v2" "$sites/site" "${level[@]}")
echo "publish of version 2: ${upd} s"
read -r wall cpu sent requests < <(headless_run update)
# Every file of version 2 as it is, by its name as Windows compares names
# (a file renamed only by case keeps its old spelling on disk); files
# version 2 dropped stay, as the launcher leaves them.
python3 - "$v2" "$data/Game" <<'PY' || { echo "the update differs from version 2" >&2; exit 1; }
import filecmp, os, sys
want, have = sys.argv[1:]
installed = {os.path.relpath(os.path.join(d, n), have).lower(): os.path.join(d, n)
             for d, _, names in os.walk(have) for n in names}
for d, _, names in os.walk(want):
    for n in names:
        path = os.path.join(d, n)
        twin = installed.get(os.path.relpath(path, want).lower())
        if not twin or not filecmp.cmp(path, twin, shallow=False):
            sys.exit(f"differs: {os.path.relpath(path, want)}")
PY
# The bars, once per pair of versions: rsync's batch, and zstd -19 --patch-from file by file.
bars="$work/bars.$(cat "$work/bullseye/.unpacked" "$work/bookworm/.unpacked" | sha1sum | cut -c1-12)"
if [ ! -f "$bars" ]; then
    rm -rf "$work/rsync-dest" "$work/batch"*
    cp -a "$v1" "$work/rsync-dest"
    rsync -r --checksum --no-whole-file --only-write-batch="$work/batch" "$v2/" "$work/rsync-dest/" >/dev/null
    rsync_bytes=$(stat -c %s "$work/batch")
    patch_bytes=$(cd "$v2" && find . -type f -print0 | xargs -0 -P "$(nproc)" -I{} sh -c '
        if [ -f "$0/{}" ] && cmp -s "$0/{}" "{}"; then echo 0
        elif [ -f "$0/{}" ]; then zstd -q -19 --long=31 --patch-from="$0/{}" -c "{}" 2>/dev/null | wc -c
        else zstd -q -19 -c "{}" | wc -c; fi' "$v1" | awk '{ s += $1 } END { print s }')
    echo "$rsync_bytes $patch_bytes" > "$bars"
fi
read -r rsync_bytes patch_bytes < "$bars"
printf '%-30s %14s %9s %9s\n' "" "bytes" "requests" "seconds"
printf '%-30s %14s %9s %9.2f\n' "launcher" "$sent" "$requests" "$wall"
printf '%-30s %14s\n' "rsync's delta" "$rsync_bytes" "zstd -19 --patch-from per file" "$patch_bytes"
echo "the launcher moved $(ratio "$sent" "$patch_bytes") of zstd --patch-from (target at most 1.1)" \
     "and $(ratio "$sent" "$rsync_bytes") of rsync (target under 1)"

echo "== the update at a 20 MB/s speed limit: a site without zst forms and patches (as before them) against this one"
publish "$v2" "$sites/plain" --no-compress --patch-releases 0
limited_update() {  # limited_update SITE: wall seconds and bytes of the update from version 1
    rm -rf "$data" && cp -a "$work/data.v1" "$data"
    printf 'speed_limit=20\n' > "$data/settings.txt"
    bash tests/support/nginx_ctl.sh start "$work/nginx" "$address" "$1"
    read -r wall cpu sent requests < <(headless_run limited)
    echo "$wall $sent"
}
read -r plain_wall plain_sent < <(limited_update "$sites/plain")
read -r ours_wall ours_sent < <(limited_update "$sites/site")
printf '%-30s %14s %9s\n' "" "bytes" "seconds"
printf '%-30s %14s %9.2f\n' "without zst forms and patches" "$plain_sent" "$plain_wall" "with them" "$ours_sent" "$ours_wall"
echo "the update took $(ratio "$ours_wall" "$plain_wall") of the time without them (target at most 1)"
