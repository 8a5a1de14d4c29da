#!/usr/bin/env bash
# Lays out (or removes) folder links in a test prefix for the link guard tests:
# Windows code sees a Linux symlink to a folder as a reparse point, and Windows
# programs cannot make one under Wine.
#   links.sh create|remove <prefix dir>
set -euo pipefail
root="$2/drive_c/zltest-links"
case "$1" in
create)
  rm -rf "$root"
  mkdir -p "$root/target" "$root/install/Endpoint/sub"
  echo precious >"$root/target/precious.txt"
  echo suite >"$root/install/Endpoint/inner.txt"
  echo suite >"$root/install/Endpoint/sub/deeper.txt"
  ln -s ../../../target "$root/install/Endpoint/sub/linked"
  ln -s ../target "$root/install/EndpointLink"
  ;;
remove)
  rm -rf "$root"
  ;;
esac
