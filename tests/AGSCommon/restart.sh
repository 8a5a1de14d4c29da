#!/usr/bin/env bash
# Runs the deferred-deletion test across a simulated restart: the first phase,
# then a new server session for the prefix (which carries out the pending
# renames and WinInit.Ini as a restart does), then the second phase. Runs
# alone, since the restart ends every program of the prefix.
#   restart.sh <prefix dir> <test program>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1 program=$2
run="$here/../../scripts/wine-run.sh"
"$run" "$prefix" "$program" --gtest_filter='BeforeRestart.*'
before=$?
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
wineserver -k 2>/dev/null
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
echo "restarted $prefix"
"$run" "$prefix" "$program" --gtest_filter='AfterRestart.*'
after=$?
[ "$before" -eq 0 ] && [ "$after" -eq 0 ]
