#!/usr/bin/env bash
# Runs one Windows program in a sealed prefix made by wine-prefix.sh.
#   wine-run.sh <prefix dir> <program> [arguments...]
# The program's exit code reaches Linux cut to 8 bits; tests that need the full
# code start their children on the Windows side.
set -euo pipefail
prefix=$1; shift
. "$(dirname "$0")/wine-env.sh"
if [ ! -f "$prefix/.sealed" ]; then
  echo "wine-run: no sealed prefix at $prefix (run the prefix start fixture first)" >&2
  exit 2
fi
export WINEPREFIX=$prefix WINEDEBUG=-all
# No display, so a message box fails at once, unless the prefix was made with
# its own virtual display for the tests that answer boxes.
unset DISPLAY WAYLAND_DISPLAY
if [ -f "$prefix/.display" ]; then export DISPLAY=$(cat "$prefix/.display"); fi
exec "$zl_wine" "$@"
