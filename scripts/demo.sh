#!/usr/bin/env bash
# Builds the launcher, starts the bundled test server on loopback with a
# small generated game, and shows the launcher's exchange with it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target TVLLauncher

address=127.0.0.5
state="$PWD/build/demo-server"
rm -rf "$state/root"
mkdir -p "$state/root"
python3 tools/make_server_documents.py --root "$state/root" --version 3 --sample
bash tests/support/server_ctl.sh start "$state" "$address"
trap 'bash tests/support/server_ctl.sh stop "$state"; WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true' EXIT

# The launcher reads its server from the file beside its exe.
printf 'server=%s\r\n' "$address" > build/windows/TVLLauncher.ini
scripts/wine-run.sh "$PWD/build/windows/wineprefix" build/windows/TVLLauncher.exe
