#!/usr/bin/env bash
# Throwaway Wine prefixes for the tests and the demo.
#   wine-prefix.sh start <prefix dir> <win64|win32> [<folder to map as T:>]
#       makes a fresh prefix, seals it off from the host, starts its server
#   wine-prefix.sh stop <prefix dir>
#       stops the prefix's server (a later start of any program is a "restart")
# A sealed prefix has no Z: drive and no links from the user's folders into the
# Linux home, so a recursive deletion under test cannot reach the host. T: maps
# only the build tree, where the test programs live.
set -euo pipefail

cmd=$1 prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

case "$cmd" in
start)
  arch=$3 tdrive=${4:-}
  [ -d "$prefix" ] && { WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; rm -rf "$prefix"; }
  mkdir -p "$(dirname "$prefix")"
  # No Mono or Gecko: the prefix must come up without downloads or dialogs.
  WINEARCH=$arch WINEDLLOVERRIDES="mscoree=;mshtml=" wineboot -i >/dev/null 2>&1
  wineserver -w
  for link in "$prefix"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
  done
  rm -f "$prefix/dosdevices/z:"
  if [ -n "$tdrive" ]; then ln -sfn "$tdrive" "$prefix/dosdevices/t:"; fi
  # One server for the whole run: a new server session would carry out the
  # pending file renames as a restart does.
  wineserver -p </dev/null >/dev/null 2>&1
  # The first program of a server session brings up the prefix's services,
  # which live as long as the server: start them now, detached from any pipe,
  # or they hold the output of the first test open until it times out.
  wine cmd /c exit </dev/null >/dev/null 2>&1
  touch "$prefix/.sealed"
  echo "prefix $prefix ($arch) ready"
  ;;
stop)
  wineserver -k 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start|stop <prefix dir> ..." >&2; exit 2 ;;
esac
