#!/usr/bin/env bash
# Paint benchmark: the window painted off-screen under Wine's GDI and GDI+,
# each figure a share of the 30 ms animation frame, beside the
# straightforward image draws measured in the same run.
#   bash bench/paint.sh [runs per figure, default 15]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.sh
build_targets bench_paint
scripts/wine-run.sh "$PWD/build/windows/wineprefix" build/windows/bench_paint.exe "${1:-15}" | tr -d '\r'
