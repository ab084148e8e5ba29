#!/usr/bin/env bash
# The launcher's main job: builds TVLLauncher.exe, publishes a small generated
# game with tools/tvl_publish.py, serves it with stock nginx on loopback, as a
# server owner would, and opens the launcher on it with a fresh install.
#  - With a display, the window is yours: press INSTALL, then PLAY or close it.
#  - Without one (a server, CI), it runs under Xvfb: it presses INSTALL, waits
#    for PLAY, saves a screenshot of every phase it passed under build/demo/,
#    closes the window and exits 0.
# Set TVL_DEMO_HEADLESS=1 to take the second path even with a display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target TVLLauncher

prefix="$PWD/build/windows/wineprefix"
export WINEPREFIX="$prefix"
address=127.0.0.5
state="$PWD/build/demo-server"
shots="$PWD/build/demo"
# nginx's workers run as www-data, which cannot reach every clone (/root is 0700).
site=/tmp/tvl-demo-site
rm -rf "$state/build" "$site" "$shots"
mkdir -p "$state" "$shots"
python3 tests/support/test_site.py --sample-build "$state/build"
printf 'Version 3\n\u2022 New map: Level 1\n\u2022 Faster matchmaking\n\u2022 Fixed a crash when leaving a lobby\n' \
    > "$state/notes.txt"
python3 tools/tvl_publish.py publish "$state/build" --site "$site" --version 3 --host "$address" --notes "$state/notes.txt" \
    --banner resources/default_banner.jpg
bash tests/support/nginx_ctl.sh start "$state/nginx" "$address" "$site"
xvfb_pid=""
cleanup() {
    bash tests/support/nginx_ctl.sh stop "$state/nginx"
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# The launcher reads its server from the file beside its exe; the data
# folder lives inside the prefix, so a fresh install is one rm away.
printf 'server=%s\r\n' "$address" > build/windows/TVLLauncher.ini
rm -rf "$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
scripts/wine-run.sh "$prefix" cmd /c exit 0 >/dev/null 2>&1 || true  # make the prefix once

if [ -n "${DISPLAY:-}" ] && [ -z "${TVL_DEMO_HEADLESS:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "--- TVLLauncher.exe on $address: the window is yours; close it to end the demo"
    scripts/wine-run.sh "$prefix" build/windows/TVLLauncher.exe
    exit 0
fi

# No display: a virtual one. The prefix's work area follows the display its
# wineserver starts on, so start that afresh too.
wineserver -k 2>/dev/null || true
display=":$((100 + RANDOM % 50))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
echo "--- TVLLauncher.exe on $address, under Xvfb $display"
scripts/wine-run.sh "$prefix" build/windows/TVLLauncher.exe >/dev/null 2>&1 &
launcher=$!
bash tests/support/window_driver.sh demo "$shots" "$launcher"
