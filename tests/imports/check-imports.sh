#!/usr/bin/env bash
# Fails when a shipped program or library imports what the oldest Windows it
# is for lacks, naming the file and the function, or when a shipped program is
# not marked terminal-server aware; prints every finding.
#   check-imports.sh <list> <program, library or folder>...
# A folder stands for every .exe and .dll in it. The list is
# missing-on-oldest-windows.txt; the architecture of each file picks its column.
# OBJDUMP names an objdump that reads both pei-i386 and pei-x86-64.
set -euo pipefail
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
list=$1
shift

files=()
for item in "$@"; do
  if [ -d "$item" ]; then
    mapfile -t found < <(find "$item" -maxdepth 1 -type f \( -iname '*.exe' -o -iname '*.dll' \) | sort)
    [ "${#found[@]}" -gt 0 ] || { echo "check-imports: no program in $item"; exit 1; }
    files+=("${found[@]}")
  elif [ -f "$item" ]; then
    files+=("$item")
  else
    echo "check-imports: $item is missing"
    exit 1
  fi
done

findings=0
for file in "${files[@]}"; do
  case $("$objdump" -f "$file" | sed -n 's/.*file format //p') in
    pei-i386) arch=x86 ;;
    pei-x86-64) arch=x64 ;;
    *) echo "check-imports: $file is not a Windows program"; exit 1 ;;
  esac
  # The import tables as "dll function" pairs, then judged against the list.
  out=$("$objdump" -p "$file" | awk '
      /^\tDLL Name:/ { dll = tolower($3); next }
      /^\tvma:/ { next }
      dll != "" && /^\t[0-9a-f]+\t/ { print dll, ($3 == "" || $3 == "<none>") ? "#" $2 : $3; next }
      /^$/ { dll = "" }' |
    awk -v arch="$arch" -v program="$(basename "$file")" -v list="$list" '
      function glob(p) { gsub(/[.+?()|\[\]{}^$]/, "\\\\&", p); gsub(/\*/, ".*", p); return "^" p "$" }
      BEGIN {
        while ((getline line < list) > 0) {
          if (line ~ /^[ \t]*(#|$)/) continue
          split(line, f, /[ \t]+/)
          if (f[3] !~ /^(x86|x64|x86,x64)$/) { print "check-imports: bad line in " list ": " line > "/dev/stderr"; exit 2 }
          if (index(f[3], arch) == 0) continue
          source = line; sub(/^[^ \t]+[ \t]+[^ \t]+[ \t]+[^ \t]+[ \t]*/, "", source)
          n++; dlls[n] = glob(tolower(f[1])); names[n] = glob(f[2]); sources[n] = source
        }
        if (n == 0) { print "check-imports: no entries for " arch " in " list > "/dev/stderr"; exit 2 }
      }
      {
        for (i = 1; i <= n; i++)
          if ($1 ~ dlls[i] && $2 ~ names[i]) {
            printf "%s (%s) imports %s from %s, which its oldest Windows lacks: %s\n", program, arch, $2, $1, sources[i]
            break
          }
      }')
  # A program not marked terminal-server aware is told a per-user Windows
  # folder on a terminal server, and misses the system's tools there.
  case $file in
    *.exe | *.EXE)
      if ! "$objdump" -p "$file" | grep TERMINAL_SERVICE_AWARE >/dev/null; then
        out+=${out:+$'\n'}"$(basename "$file") ($arch) is not marked terminal-server aware"
      fi ;;
  esac
  if [ -n "$out" ]; then
    echo "$out"
    findings=$((findings + $(wc -l <<<"$out")))
  fi
done

if [ "$findings" -gt 0 ]; then
  echo "check-imports: $findings finding(s) (imports the oldest Windows lacks, programs not marked terminal-server aware), in ${#files[@]} files checked"
  exit 1
fi
echo "check-imports: ${#files[@]} files checked, none imports what its oldest Windows lacks, every program is terminal-server aware"
