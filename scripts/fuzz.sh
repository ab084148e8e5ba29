#!/usr/bin/env bash
# Fuzzes every reader of bytes from the network or the disk with libFuzzer
# (clang, ASan, UBSan), each for SECONDS (default 60), starting from the seeds
# in tests/fuzz/corpus/. What the fuzzer learns stays in build/fuzz/corpus/;
# a crash leaves its input in build/fuzz/artifacts/ and fails the run.
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

out=build/fuzz
mkdir -p "$out/artifacts"
status=0
printf '%-18s %12s %10s %8s\n' harness executions exec/s corpus
for harness in server_documents steam_files image_header local_files signing delta; do
    corpus="$out/corpus/$harness"
    mkdir -p "$corpus"
    dict=()
    [ -f "tests/fuzz/$harness.dict" ] && dict=(-dict="tests/fuzz/$harness.dict")
    log="$out/$harness.log"
    if ! "$out/fuzz_$harness" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=1024 \
        -artifact_prefix="$out/artifacts/$harness-" "${dict[@]}" "$corpus" "tests/fuzz/corpus/$harness" \
        >"$log" 2>&1; then
        echo "fuzz_$harness FOUND A FAULT; its input is in $out/artifacts/:" >&2
        grep -E "ERROR|SUMMARY|runtime error" "$log" | head -5 >&2
        status=1
    fi
    stat() { grep -m1 "^stat::$1:" "$log" | awk '{print $2}'; }
    printf '%-18s %12s %10s %8s\n' "$harness" "$(stat number_of_executed_units)" "$(stat average_exec_per_sec)" \
        "$(find "$corpus" -type f | wc -l)"
done
exit $status
