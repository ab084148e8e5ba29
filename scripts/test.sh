#!/usr/bin/env bash
# Builds everything and runs every test: the pure readers natively under
# sanitizers and briefly under libFuzzer, then the Windows build under Wine
# (with an Xvfb display for tests that open windows).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native
# A few seconds of fuzzing per reader; scripts/fuzz.sh alone runs longer.
bash scripts/fuzz.sh 5

cmake --preset windows >/dev/null
cmake --build --preset windows

if [ -z "${DISPLAY:-}" ]; then
    display=":$((90 + RANDOM % 9))"
    Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
    export DISPLAY="$display"
fi

# A server left from an earlier run would keep that run's display.
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
status=0
ctest --preset windows || status=$?
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
exit $status
