#!/usr/bin/env bash
# Window benchmarks under Wine and Xvfb, each beside a baseline run the same way:
#  - CPU over 10 s, as a share of one core: the launcher in Ready with nothing
#    changing, and in Waiting (the manifest answers 503, the spinner turns),
#    beside a minimal window program doing nothing.
#  - Start to first paint: from starting the program until its window shows
#    painted pixels, the launcher against the minimal window program.
#   bash bench/window.sh [runs, default 5]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build_targets TVLLauncher TVLHeadless bench_minimal_window

runs="${1:-5}"
export WINEPREFIX="$prefix"
work="$PWD/build/bench-window"
address=127.0.0.21
rm -rf "$work"
mkdir -p "$work/root" "$work/app"
python3 tests/support/test_site.py --root "$work/root" --version 3 --sample >/dev/null
# TVL_BENCH_LAUNCHER measures another build of the launcher (an earlier one, say) the same way.
cp "${TVL_BENCH_LAUNCHER:-build/windows/TVLLauncher.exe}" "$work/app/TVLLauncher.exe"
cp build/windows/TVLHeadless.exe build/windows/bench_minimal_window.exe "$work/app/"
printf 'server=%s\r\n' "$address" > "$work/app/TVLLauncher.ini"
bash tests/support/server_ctl.sh start "$work" "$address"
wineserver -k 2>/dev/null || true
display=":$((150 + RANDOM % 50))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
trap 'bash tests/support/server_ctl.sh stop "$work"; wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
scripts/wine-run.sh "$prefix" cmd /c exit 0 >/dev/null 2>&1 || true  # wineserver up before timing

# The game installed once, so the launcher reaches Ready by itself.
rm -rf "$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
scripts/wine-run.sh "$prefix" "$work/app/TVLHeadless.exe" --press-update --exit-on-ready --timeout 120 >/dev/null

# CPU seconds (user + system) of the Wine process running an exe.
cpu_of() {
    local pid
    pid=$(pgrep -f "$1" | head -1)
    awk '{ printf "%.2f", ($14 + $15) / '"$(getconf CLK_TCK)"' }' "/proc/$pid/stat"
}
# Starts an exe, waits for its window to show painted pixels at the centre of
# its client area, prints the seconds that took and leaves it running.
start_and_time() {
    local t0 t1 id
    t0=$(date +%s.%N)
    scripts/wine-run.sh "$prefix" "$1" >/dev/null 2>&1 &
    while :; do
        id=$(xdotool search --onlyvisible --name "$2" 2>/dev/null | head -1 || true)
        if [ -n "$id" ]; then
            eval "$(xdotool getwindowgeometry --shell "$id")"
            c=$(import -window root -crop "1x1+$((X + 60))+$((Y + 365))" -depth 8 txt:- 2>/dev/null | tail -1)
            case "$c" in *"(0,0,0)"*) ;; *) break ;; esac
        fi
        sleep 0.01
    done
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc -l
}
stop_all() { wine taskkill /f /im "$1" >/dev/null 2>&1 || true; sleep 0.5; }
share() { echo "scale=1; 100 * ($2 - $1) / 10" | bc -l; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

echo "== start to first paint, median of $runs"
base=$(for _ in $(seq "$runs"); do start_and_time "$work/app/bench_minimal_window.exe" '^Minimal window$'; stop_all bench_minimal_window.exe; done | median)
launcher=$(for _ in $(seq "$runs"); do start_and_time "$work/app/TVLLauncher.exe" '^TVL UE4 Launcher$'; stop_all TVLLauncher.exe; done | median)
echo "minimal window ${base}s, launcher ${launcher}s: $(echo "scale=2; $launcher / $base" | bc -l) x the minimal window (target 1.5 or less)"

echo "== CPU over 10 s, share of one core"
start_and_time "$work/app/bench_minimal_window.exe" '^Minimal window$' >/dev/null
sleep 2
a=$(cpu_of bench_minimal_window.exe); sleep 10; b=$(cpu_of bench_minimal_window.exe)
echo "minimal window, idle: $(share "$a" "$b") %"
stop_all bench_minimal_window.exe

start_and_time "$work/app/TVLLauncher.exe" '^TVL UE4 Launcher$' >/dev/null
sleep 8  # checking done, Ready, the first info poll come and gone
a=$(cpu_of TVLLauncher.exe); sleep 10; b=$(cpu_of TVLLauncher.exe)
echo "launcher in Ready: $(share "$a" "$b") % (target 1 or less)"
stop_all TVLLauncher.exe

echo '[{"path": "/launcher/manifest", "status": 503}]' > "$work/root/rules.json"
start_and_time "$work/app/TVLLauncher.exe" '^TVL UE4 Launcher$' >/dev/null
sleep 3
a=$(cpu_of TVLLauncher.exe); sleep 10; b=$(cpu_of TVLLauncher.exe)
echo "launcher in Waiting: $(share "$a" "$b") % (target 25 or less)"
stop_all TVLLauncher.exe
rm -f "$work/root/rules.json"

echo "== CPU over 10 s of Downloading, share of one core: the same 20 MB/s download from stock nginx"
site=/tmp/tvl-bench-window-site  # where nginx's www-data workers can read it
rm -rf "$work/game" "$site"
mkdir -p "$work/game"
head -c 400000000 /dev/urandom > "$work/game/Tervalon.pak"
python3 tools/tvl_publish.py publish "$work/game" --site "$site" --version 1 >/dev/null
bash tests/support/server_ctl.sh stop "$work"
bash tests/support/nginx_ctl.sh start "$work/nginx" "$address" "$site" 20m
trap 'bash tests/support/nginx_ctl.sh stop "$work/nginx"; wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
data="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"

rm -rf "$data"
scripts/wine-run.sh "$prefix" "$work/app/TVLHeadless.exe" --press-update --timeout 60 >/dev/null 2>&1 &
sleep 5  # connected, checked, pressed, downloading
a=$(cpu_of TVLHeadless.exe); sleep 10; b=$(cpu_of TVLHeadless.exe)
headless=$(share "$a" "$b")
stop_all TVLHeadless.exe

rm -rf "$data"
start_and_time "$work/app/TVLLauncher.exe" '^TVL UE4 Launcher$' >/dev/null
sleep 3  # INSTALL shows
id=$(xdotool search --onlyvisible --name '^TVL UE4 Launcher$' | head -1)
eval "$(xdotool getwindowgeometry --shell "$id")"
xdotool mousemove "$((X + 130))" "$((Y + 365))" click 1 mousemove 0 0  # INSTALL, at 96 DPI
sleep 2
a=$(cpu_of TVLLauncher.exe); sleep 10; b=$(cpu_of TVLLauncher.exe)
launcher=$(share "$a" "$b")
stop_all TVLLauncher.exe
echo "TVLHeadless ${headless} %, launcher ${launcher} %: the window adds $(echo "$launcher - $headless" | bc -l) % (target 4 or less)"
[ -d "$data/Game" ] && [ -n "$(ls "$data/Game")" ] || echo "(the launcher did not start downloading: the figure is not a download's)"
rm -rf "$site"
