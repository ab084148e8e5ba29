#!/usr/bin/env bash
# Drives the launcher's real window under X with real input, and reads its
# phase from the main button's colours (the only way from outside the
# process). Used by the demo and by the end-to-end window test.
#
#   window_driver.sh demo SHOTS_DIR LAUNCHER_PID
#     presses INSTALL when it shows, waits for PLAY, saves a screenshot of
#     each phase it saw, then closes the window with its close button.
#   window_driver.sh story SHOTS_DIR LAUNCHER_PID
#     checks the window opens centred, installs with Enter, opens the menu
#     with a click on its button and closes it with Escape, plays with a
#     click, waits for the game to end, then closes the window.
# Both wait for the process to end, and exit 1 on a time-out or a surprise.
set -euo pipefail
mode="$1"
shots="$2"
launcher="$3"
deadline=$((SECONDS + ${TVL_DRIVER_TIMEOUT:-180}))

fail() { echo "window driver: $*" >&2; exit 1; }
alive() { kill -0 "$launcher" 2>/dev/null; }

window=""
while [ -z "$window" ]; do
    [ $SECONDS -lt $deadline ] || fail "no launcher window"
    alive || fail "the launcher ended before its window showed"
    window=$(xdotool search --onlyvisible --name '^TVL UE4 Launcher$' 2>/dev/null | head -1 || true)
    [ -n "$window" ] || sleep 0.1
done
eval "$(xdotool getwindowgeometry --shell "$window")"

pixel() {  # pixel X Y -> "R G B" at a client point of the window
    import -window root -crop "1x1+$((X + $1))+$((Y + $2))" -depth 8 txt:- 2>/dev/null |
        tail -1 | sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/'
}
# The main button's body low in its left part (client 40, 383 at 96 DPI).
phase() {
    local r g b
    read -r r g b <<<"$(pixel 40 383)"
    if [ $((r + g + b)) -lt 30 ]; then echo unpainted; return; fi  # mapped, not drawn yet
    if [ $((g - r)) -gt 40 ] && [ $((g - b)) -gt 40 ]; then echo ready; return; fi
    if [ $(( (r > b ? r : b) - (r < g ? r : g) )) -lt 40 ]; then echo connecting; return; fi
    if [ "$b" -gt 200 ]; then echo update-ready; return; fi
    # Busy: the progress track (or its blue fill) says downloading.
    read -r r g b <<<"$(pixel 440 374)"
    if [ "$r" -ge 45 ] || [ "$b" -gt 150 ]; then echo downloading; else echo busy; fi
}
click() { xdotool mousemove "$((X + $1))" "$((Y + $2))" click 1 mousemove 0 0; }
seen=0
last=""
# Waits until the phase is $1, saving a screenshot at every change.
await() {
    while :; do
        [ $SECONDS -lt $deadline ] || fail "no $1 within the time allowed (last phase: ${last:-none})"
        alive || fail "the launcher ended on its own"
        local now
        now=$(phase)
        if [ "$now" != unpainted ] && [ "$now" != "$last" ]; then
            seen=$((seen + 1))
            local file
            file="$shots/$(printf '%02d' $seen)-$now.png"
            import -window "$window" "$file"
            echo "$now: $file"
            last="$now"
        fi
        [ "$now" = "$1" ] && return 0
        sleep 0.2
    done
}
# The menu's popup drops below its button, right-aligned with it: a light
# surface where the dark banner was.
menu_shows() {
    local r g b
    read -r r g b <<<"$(pixel 940 50)"
    [ $((r + g + b)) -gt 450 ]
}
open_menu() {
    menu_shows && fail "something light below the menu button before it was clicked"
    click 937 23
    for _ in $(seq 50); do menu_shows && break; sleep 0.1; done
    menu_shows || fail "a click on the menu button opened no menu"
    # What Windows calls a popup menu: a visible window of class #32768.
    if [ -n "${TVL_MENU_PROBE:-}" ]; then
        $TVL_MENU_PROBE menu open 5 >/dev/null || fail "what the click opened is no #32768 popup menu"
    fi
    import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" "$shots/menu-open.png"
    echo "menu: $shots/menu-open.png"
    xdotool key Escape
    for _ in $(seq 50); do menu_shows || return 0; sleep 0.1; done
    fail "Escape left the menu open"
}
# "Open log folder", the menu's sixth item: Explorer opens the data folder.
open_log_folder() {
    click 937 23
    for _ in $(seq 50); do menu_shows && break; sleep 0.1; done
    click 865 137
    for _ in $(seq 100); do
        if pgrep -f 'explorer.exe .*UE4TVL' >/dev/null; then
            pkill -f 'explorer.exe .*UE4TVL'
            return 0
        fi
        sleep 0.1
    done
    fail "\"Open log folder\" opened no Explorer on the data folder"
}
close_window() {
    click 1013 23
    for _ in $(seq 100); do alive || return 0; sleep 0.1; done
    fail "the window closed but the launcher did not end"
}

case "$mode" in
demo)
    await update-ready
    click 120 365
    await ready
    close_window
    ;;
story)
    read -r screen_w screen_h <<<"$(xdpyinfo | sed -nE 's/.*dimensions: +([0-9]+)x([0-9]+) pixels.*/\1 \2/p')"
    [ "$X" -eq $(( (screen_w - WIDTH) / 2 )) ] && [ "$Y" -eq $(( (screen_h - HEIGHT) / 2 )) ] ||
        fail "the window is not centred: $X,$Y ${WIDTH}x$HEIGHT on ${screen_w}x$screen_h"
    await update-ready
    xdotool windowfocus --sync "$window" key Return
    await ready
    open_menu
    open_log_folder
    click 120 365
    await busy  # RUNNING: the busy blue, without a progress track
    await ready
    close_window
    ;;
*) fail "unknown mode $mode" ;;
esac
