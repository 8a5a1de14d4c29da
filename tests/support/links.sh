#!/usr/bin/env bash
# Lays out (or removes) folder links in a test prefix for the link guards:
# Windows code sees a Linux symlink to a folder as a reparse point, and Windows
# programs cannot make one under Wine. Every link leads to a non-empty folder
# inside C:\zltest-links, never outside it, and never to a file.
#   links.sh create|remove <prefix dir>
set -euo pipefail
root="$2/drive_c/zltest-links"
case "$1" in
create)
  rm -rf "$root"
  mkdir -p "$root/target/Endpoint"
  echo precious >"$root/target/precious.txt"
  echo precious >"$root/target/Endpoint/victim.txt"
  # Two alike install trees: Sweeper's test empties "sweep", the removal
  # layer's test needs "install" whole, and the two may run in either order.
  for install in install sweep; do
    mkdir -p "$root/$install/Endpoint/sub"
    echo suite >"$root/$install/Endpoint/inner.txt"
    echo suite >"$root/$install/Endpoint/sub/deeper.txt"
    ln -s ../../../target "$root/$install/Endpoint/sub/linked"  # a link inside a tree
    ln -s ../target "$root/$install/EndpointLink"               # a tree that is a link
  done
  ln -s target "$root/via"                                   # a link in the middle of a path
  mkdir -p "$root/swap/tree/sub" "$root/swap/victim/inner"   # a tree whose folder a test swaps for
  echo suite >"$root/swap/tree/sub/own.txt"                  # the spare link during the walk
  echo precious >"$root/swap/victim/precious.txt"
  echo precious >"$root/swap/victim/inner/victim.txt"
  ln -s "$root/swap/victim" "$root/swap/spare"                # absolute: it is moved into the tree
  ;;
remove)
  rm -rf "$root"
  ;;
esac
