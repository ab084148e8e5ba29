# The start every story against stock nginx shares. Sourced as
#   source "$(dirname "$0")/support/nginx_story_env.sh" NAME "$@"
# with the story's own arguments BUILD_DIR STATE_DIR ADDRESS. Sets
# build_dir, state, address, repo, prefix and WINEPREFIX, data (the
# launcher's data folder under the prefix) and game; a fresh site folder
# that Debian's nginx workers (www-data) can read, wherever the build tree
# is (site, inside site_root, which the story removes at its exit); and
# tool (tvl_publish.py), nginx_ctl and fail MESSAGE.
set -euo pipefail
story_name="$1"
build_dir="$2"
state="$(mkdir -p "$3" && cd "$3" && pwd)"
address="$4"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
prefix="$build_dir/wineprefix"
export WINEPREFIX="$prefix"
data="$prefix/drive_c/users/$(whoami)/AppData/Local/UE4TVL"
game="$data/Game"
tool() { python3 "$repo/tools/tvl_publish.py" "$@"; }
nginx_ctl() { bash "$repo/tests/support/nginx_ctl.sh" "$@"; }
fail() { echo "$story_name: $*" >&2; exit 1; }
site_root=$(mktemp -d /tmp/tvl-site.XXXXXX)
chmod 755 "$site_root"
site="$site_root/site"
