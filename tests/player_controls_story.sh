#!/usr/bin/env bash
# The player's controls through TVLHeadless against the test server:
# --verify repairs a file damaged with its size and time kept, which a
# normal start trusts; --game-folder moves the game by a rename on one
# volume and by a checked copy to another filesystem (a drive on a tmpfs),
# survives a kill -9 in the middle of that copy, and refuses folders it
# must not use.
#   player_controls_story.sh BUILD_DIR SERVER_STATE_DIR SERVER_ADDRESS
source "$(dirname "$0")/support/story_env.sh" "player controls story" no-display "$@"

root="$state/root"
rm -rf "$root/files" "$root/rules.json" "$root/requests.log"
mkdir -p "$root/files/Tervalon/Content/Paks" "$root/files/Engine"
head -c 72000000 /dev/urandom > "$root/files/Tervalon/Content/Paks/TervalonGame-WindowsNoEditor.pak"
head -c 300000 /dev/urandom > "$root/files/Engine/core.bin"
echo "[Game]" > "$root/files/Tervalon/Game.ini"
python3 "$here/support/test_site.py" --root "$root" --version 4 >/dev/null

app="$state/app"
rm -rf "$app"
mkdir -p "$app"
cp "$build/TVLHeadless.exe" "$app/"
printf 'server=%s\r\n' "$address" > "$app/TVLLauncher.ini"
c="$prefix/drive_c"
data="$c/users/$(whoami)/AppData/Local/UE4TVL"
other_fs="$state/t-drive"  # a tmpfs of its own, else one under /dev/shm
wine_run="$here/../scripts/wine-run.sh"
small="$state/small-drive"
cleanup() {
    for mounted in "$small" "$state/t-drive"; do mountpoint -q "$mounted" 2>/dev/null && umount "$mounted"; done
    rm -rf "$data" "$c/Games" "$c/Other" /dev/shm/tvl-player-controls-t "$state/outside"
    rm -f "$prefix/dosdevices/t:" "$prefix/dosdevices/q:" "$prefix/dosdevices/s:"
}
trap cleanup EXIT
cleanup

headless() { "$wine_run" "$prefix" "$app/TVLHeadless.exe" --press-update --exit-on-ready --timeout 120 "$@" | tr -d '\r'; }
file_requests() { grep -c '"target": "/launcher/file' "$root/requests.log" 2>/dev/null || true; }
same_game() {  # same_game FOLDER: every file of the site, byte for byte
    (cd "$root/files" && find . -type f | while read -r f; do cmp -s "$f" "$1/$f" || echo "$f"; done) | grep -q . &&
        return 1
    return 0
}

headless >/dev/null || fail "no first install (exit $?)"
same_game "$data/Game" || fail "the first install differs"
echo "installed"

# ---- verify ------------------------------------------------------------------
pak="$data/Game/Tervalon/Content/Paks/TervalonGame-WindowsNoEditor.pak"
touch -r "$pak" "$state/pak.time"
printf '\x5a' | dd of="$pak" bs=1 seek=1000000 conv=notrunc status=none
touch -r "$state/pak.time" "$pak"
before=$(file_requests)
headless >/dev/null || fail "a start after the damage (exit $?)"
[ "$(file_requests)" = "$before" ] || fail "a normal start downloaded: the cache should vouch for the damaged file"
same_game "$data/Game" && fail "the damage did not stick"
out=$(headless --verify) || fail "--verify: $out (exit $?)"
grep -q '^Checking: Verifying game files • 3 of 3$' <<<"$out" || fail "no verifying progress: $out"
grep -q '^Downloading: Repairing 1 file(s)$' <<<"$out" || fail "no repair of one file: $out"
[ "$(file_requests)" = $((before + 1)) ] || fail "--verify downloaded $(($(file_requests) - before)) files, not 1"
same_game "$data/Game" || fail "--verify left the game damaged"
echo "verify: a start trusted the damaged pak, --verify repaired it alone"

# ---- move on one volume --------------------------------------------------------
before=$(file_requests)
out=$(headless --game-folder 'C:\Games\Tervalon') || fail "the move: $out (exit $?)"
grep -q '^Ready: The game is now in C:\\Games\\Tervalon • up to date$' <<<"$out" || fail "no move said: $out"
same_game "$c/Games/Tervalon" || fail "the moved game differs"
[ ! -e "$data/Game" ] || fail "the old folder is still there after a rename"
grep -qx 'game_folder=C:\\Games\\Tervalon' "$data/settings.txt" || fail "the folder is not remembered"
headless >/dev/null || fail "a start after the move (exit $?)"
[ "$(file_requests)" = "$before" ] || fail "the move or the next start downloaded"
echo "move on one volume: renamed, remembered, nothing downloaded"

# ---- refusals --------------------------------------------------------------------
mkdir -p "$c/Other" && echo "my notes" > "$c/Other/notes.txt"
ln -sfn /proc "$prefix/dosdevices/q:"
refused() {  # refused FOLDER TEXT
    local out
    out=$(headless --press-retry --game-folder "$1") || fail "$1: $out (exit $?)"
    grep -qF "LocalError: Can't move the game to $2" <<<"$out" || fail "$1: no refusal '$2' in: $out"
    same_game "$c/Games/Tervalon" || fail "$1: the game changed"
    grep -qx 'game_folder=C:\\Games\\Tervalon' "$data/settings.txt" || fail "$1: the remembered folder changed"
}
refused 'C:\Games\Tervalon\Mods' 'C:\Games\Tervalon\Mods: that folder is inside the game folder.'
refused 'C:\Other' 'C:\Other: that folder holds other files. Choose an empty folder.'
refused 'Q:\Tervalon' 'Q:\Tervalon: that folder cannot be written.'
[ -f "$c/Other/notes.txt" ] || fail "a refusal touched the player's file"
echo "refused: inside the game, other files, not writable"

# A drive of 8 MB: the copy is refused before it starts (it needs the game and the margin).
mkdir -p "$small"
if mount -t tmpfs -o size=8m tmpfs "$small" 2>/dev/null; then
    ln -sfn "$small" "$prefix/dosdevices/s:"
    refused 'S:\Tervalon' 'S:\Tervalon: not enough free space there; the game needs 0.3 GB.'
    [ -z "$(find "$small" -type f)" ] || fail "the refused copy wrote to the small drive"
    echo "refused: a drive without the space"
else
    echo "free space: not tried (this machine does not allow mounting a small tmpfs)"
fi

# ---- a copy to another filesystem, killed, then whole ---------------------------
mkdir -p "$other_fs"
if ! mount -t tmpfs -o size=512m tmpfs "$other_fs" 2>/dev/null; then
    other_fs=/dev/shm/tvl-player-controls-t
    mkdir -p "$other_fs"
    [ "$(df --output=avail -k "$other_fs" | tail -1)" -gt 400000 ] || fail "no tmpfs to mount, and /dev/shm has under 400 MB free (the game and the margin a copy keeps)"
fi
ln -sfn "$other_fs" "$prefix/dosdevices/t:"
# In a subshell that outlives the kill and keeps its report to itself.
("$wine_run" "$prefix" "$app/TVLHeadless.exe" --exit-on-ready --timeout 120 --game-folder 'T:\Tervalon' \
    > "$state/copy.out" 2>&1 || true) 2>/dev/null &
copier=$!
for _ in $(seq 600); do grep -q 'Moving the game to T:\\Tervalon • [1-9]' "$state/copy.out" && break; sleep 0.01; done
pkill -STOP -f "$app/TVLHeadless.exe" || true
grep -q 'Moving the game' "$state/copy.out" || fail "the copy never started: $(cat "$state/copy.out")"
ls "$other_fs"/Tervalon/Tervalon/Content/Paks/*.part >/dev/null 2>&1 || fail "stopped after the pak was copied; no kill in the middle"
pkill -KILL -f "$app/TVLHeadless.exe" || true
wait "$copier" 2>/dev/null || true
before=$(file_requests)
out=$(headless) || fail "a start after the kill: $out (exit $?)"
same_game "$c/Games/Tervalon" || fail "the kill spoiled the old copy"
grep -qx 'game_folder=C:\\Games\\Tervalon' "$data/settings.txt" || fail "the kill left another folder remembered"
[ "$(file_requests)" = "$before" ] || fail "the start after the kill downloaded"
echo "kill -9 in the copy: the old folder whole and in use"

# A file damaged with its size and time kept: the cache vouches for it, the copy's own hash does not.
core="$c/Games/Tervalon/Engine/core.bin"
touch -r "$core" "$state/core.time"
printf '\x00' | dd of="$core" bs=1 seek=5000 conv=notrunc status=none
touch -r "$state/core.time" "$core"
left=$(cd "$other_fs" && find . -type f -printf '%p %s\n' | sort)  # what the killed copy left
out=$(headless --press-retry --game-folder 'T:\Tervalon') || fail "the damaged copy: $out (exit $?)"
grep -qF "LocalError: Could not move the game: core.bin does not match the game's files." <<<"$out" ||
    fail "a damaged file was copied without a word: $out"
[ "$(cd "$other_fs" && find . -type f -printf '%p %s\n' | sort)" = "$left" ] ||
    fail "the failed copy left files behind: $(find "$other_fs" -type f)"
grep -qx 'game_folder=C:\\Games\\Tervalon' "$data/settings.txt" || fail "the failed copy changed the remembered folder"
headless --verify >/dev/null || fail "--verify before the copy (exit $?)"
before=$(file_requests)
echo "a damaged file stops the copy; it leaves nothing of its own in the new folder"

# Version 5 changes Game.ini: the copy carries the old one as it is (an
# update's base) and leaves no game file behind; the update then replaces it.
echo "[Game] version 5" > "$root/files/Tervalon/Game.ini"
python3 "$here/support/test_site.py" --root "$root" --version 5 >/dev/null
out=$(headless --game-folder 'T:\Tervalon') || fail "the copy: $out (exit $?)"
grep -q '^UpdateReady: The game is now in T:\\Tervalon • 1 file(s), 0.00 GB to download$' <<<"$out" ||
    fail "no copy said: $out"
grep -q '^Ready: Up to date • version 5$' <<<"$out" || fail "no update after the copy: $out"
same_game "$other_fs/Tervalon" || fail "the copied game differs"
[ -z "$(find "$c/Games" -type f 2>/dev/null)" ] || fail "files left in the old folder: $(find "$c/Games" -type f)"
[ -z "$(find "$other_fs/Tervalon" -name '*.part')" ] || fail "part files left in the new folder"
[ "$(file_requests)" = $((before + 1)) ] || fail "the copy downloaded more than the changed file"
echo "copy to a tmpfs drive: checked, moved with the file waiting for its update, the old copy gone"

# ---- the drive that holds the game fills ------------------------------------------
# The data folder stays on C:; an update of 600 MiB cannot fit on the game's drive.
if mountpoint -q "$other_fs"; then
    truncate -s 600M "$root/files/Tervalon/Content/Paks/Extra.pak"
    python3 "$here/support/test_site.py" --root "$root" --version 6 >/dev/null
    ("$wine_run" "$prefix" "$app/TVLHeadless.exe" --press-update --timeout 60 > "$state/full.out" 2>&1 || true) 2>/dev/null &
    runner=$!
    for _ in $(seq 300); do grep -q '^LocalError\|^Ready' "$state/full.out" && break; sleep 0.1; done
    pkill -KILL -f "$app/TVLHeadless.exe" || true
    wait "$runner" 2>/dev/null || true
    grep -q '^LocalError: Not enough disk space: 0.6 GB free space needed.' "$state/full.out" ||
        fail "an update larger than the game's drive was not refused: $(tr -d '\r' < "$state/full.out")"
    [ -z "$(find "$other_fs" -name 'Extra.pak*')" ] || fail "the refused update wrote to the game's drive"
    rm "$root/files/Tervalon/Content/Paks/Extra.pak"
    python3 "$here/support/test_site.py" --root "$root" --version 7 >/dev/null
    echo "the game's drive without the space: refused before any download"
else
    echo "the game's drive filling: not tried (this machine does not allow mounting a small tmpfs)"
fi

# ---- a link inside the game folder is the player's ---------------------------------
# The player moved Engine elsewhere and linked it back (Wine shows a folder
# symlink as a reparse point). A move copies nothing through it and removes
# nothing through it: the file outside stays, and the new folder gets its own.
outside="$state/outside"
rm -rf "$outside" && mkdir -p "$outside"
mv "$other_fs/Tervalon/Engine" "$outside/Engine"
ln -s "$outside/Engine" "$other_fs/Tervalon/Engine"
cp "$outside/Engine/core.bin" "$state/core.kept"
out=$(headless --game-folder 'C:\Games\Linked') || fail "the move with a link: $out (exit $?)"
same_game "$c/Games/Linked" || fail "the game moved past a link differs"
cmp -s "$outside/Engine/core.bin" "$state/core.kept" || fail "the move removed a file through the player's link"
[ -L "$other_fs/Tervalon/Engine" ] || fail "the move removed the player's link"
echo "a folder link in the game folder: nothing copied or removed through it"
