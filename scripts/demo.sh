#!/usr/bin/env bash
# The main job: build, lay a Zelmar installation into a fresh sealed Wine
# prefix, run Uprooter.exe against it as a support engineer would, and show
# the outcome.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" >/dev/null

prefix=$root/build/wine/demo
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
"$root/scripts/wine-prefix.sh" start "$prefix" win64 >/dev/null
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT

reg64() { wine reg "$@" /reg:64 >/dev/null 2>&1; }
reg32() { wine reg "$@" /reg:32 >/dev/null 2>&1; }
section() { printf '\n== %s\n' "$*"; }

# --- Lay the suite into the prefix ------------------------------------------
drive_c=$prefix/drive_c
support='C:\Support\Uprooter'
mkdir -p "$drive_c/Support/Uprooter"
cp "$root"/dist/* "$drive_c/Support/Uprooter/"

agent_dir='C:\Program Files (x86)\Zelmar\ManagedServices'
mkdir -p "$drive_c/Program Files (x86)/Zelmar/ManagedServices/Agent"
cp "$root/build/x86/testbed/agent/tvAgtSvc_newer.exe" \
   "$drive_c/Program Files (x86)/Zelmar/ManagedServices/Agent/tvAgtSvc.exe"
reg32 add 'HKLM\SOFTWARE\Zelmar\ManagedServices' /v szInstallDir /d "$agent_dir" /f

section "Staged"
echo "Uprooter and its companions in $support:"
ls "$drive_c/Support/Uprooter" | sed 's/^/  /'
echo "Agent service program (FileVersion 10.2.0.15) in $agent_dir\\Agent"

# --- Run it --------------------------------------------------------------------
section "Running: cd /d $support && Uprooter.exe /suppressprompt"
# Uprooter writes its run log beside the program that started it; a 32-bit
# program cannot list the modules of its 64-bit parent, so started from the
# 64-bit command shell the run log goes to the root of the current drive.
# The 64-bit command shell, as on 64-bit Windows.
code=$(cd "$drive_c" && /usr/lib/wine/wine64 'C:\windows\system32\cmd.exe' /v:on /c \
  "cd /d $support && Uprooter.exe /suppressprompt & echo !ERRORLEVEL!" 2>/dev/null </dev/null | tr -d '\r' | tail -n1)
echo "Uprooter exit code: $code"

section "Run log (C:\\Uprooter.log)"
sed 's/\r$//; s/^/  /' "$drive_c/Uprooter.log" 2>/dev/null || echo "  (none)"
section "Opening banner beside the program ($support\\Uprooter.log)"
sed 's/\r$//; s/^/  /' "$drive_c/Support/Uprooter/Uprooter.log" 2>/dev/null || echo "  (none)"

section "Left for the next restart"
if pending=$(wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' \
               /v PendingFileRenameOperations 2>/dev/null); then
  printf '%s\n' "$pending" | tr -d '\r' | grep -v '^$' | sed 's/^/  /'
else
  echo "  nothing"
fi
