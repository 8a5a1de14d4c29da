#!/usr/bin/env bash
# A simulated restart of a prefix: ends its server and every program in it,
# then starts a new session, which carries out the pending renames and
# WinInit.Ini as a restart does. Windows removes a folder link registered for
# deletion at the restart itself; Wine's start-up follows it (docs/wine.md),
# so this removes those links first, as the restart of Windows would.
#   wine-restart.sh <prefix dir>
set -euo pipefail
prefix=$1
. "$(dirname "$0")/wine-env.sh"
export WINEPREFIX=$prefix WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
wineserver -k 2>/dev/null || true
wineserver -w
python3 - "$prefix" <<'PY'
import os, re, sys
prefix = sys.argv[1]
with open(os.path.join(prefix, 'system.reg'), encoding='utf-8', errors='replace') as f:
    text = f.read()
section = re.search(r'^\[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\][^\n]*\n(.*?)(?=^\[|\Z)',
                    text, re.S | re.M)
names = []
if section:
    # Wine writes the list as str(7):"..." with its own escapes, or as hex(7) bytes.
    quoted = re.search(r'^"PendingFileRenameOperations"=str\(7\):"((?:[^"\\]|\\.)*)"', section.group(1), re.M)
    raw = re.search(r'^"PendingFileRenameOperations"=hex\(7\):((?:[0-9a-f,]|\\\n\s*)*)', section.group(1), re.M)
    if quoted:
        escapes = {'0': '\0', 'n': '\n', 'r': '\r', 't': '\t'}
        body = re.sub(r'\\(x[0-9a-fA-F]{1,4}|.)',
                      lambda m: chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == 'x' and len(m.group(1)) > 1
                      else escapes.get(m.group(1), m.group(1)), quoted.group(1))
        names = body.split('\0')
    elif raw:
        data = bytes(int(b, 16) for b in re.sub(r'\\\n\s*', '', raw.group(1)).split(',') if b)
        names = data.decode('utf-16-le', errors='replace').split('\0')
for source, target in zip(names[0::2], names[1::2]):
    if target or not source.startswith('\\??\\') or source[5:7] != ':\\':
        continue
    path = os.path.join(prefix, 'dosdevices', source[4:6].lower(), *source[7:].split('\\'))
    if os.path.islink(path):
        os.remove(path)
        print('restart: removed the link ' + source[4:])
PY
wineserver -p </dev/null >/dev/null 2>&1
"$zl_wine" cmd /c exit </dev/null >/dev/null 2>&1
