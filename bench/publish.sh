#!/usr/bin/env bash
# Publishing benchmarks, each beside a baseline run the same way:
#  - copying and hashing a build of one large file, against cp and sha1sum of it;
#  - a republish of an unchanged build of 2,000 files (nothing to hash).
#   bash bench/publish.sh [MiB, default 1024]
set -euo pipefail
cd "$(dirname "$0")/.."
mib="${1:-1024}"
work="$PWD/build/bench-publish"
rm -rf "$work"
mkdir -p "$work/big" "$work/many"
seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
publish() { python3 tools/tvl_publish.py publish "$@"; }

head -c "$((mib * 1048576))" /dev/urandom > "$work/big/game.pak"
cat "$work/big/game.pak" > /dev/null  # warm page cache for both
copy_and_hash() { cp "$work/big/game.pak" "$work/copy.pak" && sha1sum "$work/copy.pak"; }
sha=$(seconds copy_and_hash)
rm -f "$work/copy.pak"
pub=$(seconds publish "$work/big" --site "$work/site-big")
echo "copying and hashing ${mib} MiB: cp + sha1sum ${sha}s, publish ${pub}s: $(echo "scale=2; $sha / $pub" | bc -l) x their rate"

for i in $(seq 2000); do printf 'file %d\n' "$i" > "$work/many/f$((i % 40))_$i.dat"; done
publish "$work/many" --site "$work/site-many" >/dev/null
again=$(seconds publish "$work/many" --site "$work/site-many")
baseline=$(seconds python3 -c "pass")
echo "republish of an unchanged 2,000-file build: ${again}s (target 0.5 s), beside ${baseline}s to start Python"
