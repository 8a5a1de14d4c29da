#!/usr/bin/env bash
# Throwaway Wine prefixes for the tests and the demo.
#   wine-prefix.sh start <prefix dir> <win64|win32> [<folder to map as T:>] [gui]
#       makes a fresh prefix, seals it off from the host, starts its server;
#       with "gui" the server and its programs get a virtual display (Xvfb)
#   wine-prefix.sh stop <prefix dir>
#       stops the prefix's server (a later start of any program is a "restart")
# A sealed prefix has no Z: drive and no symlink under drive_c that leads out of
# the prefix (starting fails when one remains), so a recursive deletion under
# test cannot reach the host. T: maps
# only the build tree, where the test programs live.
set -euo pipefail

cmd=$1 prefix=$2
. "$(dirname "$0")/wine-env.sh"
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

# Symlinks under drive_c that lead outside the prefix (Wine links the user's
# shell folders, at any depth, into the Linux home), one per line.
links_out() {
  local root link target
  root=$(cd "$1" && pwd -P)
  find "$1/drive_c" -type l -print0 | while IFS= read -r -d '' link; do
    target=$(readlink -m "$link")
    case "$target" in "$root"/*) ;; *) printf '%s\n' "$link" ;; esac
  done
}

# Replaces each such link by an empty folder.
seal() {
  links_out "$1" | while IFS= read -r link; do
    rm -f "$link"
    mkdir -p "$link"
  done
}

# True when no link leads outside; names the ones that do.
sealed() {
  local left
  left=$(links_out "$1")
  [ -z "$left" ] || { printf 'links outside the prefix: %s\n' "$left" >&2; return 1; }
}

case "$cmd" in
start)
  arch=$3 tdrive=${4:-} gui=${5:-}
  zl_require_32bit
  [ -d "$prefix" ] && { "$0" stop "$prefix"; rm -rf "$prefix"; }
  mkdir -p "$(dirname "$prefix")"
  if [ "$gui" = gui ]; then
    # The server must start inside the display and end before it.
    for n in $(seq 90 140); do [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break; done
    mkdir -p "$prefix"
    setsid Xvfb ":$n" -nolisten tcp -screen 0 1024x768x24 </dev/null >/dev/null 2>&1 &
    echo $! >"$prefix/.xvfb.pid"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    echo ":$n" >"$prefix/.display"
    export DISPLAY=":$n"
  fi
  # No Mono or Gecko: the prefix must come up without downloads or dialogs.
  WINEARCH=$arch WINEDLLOVERRIDES="mscoree=;mshtml=" "$zl_wine" wineboot -i >/dev/null 2>&1
  wineserver -w
  # Saving a shell link starts winemenubuilder, which writes menu entries into
  # the host's home and was seen left waiting: no program of the prefix starts it.
  "$zl_wine" reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d '' /f >/dev/null 2>&1
  wineserver -w
  seal "$prefix"
  rm -f "$prefix/dosdevices/z:"
  if ! sealed "$prefix"; then
    echo "prefix $prefix still links outside itself" >&2
    exit 1
  fi
  if [ -n "$tdrive" ]; then ln -sfn "$tdrive" "$prefix/dosdevices/t:"; fi
  # One server for the whole run: a new server session would carry out the
  # pending file renames as a restart does.
  wineserver -p </dev/null >/dev/null 2>&1
  # The first program of a server session brings up the prefix's services,
  # which live as long as the server: start them now, detached from any pipe,
  # or they hold the output of the first test open until it times out.
  "$zl_wine" cmd /c exit </dev/null >/dev/null 2>&1
  touch "$prefix/.sealed"
  echo "prefix $prefix ($arch) ready"
  ;;
stop)
  wineserver -k 2>/dev/null || true
  if [ -f "$prefix/.xvfb.pid" ]; then
    kill "$(cat "$prefix/.xvfb.pid")" 2>/dev/null || true
    rm -f "$prefix/.xvfb.pid" "$prefix/.display"
  fi
  ;;
*)
  echo "usage: $0 start|stop <prefix dir> ..." >&2; exit 2 ;;
esac
