#!/usr/bin/env bash
# The main job: build, lay a Zelmar suite into a fresh sealed Wine prefix with
# the testbed's stager, run Uprooter.exe against it as a support engineer
# would, and show the outcome.
#   ./scripts/demo.sh [win32]          the newer suite (Sweeper's road)
#   ./scripts/demo.sh older [win32]    the older suite (Uprooter's own sequence)
# win32 uses a 32-bit Windows prefix; the default is 64-bit Windows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
road=newer arch=win64
for arg in "$@"; do
  case "$arg" in
  older) road=older ;;
  win32 | win64) arch=$arg ;;
  *) echo "usage: $0 [older] [win32|win64]" >&2; exit 2 ;;
  esac
done

section() { printf '\n== %s\n' "$*"; }
indent() { sed 's/\r$//; s/^\xEF\xBB\xBF//; s/^/  /'; }

# --- Build, showing that it goes on (a first build takes minutes) ---------------
# Missing packages first, in the open: installing them may ask for a password.
"$root/scripts/setup.sh"
. "$root/scripts/wine-env.sh"
zl_require_32bit
section "Building both architectures (log: build/demo-build.log)"
mkdir -p "$root/build"
"$root/scripts/build.sh" >"$root/build/demo-build.log" 2>&1 &
builder=$!
started=$SECONDS
while kill -0 "$builder" 2>/dev/null; do
  sleep 10
  kill -0 "$builder" 2>/dev/null || break
  objects=$(find "$root/build/x64" "$root/build/x86" -name '*.obj' 2>/dev/null | wc -l)
  echo "  still building: $((SECONDS - started)) s, $objects objects compiled so far"
done
if ! wait "$builder"; then
  echo "  the build failed; its last lines:"
  tail -n 30 "$root/build/demo-build.log" | indent
  exit 1
fi
echo "  built in $((SECONDS - started)) s"

if [ "$road" = older ]; then prefix=$root/build/wine/demo-older-$arch; else prefix=$root/build/wine/demo-$arch; fi
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
# The older suite's tray and console programs run with windows: its prefix has a display.
if [ "$road" = older ]; then
  "$root/scripts/wine-prefix.sh" start "$prefix" "$arch" "" gui >/dev/null
  DISPLAY=$(cat "$prefix/.display")
  export DISPLAY
else
  "$root/scripts/wine-prefix.sh" start "$prefix" "$arch" >/dev/null
fi
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT

win() { "$zl_wine" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
drive_c=$prefix/drive_c
x86=$root/build/x86/testbed
support='C:\Support\Uprooter'
stage() { if [ "$road" = older ]; then win 'C:\Support\stage.exe' older "$@"; else win 'C:\Support\stage.exe' "$@"; fi; }
show() {  # show <title> <Linux path> [what an empty or missing file means]
  section "$1"
  if [ -s "$2" ]; then indent <"$2"; else echo "  (${3:-none})"; fi
}
# The audit's list of what of the suite is still there, one item a line.
still_present() { sed -n '/^Still present of the suite:/,/^Left for/p' | sed '1d; $d'; }
# Products of the newer suite as Windows Installer lists them, in each registry view.
registered() {
  local views=32
  [ "$arch" = win64 ] && views="64 32"
  for view in $views; do
    win reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' "/reg:$view" |
      grep -o -e '{5A1E0C11[^}]*}' -e '{0C7E5F2A[^}]*}' | sed "s/^/  $view-bit view: /" || true
  done
}
meaning() {  # meaning <exit code>
  case "$road:$1" in
  older:0) echo "the older suite's removal sequence ran (the code does not tell how each step went: the logs do)" ;;
  older:1) echo "the administrator check failed: nothing was removed" ;;
  newer:1) echo "Sweeper was started, then the agent's removal was attempted (the code says no more: the logs do)" ;;
  newer:0) echo "Sweeper.exe was not found beside Uprooter.exe, or the prompt was declined: nothing was removed" ;;
  *:5) echo "another Uprooter holds the single-instance lock: nothing was removed" ;;
  *) echo "not one of Uprooter's exit codes (0, 1, 5)" ;;
  esac
}

# --- Lay the suite into the prefix ----------------------------------------------
mkdir -p "$drive_c/Support/Uprooter" "$drive_c/Support/packages"
cp "$root"/dist/* "$drive_c/Support/Uprooter/"
cp "$x86/stage/stage.exe" "$x86/stub/launcher.exe" "$drive_c/Support/"
# The suite's logging configuration, as its installation lays it: one File
# section that takes the common library's lines (written to C:\Support, outside
# what the audit compares).
logcfg=$drive_c/ProgramData/Zelmar/Endpoint\ Guard/Logcfg
mkdir -p "$logcfg" "$drive_c/ProgramData/Zelmar/Endpoint Guard/Logs"
printf '%s\r\n' '[AGSCommonFile]' 'enabled=1' 'type=File' \
  'filter=*.AGSCommon.Emergency|Alert|CriticalError|Error|Warning|Notice|Info|Activity|Debug' \
  'format=%+d %+T [%p:%t] %l %F: %m' 'encoding=UTF-8' 'filename=C:\Support\AGSCommon.log' >"$logcfg/logcfg.ini"

section "Laying the $road suite into $prefix ($arch)"
stage snapshot 'C:\Support\before.txt' "$support"
if [ "$road" = older ]; then
  cp "$x86/agent/tvAgtSvc_older.exe" "$x86/defender/MpClient.dll" "$x86/service/zlservice.exe" \
    "$x86/components/component.exe" "$x86/windowed/windowed.exe" "$x86/comserver/comserver.dll" "$drive_c/Support/packages/"
  cp "$root/build/x64/testbed/comserver/comserver.dll" "$drive_c/Support/packages/comserver64.dll"
  mkdir -p "$drive_c/Support/records"
  stage lay 'C:\Support\packages\tvAgtSvc_older.exe' 'C:\Support\packages\MpClient.dll' 'C:\Support\packages' \
    'C:\Support\records'
  echo "  laid: the agent (tvAgtSvc.exe 9.8.1.200) in C:\\Program Files\\Zelmar\\Managed Quellor, the suite's keys"
  echo "  and folders, the Defender record, the script engines pointed at a proxy that is gone, the browser"
  echo "  helper object, a stand-in of Windows Defender's MpClient.dll, and another product's data among it all;"
  echo "  its services running, its tray and console programs with their windows, its uninstallers, scanners,"
  echo "  COM servers and intrusion-prevention files (testbed stand-ins, records in C:\\Support\\records);"
  echo "  the suite's keys in the users' hives (a second user's hive file too), the web-safety component,"
  echo "  its Firefox components and the 64-bit registry links; what the uninstallers leave (registrations,"
  echo "  program groups and startup links, installer temporaries, the personal firewall generations with their"
  echo "  drivers)"
else
  cp "$x86"/sweeper-suite/*.msi "$x86/agent/ZelmarAgent.msi" "$drive_c/Support/packages/"
  stage lay 'C:\Support\packages' 'C:\Support\packages\ZelmarAgent.msi'
  echo "  laid: four packages of the suite, the agent, the platform folder with the suite's libraries,"
  echo "  and another product's data in the suite's shared folders and keys"
  echo "Registered products of the suite:"
  registered
fi
section "The suite as laid (the audit's footprint, before the run)"
# Only its first list: before the run, the installer's records of the suite
# are changes too.
{ stage audit 'C:\Support\before.txt' "$support" || true; } | still_present >"$drive_c/Support/laid.txt"
indent <"$drive_c/Support/laid.txt"

# --- Run it --------------------------------------------------------------------
options=/suppressprompt
# Never without /supressreboot on this road: the sequence ends by restarting the computer.
[ "$road" = older ] && options="/suppressprompt /supressreboot"
section "Running: cd /d $support && Uprooter.exe $options"
# The stand-ins write down what they are asked: the framework every
# self-protection change, Windows Defender's library every call.
export ZL_BIZ_LOG='C:\Support\framework.calls' ZL_DEFENDER_LOG='C:\Support\MpClient.calls'
# The older suite's own programs and COM servers (stand-ins) write down how they were called.
export ZL_COMPONENT_RECORD='C:\Support\records\components.txt' ZL_COM_LOG='C:\Support\records\com.txt'
# A new session: its PATH is the machine's, where the newer suite put its platform folder.
# shellcheck disable=SC2086
code=$(cd "$drive_c/Support/Uprooter" && win 'C:\Support\launcher.exe' "$support\\Uprooter.exe" $options |
       sed -n 's/^exit=//p' || true)
echo "Uprooter exit code: ${code:-none}: $(meaning "${code:-none}")"

show "Run log beside the program that started Uprooter (C:\\Support\\Uprooter.log)" "$drive_c/Support/Uprooter.log"
if [ "$road" = older ]; then
  show "Log beside Uprooter.exe ($support\\Uprooter.log): the opening banner, the removal sequence, the script-engine check and the restart decision" \
    "$drive_c/Support/Uprooter/Uprooter.log"
else
  show "Log beside Uprooter.exe ($support\\Uprooter.log): the opening banner, before the run log moves beside the starting program" \
    "$drive_c/Support/Uprooter/Uprooter.log"
fi
show "The common library's log (C:\\Support\\AGSCommon.log, by the File section of logcfg.ini)" "$drive_c/Support/AGSCommon.log" \
  "none: the common library wrote no line in this run"

if [ "$road" = older ]; then
  show "Windows Defender as its library saw it (testbed stand-in)" "$drive_c/Support/MpClient.calls"
  show "The suite's programs as they were started and closed (testbed stand-ins)" "$drive_c/Support/records/components.txt"
  show "The suite's COM server modules as they were unregistered (testbed stand-ins)" "$drive_c/Support/records/com.txt"
else
  logs=$(ls -d "$drive_c"/users/*/Temp/ZelmarLogs 2>/dev/null || true)
  if [ -n "$logs" ]; then
    section "Sweeper log (%TEMP%\\ZelmarLogs\\$(cd "$logs" && ls Zelmar_Endpoint_Sweeper_[0-9]*.log))"
    indent <"$(ls "$logs"/Zelmar_Endpoint_Sweeper_[0-9]*.log)"
    section "Package logs in %TEMP%\\ZelmarLogs"
    ls "$logs" | grep -v '^Zelmar_Endpoint_Sweeper_[0-9]' | indent
  fi
  section "Self-protection as the suite's framework saw it (testbed stand-in)"
  tr -d '\r' <"$drive_c/Support/framework.calls" 2>/dev/null | grep BizSetPropertiesEx | indent || echo "  (no calls)"
  section "Products of the suite still registered"
  left=$(registered)
  echo "${left:-  (none)}"
fi

ignored="$support\\Uprooter.log"
{ stage audit 'C:\Support\before.txt' "$support" "$ignored" || true; } | tr -d '\r' >"$drive_c/Support/after.txt"
section "Removed by the run (laid before it, gone after it)"
removed=$(grep -vxF -f <(still_present <"$drive_c/Support/after.txt") "$drive_c/Support/laid.txt" || true)
echo "${removed:-(nothing)}" | indent
section "Left for the next restart"
sed -n '/^Left for the next restart/,/^Changed outside/p' "$drive_c/Support/after.txt" |
  sed '$d; s/^Left for the next restart: none$/(none)/; /^Left for the next restart:$/d' | indent
section "Audit after the run, against the machine before the suite was laid"
indent <"$drive_c/Support/after.txt"

# --- Restart (the older suite's sequence leaves the rest to it) -------------------
[ "$road" = older ] || exit 0
section "Simulated restart: a new Wine server session carries out the pending renames"
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
"$zl_wine" cmd /c exit </dev/null >/dev/null 2>&1
echo "  restarted"
section "Audit after the restart"
stage audit 'C:\Support\before.txt' "$support" "$ignored" | indent || true
