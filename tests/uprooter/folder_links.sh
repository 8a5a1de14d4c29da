#!/usr/bin/env bash
# Lays out (or removes) the folder links of the folder clean-up tests. Windows
# programs cannot make a link under Wine; a Linux symlink to a folder reads as
# a reparse point, and the tests mark it hidden and system, which makes it
# junction-like. Every link leads to a non-empty folder inside
# C:\zltest-folderlinks, never outside it.
#   folder_links.sh create|remove <prefix dir>
set -euo pipefail
root="$2/drive_c/zltest-folderlinks"
case "$1" in
create)
  rm -rf "$root"
  mkdir -p "$root/parent" "$root/target" "$root/target2/ZPF"
  echo precious >"$root/target/precious.txt"
  echo precious >"$root/target2/ZPF/precious.txt"
  ln -s ../target "$root/parent/Linked"  # a junction-like folder inside a parent
  ln -s target2 "$root/linkedparent"     # a parent that is junction-like
  ;;
remove)
  rm -rf "$root"
  ;;
esac
