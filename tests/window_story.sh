#!/usr/bin/env bash
# One player's story with the real launcher, real input and real processes:
# the window opens centred, Enter installs the game from the test server,
# the button turns PLAY, a click on the menu button opens the menu (a
# #32768 popup) and Escape closes it, "Open log folder" opens Explorer on
# the data folder, a click starts the (stand-in) game and shows
# RUNNING, the button returns to PLAY when the game ends, and the close
# button ends the process.
#   window_story.sh BUILD_DIR SERVER_STATE_DIR SERVER_ADDRESS
source "$(dirname "$0")/support/story_env.sh" "window story" display "$@"

# The game the server hands out: the stand-in game under its real name.
root="$state/root"
rm -rf "$root/files"
mkdir -p "$root/files/Tervalon/Content"
cp "$build/fakes/Tervalon.exe" "$root/files/Tervalon.exe"
head -c 300000 /dev/urandom > "$root/files/Tervalon/Content/data.pak"
python3 "$here/support/test_site.py" --root "$root" --version 5 >/dev/null

# The launcher as a player has it: the exe and its ini in a folder of their own.
app="$state/app"
rm -rf "$app" "$state/shots"
mkdir -p "$app" "$state/shots"
cp "$build/TVLLauncher.exe" "$app/"
printf 'server=%s\r\n' "$address" > "$app/TVLLauncher.ini"
rm -rf "$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"

# The stand-in Steam must run for PLAY to start the game.
steam="$state/steam"
mkdir -p "$steam"
cp "$build/fakes/steam.exe" "$steam/"
TVL_FAKE_STAY_MS=600000 "$here/../scripts/wine-run.sh" "$prefix" "$steam/steam.exe" >/dev/null 2>&1 &
steam_pid=$!
launcher_pid=""
trap 'kill $steam_pid ${launcher_pid:-} 2>/dev/null || true; wine taskkill /f /im steam.exe >/dev/null 2>&1 || true' EXIT

# The game stays 3 s once started, long enough for the monitor's 1.5 s polls.
TVL_FAKE_STAY_MS=3000 "$here/../scripts/wine-run.sh" "$prefix" "$app/TVLLauncher.exe" >/dev/null 2>&1 &
launcher_pid=$!
TVL_MENU_PROBE="$here/../scripts/wine-run.sh $prefix $build/accessibility_probe.exe" TVL_DRIVER_TIMEOUT=240 bash "$here/support/window_driver.sh" story "$state/shots" "$launcher_pid"
wait "$launcher_pid"
echo "the launcher ended with exit code $?"
