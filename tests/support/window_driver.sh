#!/usr/bin/env bash
# Drives the launcher's real window under X with real input, and reads its
# phase from the main button's colours (the only way from outside the
# process). Used by the demo and by the end-to-end window test.
#   window_driver.sh run SHOTS_DIR LAUNCHER_PID
# Finds the window, presses INSTALL when it shows, waits for PLAY, saves a
# screenshot of each phase it saw into SHOTS_DIR, closes the window with its
# close button and waits for the process to end. Exits 1 on a time-out.
set -euo pipefail
shots="$2"
launcher="$3"
deadline=$((SECONDS + ${TVL_DRIVER_TIMEOUT:-180}))

fail() { echo "window driver: $*" >&2; exit 1; }

window=""
while [ -z "$window" ]; do
    [ $SECONDS -lt $deadline ] || fail "no launcher window"
    kill -0 "$launcher" 2>/dev/null || fail "the launcher ended before its window showed"
    window=$(xdotool search --onlyvisible --name '^TVL UE4 Launcher$' 2>/dev/null | head -1 || true)
    [ -n "$window" ] || sleep 0.1
done
eval "$(xdotool getwindowgeometry --shell "$window")"
# Client coordinates at 96 DPI: the main button (34..230, 341..389) and the
# progress track's row, from the window's layout.
pixel() {  # pixel X Y -> "R G B" of the window's client point
    import -window root -crop "1x1+$((X + $1))+$((Y + $2))" -depth 8 txt:- 2>/dev/null |
        tail -1 | sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/'
}
phase() {
    read -r r g b <<<"$(pixel 40 383)"
    if [ $((r + g + b)) -lt 30 ]; then echo unpainted; return; fi  # mapped, not drawn yet
    if [ $((g - r)) -gt 40 ] && [ $((g - b)) -gt 40 ]; then echo ready; return; fi
    local spread=$(( (r > b ? r : b) - (r < g ? r : g) ))
    if [ $spread -lt 40 ]; then echo connecting; return; fi
    if [ "$b" -gt 200 ]; then echo update-ready; return; fi
    # Busy: the progress track (or its blue fill) says downloading.
    read -r r g b <<<"$(pixel 440 374)"
    if [ "$r" -ge 45 ] || [ "$b" -gt 150 ]; then echo downloading; else echo checking; fi
}
click() { xdotool mousemove "$((X + $1))" "$((Y + $2))" click 1 mousemove 0 0; }

seen=0
last=""
while :; do
    [ $SECONDS -lt $deadline ] || fail "no PLAY within the time allowed (last phase: ${last:-none})"
    kill -0 "$launcher" 2>/dev/null || fail "the launcher ended on its own"
    now=$(phase)
    if [ "$now" != unpainted ] && [ "$now" != "$last" ]; then
        seen=$((seen + 1))
        file="$shots/$(printf '%02d' $seen)-$now.png"
        import -window "$window" "$file"
        echo "$now: $file"
        last="$now"
        if [ "$now" = update-ready ]; then click 120 365; fi
        if [ "$now" = ready ]; then break; fi
    fi
    sleep 0.2
done
click 1013 23  # the close button
for _ in $(seq 100); do kill -0 "$launcher" 2>/dev/null || exit 0; sleep 0.1; done
fail "the window closed but the launcher did not end"
