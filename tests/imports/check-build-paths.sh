#!/usr/bin/env bash
# Fails when a shipped program or library holds a path of the machine that
# built it (a source file's path compiled in), naming the file and the text.
#   check-build-paths.sh <build machine's folder> <program, library or folder>...
# A folder stands for every .exe and .dll in it.
set -euo pipefail
folder=$1
shift

findings=0
for item in "$@"; do
  if [ -d "$item" ]; then
    mapfile -t files < <(find "$item" -maxdepth 1 -type f \( -iname '*.exe' -o -iname '*.dll' \) | sort)
  else
    files=("$item")
  fi
  for file in "${files[@]}"; do
    # Narrow and UTF-16 texts alike.
    hits=$( (strings -a "$file"; strings -a -e l "$file") | grep -F -- "$folder" || true)
    if [ -n "$hits" ]; then
      echo "$(basename "$file") holds the build machine's folder $folder:"
      echo "$hits" | sed 's/^/    /'
      findings=1
    fi
  done
done
[ "$findings" -eq 0 ] && echo "No build machine's path in: $*"
exit "$findings"
