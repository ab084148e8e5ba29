#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, and only what is missing.
set -euo pipefail
packages=(cmake ninja-build g++ g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64
          doctest-dev clang libclang-rt-14-dev xvfb x11-utils xdotool imagemagick openssl python3 curl bc nginx-light varnish util-linux libgnutls30
          dpkg-dev zstd squid)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q "${missing[@]}"
fi

# The launcher's zstd decoder is built from Debian's source package.
bash "$(dirname "$0")/zstd_source.sh"
