# The start every story against a test server shares. Sourced as
#   source "$(dirname "$0")/support/story_env.sh" NAME display|no-display "$@"
# with the story's own arguments BUILD_DIR SERVER_STATE_DIR SERVER_ADDRESS.
# Sets build, state, address, here (tests/), repo, prefix and WINEPREFIX,
# and fail MESSAGE, which ends the story naming it.
set -euo pipefail
story_name="$1"
build="$3"
state="$4"
address="$5"
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/.." && pwd)"
prefix="$build/wineprefix"
export WINEPREFIX="$prefix"
fail() { echo "$story_name: $*" >&2; exit 1; }
if [ "$2" = display ] && [ -z "${DISPLAY:-}" ]; then
    fail "needs a display (scripts/test.sh starts Xvfb)"
fi
