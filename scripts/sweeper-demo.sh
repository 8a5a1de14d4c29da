#!/usr/bin/env bash
# Shows Sweeper at work: lays the newer suite's packages into a throwaway 64-bit
# Wine prefix, runs dist/Sweeper.exe /qn as a support engineer would, and shows
# the exit code, the Sweeper log, the package logs and what is left registered.
# Run after ./scripts/build.sh (the main job calls it).
#   sweeper-demo.sh [<prefix dir>]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-$root/build/wine/demo-sweeper}
suite=$root/build/x86/testbed/sweeper-suite
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

"$root/scripts/wine-prefix.sh" start "$prefix" win64 >/dev/null
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT
win() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# What ships, plus the testbed's stand-ins for the suite's self-protection switch.
demo=$prefix/drive_c/ZelmarDemo
mkdir -p "$demo/packages"
cp "$root/dist/Sweeper.exe" "$root/dist/SweeperConfig.xml" "$demo/"
cp "$suite/Guardswitch_x86.exe" "$root/build/x64/testbed/sweeper-suite/Guardswitch_x64.exe" "$demo/"
cp "$suite"/*.msi "$demo/packages/"

echo "== Laying the suite into $prefix"
for package in EndpointAntivirus AgsConnector GuardPlatform CommonInstaller; do
  echo "msiexec /i $package.msi -> $(win cmd /c "msiexec /i C:\\ZelmarDemo\\packages\\$package.msi /qn & echo %ERRORLEVEL%")"
done
win reg add 'HKLM\Software\Zelmar\Endpoint\Common' /v BuildNumber /d 10.2.1200 /f /reg:64 >/dev/null
win reg add 'HKLM\Software\Zelmar\Endpoint\Common' /v PackageNumber /d 3 /f /reg:64 >/dev/null
win reg add 'HKLM\Software\Zelmar\Endpoint' /v szInstallDir32 /d 'C:\Program Files (x86)\Zelmar\Endpoint\' /f /reg:64 >/dev/null
win reg add 'HKLM\Software\Zelmar\Endpoint' /v szInstallDir64 /d 'C:\Program Files\Zelmar\Endpoint\' /f /reg:64 >/dev/null
echo "Registered products of the suite:"
win reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /reg:32 | grep -o '{5A1E0C11[^}]*}' || true

echo
echo "== C:\\ZelmarDemo\\Sweeper.exe /qn"
echo "exit code: $(win cmd /c 'C:\ZelmarDemo\Sweeper.exe /qn & echo %ERRORLEVEL%')"
logs=$(ls -d "$prefix"/drive_c/users/*/Temp/ZelmarLogs)
echo
echo "== Sweeper log ($(basename "$(ls "$logs"/Zelmar_Endpoint_Sweeper_[0-9]*.log)"))"
cat "$logs"/Zelmar_Endpoint_Sweeper_[0-9]*.log | tr -d '\r'
echo
echo "== Package logs in ZelmarLogs"
ls "$logs" | grep -v '^Zelmar_Endpoint_Sweeper_[0-9]'
echo
echo "== Self-protection switch calls"
tr -d '\r' <"$demo/Guardswitch.calls"
echo
echo "== Products of the suite still registered (the common installer is Uprooter's to remove)"
win reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' /reg:32 | grep -o '{5A1E0C11[^}]*}' || echo "(none)"
