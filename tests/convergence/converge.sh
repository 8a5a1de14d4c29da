#!/usr/bin/env bash
# For each seed: stages the suite, runs Uprooter ended at the seed's point,
# then runs it again to its end, with a simulated restart where a run asked
# for one, until the machine is clean (at most three runs); then the audit.
# Prints one line per point: "point <suite> <seed>: <runs> run(s), clean|NOT clean".
#   converge.sh <prefix dir> <test program> <older|newer> <seed>...
set -uo pipefail
prefix=$1 program=$2 suite=$3
shift 3
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
area="$prefix/drive_c/zltest-converge"
export ZL_CONVERGE_SUITE=$suite
phase() { "$scripts/wine-run.sh" "$prefix" "$program" --gtest_filter="Converge.$1"; }
rc=0 first=1
check=$(mktemp)
trap 'rm -f "$check"' EXIT
for seed in $*; do
  echo "=== $suite, seed $seed"
  if ! phase Stage; then
    echo "point $suite $seed: staging failed"
    rc=1
    phase Audit >/dev/null 2>&1
    continue
  fi
  runs=0 clean=0
  for run in 1 2 3; do
    runs=$run
    ZL_CONVERGE_SEED=$seed ZL_CONVERGE_RUN=$run phase Run || rc=1
    if [ -e "$area/restart" ]; then
      rm -f "$area/restart"
      "$scripts/wine-restart.sh" "$prefix"
      echo "restarted $prefix"
    fi
    if phase Check >"$check" 2>&1; then clean=1; break; fi
  done
  [ $clean = 1 ] || { cat "$check"; rc=1; }
  # The first point also runs Uprooter once more on the clean machine.
  if [ $first = 1 ]; then export ZL_CONVERGE_RERUN=1; else unset ZL_CONVERGE_RERUN; fi
  first=0
  phase Audit || { rc=1; clean=0; }
  echo "point $suite $seed: $runs run(s), $([ $clean = 1 ] && echo clean || echo NOT clean)"
done
exit $rc
