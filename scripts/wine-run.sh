#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's own prefix:
#   wine-run.sh <prefix-dir> <program.exe> [args...]
# The prefix is made on first use; a lock keeps parallel tests from racing it.
set -euo pipefail
prefix="$1"
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko prompts: the launcher needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
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
exec wine "$@"
