#!/usr/bin/env bash
# Lays out (or removes) what the deletion tests need from the Linux side: a
# tree holding a folder link (Windows code sees a Linux symlink to a folder as
# a reparse point, and Windows programs cannot make one under Wine), and drive
# R: mapped to a folder whose root holds a recycle folder.
#   deletion_links.sh create|remove <prefix dir>
set -euo pipefail
root="$2/drive_c/zltest-deletion"
case "$1" in
create)
  rm -rf "$root"
  mkdir -p "$root/target" "$root/tree/sub" "$root/drive/RECYCLED" "$root/drive/other"
  echo precious >"$root/target/precious.txt"
  echo suite >"$root/tree/inner.txt"
  echo suite >"$root/tree/sub/deeper.txt"
  ln -s ../../target "$root/tree/sub/linked"
  echo kept >"$root/drive/RECYCLED/kept.txt"
  echo kept >"$root/drive/other/kept.txt"
  ln -sfn ../drive_c/zltest-deletion/drive "$2/dosdevices/r:"
  ;;
remove)
  rm -f "$2/dosdevices/r:"
  rm -rf "$root"
  ;;
esac
