#!/usr/bin/env bash
# Runs a deletion test program in a prefix with what it needs from the Linux
# side, and removes that again:
# - a tree holding a folder link (Windows code sees a Linux symlink to a folder
#   as a reparse point, and Windows programs cannot make one under Wine), and
#   drive R: mapped to a folder whose root holds a recycle folder;
# - with "restart", a simulated restart between two phases: a new server
#   session carries out the pending renames and WinInit.Ini as a restart does.
#   It ends every program of the prefix, so that test runs alone.
#   deletion_run.sh plain|restart <prefix dir> <test program>
set -uo pipefail
mode=$1 prefix=$2 program=$3
run="$(cd "$(dirname "$0")/../../scripts" && pwd)/wine-run.sh"
root="$prefix/drive_c/zltest-deletion"

rm -rf "$root"
mkdir -p "$root/target" "$root/tree/sub" "$root/drive/RECYCLED" "$root/drive/other"
echo precious >"$root/target/precious.txt"
echo suite >"$root/tree/inner.txt"
echo suite >"$root/tree/sub/deeper.txt"
ln -s ../../target "$root/tree/sub/linked"
echo kept >"$root/drive/RECYCLED/kept.txt"
echo kept >"$root/drive/other/kept.txt"
ln -sfn ../drive_c/zltest-deletion/drive "$prefix/dosdevices/r:"

if [ "$mode" = restart ]; then
  "$run" "$prefix" "$program" --gtest_filter='BeforeRestart.*'
  rc=$?
  "$(dirname "$run")/wine-restart.sh" "$prefix"
  echo "restarted $prefix"
  "$run" "$prefix" "$program" --gtest_filter='AfterRestart.*' || rc=1
else
  "$run" "$prefix" "$program"
  rc=$?
fi

rm -f "$prefix/dosdevices/r:"
rm -rf "$root"
exit $rc
