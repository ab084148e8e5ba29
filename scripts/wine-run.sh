#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix:
#   wine-run.sh <prefix-dir> <program.exe> [args...]
# The prefix is made on first use; a lock keeps parallel tests from racing it.
set -euo pipefail
prefix="$1"
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko prompts: the launcher needs neither. A caller's overrides
# come after (the DLL planting story prefers native DLLs, as Windows does).
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
# The launcher talks to loopback test servers; a proxy from the host must not interfere.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

if [ ! -f "$prefix/.tvl-ready" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/.tvl-ready" ]; then
            wineboot -i >/dev/null 2>&1 || true
            wineserver -w
            touch "$prefix/.tvl-ready"
        fi
    ) 9>"$prefix.lock"
fi
# The first Wine process of a session starts wineserver and Wine's services,
# and they inherit its stderr. CTest waits for every holder of a test's pipe
# to close it, so a test that happened to start them was charged for every
# later test that kept Wine alive (update_tests once showed 127 s for 16 s of
# work). They are started here with nothing of ours, and kept until
# `wineserver -k` (scripts/test.sh ends with it): a server that ended 5 s
# after the last process could be on its way out just as the next one
# started, and a Wine process that loses its server while starting can die
# of SIGSEGV (seen once in a CI try, on the first start of a story).
server_running() {
    local pid
    for pid in $(pgrep wineserver); do
        tr '\0' '\n' 2>/dev/null < "/proc/$pid/environ" | grep -qxF "WINEPREFIX=$prefix" && return 0
    done
    return 1
}
if ! server_running; then
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
exec wine "$@"
