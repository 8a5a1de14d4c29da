#!/usr/bin/env bash
# Runs the older suite's restart test in two phases with a simulated restart
# between them (scripts/wine-restart.sh), which ends every program of the
# prefix: the test runs alone.
#   restart_run.sh <prefix dir> <test program>
set -uo pipefail
prefix=$1 program=$2
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
"$scripts/wine-run.sh" "$prefix" "$program" --gtest_filter='BeforeRestart.*'
rc=$?
"$scripts/wine-restart.sh" "$prefix"
echo "restarted $prefix"
"$scripts/wine-run.sh" "$prefix" "$program" --gtest_filter='AfterRestart.*' || rc=1
exit $rc
