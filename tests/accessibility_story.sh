#!/usr/bin/env bash
# A player with a screen reader, with the real launcher under X: a probe in
# another process reads the window as a reader does, installs the game by
# the main button's default action, follows the progress and hears the
# button turn PLAY; opens the menu by the menu button's default action
# and closes it with Escape; then the keyboard: Alt+Space opens the system menu,
# Escape does nothing, Alt+F4 closes, and a reader that still holds the
# object gets an error, not a crash.
#   accessibility_story.sh BUILD_DIR SERVER_STATE_DIR SERVER_ADDRESS
source "$(dirname "$0")/support/story_env.sh" "accessibility story" display "$@"

root="$state/root"
rm -rf "$root/files"
mkdir -p "$root/files/Tervalon/Content"
head -c 3000000 /dev/urandom > "$root/files/Tervalon/Content/data.pak"
python3 "$here/support/test_site.py" --root "$root" --version 5 --notes $'Patch 5\n* Faster loading' >/dev/null
# Slow enough that the percentage changes while a reader listens.
echo '[{"path": "/launcher/file", "prefix": true, "chunk": 65536, "delay_ms": 60}]' > "$root/rules.json"

app="$state/app"
rm -rf "$app"
mkdir -p "$app"
cp "$build/TVLLauncher.exe" "$app/"
printf 'server=%s\r\n' "$address" > "$app/TVLLauncher.ini"
rm -rf "$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"

wine_run="$here/../scripts/wine-run.sh"
run() { "$wine_run" "$prefix" "$@"; }
probe() { run "$build/accessibility_probe.exe" "$@" | tr -d '\r'; }
launcher_pid="" events_pid="" hold_pid=""
trap 'kill ${launcher_pid:-} ${events_pid:-} ${hold_pid:-} 2>/dev/null || true' EXIT

"$wine_run" "$prefix" "$app/TVLLauncher.exe" >/dev/null 2>&1 &  # $! is then the launcher itself
launcher_pid=$!

probe wait-name 3 INSTALL 120 || fail "the main button never read INSTALL"
probe check INSTALL "Patch 5"

events="$state/events.log"
# Straight to the file: a pipe would hold lines back, and $! must be the probe.
"$wine_run" "$prefix" "$build/accessibility_probe.exe" events 300 > "$events" &
events_pid=$!
heard() { tr -d '\r' < "$events" | grep -qE "$1"; }
for _ in $(seq 100); do heard listening && break; sleep 0.1; done

probe press 3
probe wait-progress 60 || fail "no progress value while downloading"
window=$(xdotool search --onlyvisible --name '^TVL UE4 Launcher$' | head -1)
[ -n "$window" ] || fail "no window on X"
xdotool windowfocus --sync "$window"  # keys reach the menu only through the focused window
probe press 7 >/dev/null || fail "the menu button's default action was refused"
probe menu open 10 || fail "the menu button's default action opened no menu"
xdotool key Escape
probe menu closed 10 || fail "Escape left the menu open"
probe wait-name 3 PLAY 120 || fail "the main button never read PLAY"
for _ in $(seq 100); do heard '^name 3 PLAY$' && break; sleep 0.1; done
tr -d '\r' < "$events"
heard '^name 3 PLAY$' || fail "no name-change event for PLAY"
heard '^value 4 [0-9]{1,3} %$' || fail "no value-change event with a percentage"
heard '^state 3 unavailable' || fail "no state-change event when the button became unavailable"
heard '^state 3 available' || fail "no state-change event when the button became available"

# The keyboard, as a player without a mouse uses it.
xdotool windowfocus --sync "$window" key alt+space
probe menu open 10 || fail "Alt+Space opened no system menu"
xdotool key Escape
probe menu closed 10 || fail "Escape left the system menu open"
xdotool key Escape
probe wait-name 3 PLAY 1 >/dev/null || fail "Escape changed the window"
kill -0 "$launcher_pid" || fail "Escape ended the launcher"

"$wine_run" "$prefix" "$build/accessibility_probe.exe" hold 60 &
hold_pid=$!
sleep 0.5
xdotool windowfocus --sync "$window" key alt+F4
for _ in $(seq 200); do kill -0 "$launcher_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$launcher_pid" 2>/dev/null && fail "Alt+F4 did not close the launcher"
wait "$hold_pid" || fail "a reader holding the object after the window failed"
hold_pid=""

# At 144 DPI the parts are where they are painted too (the prefix's DPI, put back after).
desktop='HKCU\Control Panel\Desktop'
before=$(run reg query "$desktop" /v LogPixels 2>/dev/null | tr -d '\r' | sed -nE 's/.*REG_DWORD[[:space:]]+0x([0-9a-fA-F]+).*/\1/p' || true)
restore_dpi() {
    if [ -n "$before" ]; then run reg add "$desktop" /v LogPixels /t REG_DWORD /d "$((16#$before))" /f >/dev/null 2>&1 || true
    else run reg delete "$desktop" /v LogPixels /f >/dev/null 2>&1 || true; fi
}
trap 'kill ${launcher_pid:-} ${events_pid:-} ${hold_pid:-} 2>/dev/null || true; restore_dpi' EXIT
run reg add "$desktop" /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
"$wine_run" "$prefix" "$app/TVLLauncher.exe" >/dev/null 2>&1 &  # $! is then the launcher itself
launcher_pid=$!
probe wait-name 3 PLAY 60 >/dev/null || fail "no PLAY at 144 DPI"
checked=$(probe check PLAY "Patch 5") || fail "at 144 DPI: $checked"
echo "$checked"
[[ "$checked" == "checked at 144 DPI"* ]] || fail "the window did not open at 144 DPI: $checked"
kill "$launcher_pid" 2>/dev/null || true
wait "$launcher_pid" 2>/dev/null || true
launcher_pid=""
restore_dpi
echo "a reader can install and play"
