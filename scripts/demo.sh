#!/usr/bin/env bash
# The main job: build, lay the newer Zelmar suite into a fresh sealed Wine
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

win() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
section() { printf '\n== %s\n' "$*"; }
drive_c=$prefix/drive_c
x86=$root/build/x86/testbed

# Products of the suite as Windows Installer lists them, in both registry views.
registered() {
  for view in 64 32; do
    win reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' "/reg:$view" |
      grep -o -e '{5A1E0C11[^}]*}' -e '{0C7E5F2A[^}]*}' | sed "s/^/  $view-bit view: /" || true
  done
}

# --- Lay the suite into the prefix -------------------------------------------
support='C:\Support\Uprooter'
mkdir -p "$drive_c/Support/Uprooter" "$drive_c/Support/packages"
cp "$root"/dist/* "$drive_c/Support/Uprooter/"
# Until the real self-protection switch ships, the testbed's recording stand-ins
# answer Sweeper's calls.
cp "$x86/sweeper-suite/Guardswitch_x86.exe" "$root/build/x64/testbed/sweeper-suite/Guardswitch_x64.exe" \
   "$drive_c/Support/Uprooter/"
cp "$x86"/sweeper-suite/*.msi "$x86/agent/ZelmarAgent.msi" "$drive_c/Support/packages/"

section "Laying the newer suite into $prefix"
for package in EndpointAntivirus AgsConnector GuardPlatform CommonInstaller ZelmarAgent; do
  echo "  msiexec /i $package.msi -> $(win cmd /c "msiexec /i C:\\Support\\packages\\$package.msi /qn & echo %ERRORLEVEL%")"
done
win reg add 'HKLM\Software\Zelmar\Endpoint\Common' /v BuildNumber /d 10.2.1200 /f /reg:64 >/dev/null
win reg add 'HKLM\Software\Zelmar\Endpoint\Common' /v PackageNumber /d 3 /f /reg:64 >/dev/null
win reg add 'HKLM\Software\Zelmar\Endpoint' /v szInstallDir32 /d 'C:\Program Files (x86)\Zelmar\Endpoint\' /f /reg:64 >/dev/null
win reg add 'HKLM\Software\Zelmar\Endpoint' /v szInstallDir64 /d 'C:\Program Files\Zelmar\Endpoint\' /f /reg:64 >/dev/null
win reg add 'HKLM\SOFTWARE\Zelmar\ManagedServices' /v szInstallDir /d 'C:\Program Files (x86)\Zelmar\ManagedServices' /f /reg:32 >/dev/null
echo "Registered products of the suite:"
registered

# --- Run it --------------------------------------------------------------------
section "Running: cd /d $support && Uprooter.exe /suppressprompt"
# The 64-bit command shell, as on 64-bit Windows. Uprooter writes its run log
# beside the program that started it; a 32-bit program cannot list the
# modules of its 64-bit parent, so the run log goes to the root of the drive.
code=$(cd "$drive_c" && /usr/lib/wine/wine64 'C:\windows\system32\cmd.exe' /v:on /c \
  "cd /d $support && Uprooter.exe /suppressprompt & echo !ERRORLEVEL!" 2>/dev/null </dev/null | tr -d '\r' | tail -n1 || true)
echo "Uprooter exit code: $code"

section "Run log (C:\\Uprooter.log)"
sed 's/\r$//; s/^/  /' "$drive_c/Uprooter.log" 2>/dev/null || echo "  (none)"
section "Opening banner beside the program ($support\\Uprooter.log)"
sed 's/\r$//; s/^/  /' "$drive_c/Support/Uprooter/Uprooter.log" 2>/dev/null || echo "  (none)"

logs=$(ls -d "$drive_c"/users/*/Temp/ZelmarLogs 2>/dev/null || true)
if [ -n "$logs" ]; then
  section "Sweeper log (%TEMP%\\ZelmarLogs\\$(cd "$logs" && ls Zelmar_Endpoint_Sweeper_[0-9]*.log))"
  sed 's/\r$//; s/^/  /' "$logs"/Zelmar_Endpoint_Sweeper_[0-9]*.log
  section "Package logs in %TEMP%\\ZelmarLogs"
  ls "$logs" | grep -v '^Zelmar_Endpoint_Sweeper_[0-9]' | sed 's/^/  /'
fi
section "Self-protection switch calls (testbed stand-in)"
tr -d '\r' <"$drive_c/Support/Uprooter/Guardswitch.calls" 2>/dev/null | sed 's/^/  /' || echo "  (none)"

section "Products of the suite still registered"
left=$(registered)
echo "${left:-  (none)}"
section "Left for the next restart"
if pending=$(wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' \
               /v PendingFileRenameOperations 2>/dev/null); then
  printf '%s\n' "$pending" | tr -d '\r' | grep -v '^$' | sed 's/^/  /'
else
  echo "  nothing"
fi
