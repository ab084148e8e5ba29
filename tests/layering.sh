#!/usr/bin/env bash
# The folders stand in layers: every include of the product's own headers
# runs downward. Below the worker, the update engine lives in rooms, each
# knowing one thing:
#   core   what everything stands on
#   net    the HTTP client and what guards and reads its bodies (core)
#   trust  the release, its signatures and floor, fetching its objects (core, net)
#   files  the game's files on disk: hashes, the cache, paths, the folder (core)
#   delta  block maps, the scan and plan, the delta download (core, net, trust, files)
#   update one cycle: documents, downloads, the worker, the launcher's own update
#   steam  Steam, the game's process, the banner and avatar (core, net, trust:
#          the image loader fetches, and checks the banner against the release)
#   render the painters and the window's model (core, steam)
#   app    the top: start-up, the window, the menu (all of the above)
# A room may include only the rooms named after it, and no two files call
# each other across rooms. Two crossings are where the subsystems meet, and
# they are the only ones allowed:
#   update/update_worker_win.cpp -> steam/game_session.h (does the game run?)
#   steam/image_loader_win.cpp   -> render/images_win.h  (the shared decoder)
# Within app/, the window procedure uses its accessible object, never the
# other way: both read their shared rules from the window's model (render/).
#   layering.sh SOURCE_DIR
set -uo pipefail
cd "$1"
rooms="core net trust files delta update steam render app"
# The rooms each may include, beside its own.
uses() {
    case "$1" in
    core) echo "" ;;
    net) echo "core" ;;
    trust) echo "core net" ;;
    files) echo "core" ;;
    delta) echo "core net trust files" ;;
    update) echo "core net trust files delta" ;;
    steam) echo "core net trust" ;;
    render) echo "core steam" ;;
    app) echo "core net trust files delta update steam render" ;;
    esac
}
allowed=" update/update_worker_win.cpp>steam/game_session.h steam/image_loader_win.cpp>render/images_win.h "
faults=0
while IFS= read -r hit; do
    file="${hit%%:*}"
    target="$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$hit")"
    from="${file%%/*}" to="${target%%/*}"
    [ "$from" = "$to" ] && continue
    [ "$to" = resources ] && continue
    [[ " $(uses "$from") " == *" $to "* ]] && continue
    [[ "$allowed" == *" $file>$target "* ]] && continue
    echo "against the layers: $file includes $target" >&2
    faults=$((faults + 1))
done < <(grep -rHn '^#include "' $rooms)
# No two modules (a header with its sources, foo.h beside foo.cpp and
# foo_win.cpp) include each other.
if ! python3 - $rooms <<'PY' >&2; then
import glob, os, re, sys
def module(path):
    stem = os.path.splitext(path)[0]
    return stem[:-4] if stem.endswith("_win") and not os.path.exists(stem + ".h") else stem
uses = {}
for room in sys.argv[1:]:
    for path in glob.glob(room + "/*.*"):
        for target in re.findall(r'^#include "([^"]+)"', open(path, encoding="utf-8").read(), re.M):
            uses.setdefault(module(path), set()).add(module(target))
pairs = sorted({tuple(sorted((a, b))) for a, bs in uses.items() for b in bs if a != b and a in uses.get(b, ())})
for a, b in pairs:
    print(f"against the layers: {a} and {b} include each other")
sys.exit(1 if pairs else 0)
PY
    faults=$((faults + 1))
fi
if grep -Hn '^#include "app/window_win.h"' app/window_accessible_win.* >&2; then
    echo "against the layers: the accessible object includes the window procedure" >&2
    faults=$((faults + 1))
fi
[ "$faults" -eq 0 ] || exit 1
echo "includes run downward"
