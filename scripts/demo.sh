#!/usr/bin/env bash
# The main job: build, lay the newer Zelmar suite into a fresh sealed Wine
# prefix with the testbed's stager, run Uprooter.exe against it as a support
# engineer would, and show the outcome. ./scripts/demo.sh win32 uses a 32-bit
# Windows prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-win64}
"$root/scripts/build.sh" >/dev/null

prefix=$root/build/wine/demo-$arch
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
"$root/scripts/wine-prefix.sh" start "$prefix" "$arch" >/dev/null
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT

win() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
section() { printf '\n== %s\n' "$*"; }
drive_c=$prefix/drive_c
x86=$root/build/x86/testbed
support='C:\Support\Uprooter'
stage() { win 'C:\Support\stage.exe' "$@"; }
# Products of the suite as Windows Installer lists them, in each registry view.
registered() {
  local views=32
  [ "$arch" = win64 ] && views="64 32"
  for view in $views; do
    win reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' "/reg:$view" |
      grep -o -e '{5A1E0C11[^}]*}' -e '{0C7E5F2A[^}]*}' | sed "s/^/  $view-bit view: /" || true
  done
}

# --- Lay the suite into the prefix ----------------------------------------------
mkdir -p "$drive_c/Support/Uprooter" "$drive_c/Support/packages"
cp "$root"/dist/* "$drive_c/Support/Uprooter/"
cp "$x86"/sweeper-suite/*.msi "$x86/agent/ZelmarAgent.msi" "$drive_c/Support/packages/"
cp "$x86/stage/stage.exe" "$x86/stub/launcher.exe" "$drive_c/Support/"

section "Laying the newer suite into $prefix ($arch)"
stage snapshot 'C:\Support\before.txt' "$support"
stage lay 'C:\Support\packages' 'C:\Support\packages\ZelmarAgent.msi'
echo "  laid: four packages of the suite, the agent, the platform folder with the suite's libraries,"
echo "  and another product's data in the suite's shared folders and keys"
echo "Registered products of the suite:"
registered
section "The suite as laid (the audit's footprint, before the run)"
# Only its first list: before the run, the installer's records of the suite
# are changes too.
{ stage audit 'C:\Support\before.txt' "$support" || true; } | sed -n '2,/^Left for/p' | sed '$d; s/^/  /'

# --- Run it --------------------------------------------------------------------
section "Running: cd /d $support && Uprooter.exe /suppressprompt"
# The framework stand-in writes down every self-protection change it is given.
export ZL_BIZ_LOG='C:\Support\framework.calls'
# A new session: its PATH is the machine's, where the suite put its platform folder.
code=$(cd "$drive_c/Support/Uprooter" && win 'C:\Support\launcher.exe' "$support\\Uprooter.exe" /suppressprompt |
       sed -n 's/^exit=//p' || true)
echo "Uprooter exit code: ${code:-none}"

section "Run log (C:\\Support\\Uprooter.log, beside the program that started Uprooter)"
sed 's/\r$//; s/^/  /' "$drive_c/Support/Uprooter.log" 2>/dev/null || echo "  (none)"

logs=$(ls -d "$drive_c"/users/*/Temp/ZelmarLogs 2>/dev/null || true)
if [ -n "$logs" ]; then
  section "Sweeper log (%TEMP%\\ZelmarLogs\\$(cd "$logs" && ls Zelmar_Endpoint_Sweeper_[0-9]*.log))"
  sed 's/\r$//; s/^/  /' "$logs"/Zelmar_Endpoint_Sweeper_[0-9]*.log
  section "Package logs in %TEMP%\\ZelmarLogs"
  ls "$logs" | grep -v '^Zelmar_Endpoint_Sweeper_[0-9]' | sed 's/^/  /'
fi
section "Self-protection as the suite's framework saw it (testbed stand-in)"
tr -d '\r' <"$drive_c/Support/framework.calls" 2>/dev/null | grep BizSetPropertiesEx | sed 's/^/  /' ||
  echo "  (no calls)"

section "Products of the suite still registered"
left=$(registered)
echo "${left:-  (none)}"

section "Audit after the run, against the machine before the suite was laid"
stage audit 'C:\Support\before.txt' "$support" "$support\\Uprooter.log" | sed 's/^/  /' || true
