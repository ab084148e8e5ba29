#!/usr/bin/env bash
# The folders stand in layers: every include of the product's own headers
# runs downward, core < update < steam < render < app (the image loader
# fetches with the HTTP client). Two crossings are where the subsystems
# meet, and they are the only ones allowed:
#   update/update_worker_win.cpp -> steam/game_session.h (does the game run?)
#   steam/image_loader_win.cpp   -> render/images_win.h  (the shared decoder)
# Within app/, the window procedure uses its accessible object, never the
# other way: both read their shared rules from the window's model (render/).
#   layering.sh SOURCE_DIR
set -uo pipefail
cd "$1"
rank() {
    case "$1" in
    core) echo 0 ;; update) echo 1 ;; steam) echo 2 ;; render) echo 3 ;; app) echo 4 ;;
    resources) echo 0 ;; *) echo 9 ;;
    esac
}
allowed=" update/update_worker_win.cpp>steam/game_session.h steam/image_loader_win.cpp>render/images_win.h "
faults=0
while IFS= read -r hit; do
    file="${hit%%:*}"
    target="$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$hit")"
    from="${file%%/*}" to="${target%%/*}"
    [ "$from" = "$to" ] && continue
    [ "$(rank "$to")" -lt "$(rank "$from")" ] && continue
    [[ "$allowed" == *" $file>$target "* ]] && continue
    echo "against the layers: $file includes $target" >&2
    faults=$((faults + 1))
done < <(grep -rHn '^#include "' core update steam render app)
if grep -Hn '^#include "app/window_win.h"' app/window_accessible_win.* >&2; then
    echo "against the layers: the accessible object includes the window procedure" >&2
    faults=$((faults + 1))
fi
[ "$faults" -eq 0 ] || exit 1
echo "includes run downward"
