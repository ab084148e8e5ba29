# Shared by the benchmark scripts: sourced after `cd` to the repository.
prefix="$PWD/build/windows/wineprefix"
# What a fresh machine lacks, then the given targets of the Windows build.
build_targets() {
    bash scripts/setup.sh
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target "$@" >/dev/null
}
# bench_update.exe under Wine, its "key value" lines without carriage returns.
run() { scripts/wine-run.sh "$prefix" build/windows/bench_update.exe "$@" | tr -d '\r'; }
winpath() { echo "Z:$1" | tr / '\\'; }
field() { grep "^$1 " | cut -d' ' -f2; }
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }
min() { printf '%s\n' "$@" | sort -g | head -1; }
