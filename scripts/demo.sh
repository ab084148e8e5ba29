#!/usr/bin/env bash
# The launcher's main job, without its window: builds it, starts the bundled
# test server on loopback with a small generated game, and runs TVLHeadless
# from a fresh install through download to Ready, printing each step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target TVLHeadless

prefix="$PWD/build/windows/wineprefix"
address=127.0.0.5
state="$PWD/build/demo-server"
rm -rf "$state/root"
mkdir -p "$state/root"
python3 tools/make_server_documents.py --root "$state/root" --version 3 --sample
bash tests/support/server_ctl.sh start "$state" "$address"
trap 'bash tests/support/server_ctl.sh stop "$state"; WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT

# The headless launcher reads its server from the file beside its exe, like the launcher.
printf 'server=%s\r\n' "$address" > build/windows/TVLLauncher.ini
# A fresh install: no game files, no cache, no install record. (Wine keeps the
# player's local application data inside the prefix.)
game="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
rm -rf "$game"
echo "--- TVLHeadless --press-update --exit-on-ready (server $address)"
scripts/wine-run.sh "$prefix" build/windows/TVLHeadless.exe --press-update --exit-on-ready --timeout 300 | tr -d '\r'
echo "--- data folder after the update"
(cd "$game" && find . -type f | sort | while read -r f; do printf '%10d  %s\n' "$(stat -c %s "$f")" "$f"; done)
