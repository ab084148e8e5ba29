#!/usr/bin/env bash
# A web page drops winhttp.dll (and bcrypt, dwmapi, oleacc) into the Downloads
# folder where a player keeps TVLLauncher.exe. Wine is told to prefer such
# native DLLs, as Windows does for every DLL that is not a KnownDLL. Both
# exes must install, play their window and be read by a screen reader with
# none of them loaded; and their import tables must name only KnownDLLs.
#   dll_planting_story.sh BUILD_DIR SERVER_STATE_DIR SERVER_ADDRESS
source "$(dirname "$0")/support/story_env.sh" "DLL planting story" display "$@"

# Windows' KnownDLLs (and the C runtime every mingw program imports).
known="ADVAPI32 GDI32 gdiplus KERNEL32 msvcrt ole32 OLEAUT32 SHELL32 SHLWAPI USER32"
for exe in TVLLauncher TVLHeadless; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$build/$exe.exe" | sed -n 's/^\tDLL Name: \(.*\)\.dll$/\1/ip'); do
        grep -qiw "$dll" <<<"$known" || fail "$exe.exe imports $dll.dll, which Windows looks for beside the exe first"
    done
done
echo "import tables: KnownDLLs only"

root="$state/root"
rm -rf "$root/files" "$root/rules.json"
mkdir -p "$root/files/Tervalon/Content"
head -c 300000 /dev/urandom > "$root/files/Tervalon/Content/data.pak"
python3 "$here/support/test_site.py" --root "$root" --version 2 >/dev/null

downloads="$state/Downloads"
rm -rf "$downloads"
mkdir -p "$downloads"
cp "$build/TVLLauncher.exe" "$build/TVLHeadless.exe" "$build"/planted/*.dll "$downloads/"
printf 'server=%s\r\n' "$address" > "$downloads/TVLLauncher.ini"
export WINEDLLOVERRIDES="winhttp,bcrypt,dwmapi,oleacc=n,b"
data="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
planted() { ls "$downloads" | grep '\.loaded$' || true; }

wine_run="$here/../scripts/wine-run.sh"
rm -rf "$data"
out=$("$wine_run" "$prefix" "$downloads/TVLHeadless.exe" --press-update --exit-on-ready --timeout 120 | tr -d '\r') ||
    fail "TVLHeadless did not install: $out"
[ -z "$(planted)" ] || fail "TVLHeadless loaded the planted $(planted)"
echo "TVLHeadless installed with the real winhttp and bcrypt"

# The window (dwmapi), a screen reader (oleacc), a download and its check
# (winhttp, bcrypt): every delay-loaded DLL is used.
rm -rf "$data"
launcher_pid=""
trap 'kill ${launcher_pid:-} 2>/dev/null || true' EXIT
"$wine_run" "$prefix" "$downloads/TVLLauncher.exe" >/dev/null 2>&1 &
launcher_pid=$!
probe() { "$wine_run" "$prefix" "$build/accessibility_probe.exe" "$@" | tr -d '\r'; }
probe wait-name 3 INSTALL 120 >/dev/null || fail "a screen reader never read INSTALL"
probe press 3 >/dev/null
probe wait-name 3 PLAY 120 >/dev/null || fail "the launcher never reached PLAY"
[ -z "$(planted)" ] || fail "TVLLauncher loaded the planted $(planted)"
kill "$launcher_pid" 2>/dev/null || true
echo "TVLLauncher installed, drew its window and answered a reader with System32's DLLs only"
