#!/usr/bin/env bash
# Unpacks Debian's zstd source package (source package "libzstd") into
# build/third_party/libzstd, once: the launcher's decoder is compiled from
# it. apt fetches it through a list of its own, a deb-src line for the
# machine's configured Debian mirror, so the machine's sources stay as they
# are; apt checks the files against the mirror's signed index and
# dpkg-source against the .dsc.
set -euo pipefail
cd "$(dirname "$0")/.."
dest="$PWD/build/third_party/libzstd"
[ -f "$dest/lib/zstd.h" ] && exit 0

codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
# The first mirror apt uses for the release itself (not -updates, -security);
# apt knows it once its lists were fetched.
mirror_of_release() { apt-cache policy | awk -v s="$codename/main" '$3 == s && $2 ~ /^https?:/ { print $2; exit }'; }
mirror=$(mirror_of_release)
[ -n "$mirror" ] || { apt-get update -q >/dev/null; mirror=$(mirror_of_release); }
[ -n "$mirror" ] || { echo "zstd_source.sh: no Debian mirror for $codename/main in apt's sources" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/get"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $codename main" > "$work/sources.list"
apt_private=(-q -o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o APT::Sandbox::User=root)
apt-get "${apt_private[@]}" update >/dev/null
(cd "$work/get" && apt-get "${apt_private[@]}" source --download-only libzstd >/dev/null)
rm -rf "$dest" && mkdir -p "$(dirname "$dest")"
dpkg-source -x "$work"/get/libzstd_*.dsc "$dest" > "$work/unpack.log" 2>&1 || { cat "$work/unpack.log" >&2; exit 1; }
echo "zstd source: $(basename "$work"/get/libzstd_*.dsc .dsc) from $mirror"
