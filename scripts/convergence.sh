#!/usr/bin/env bash
# The long form of the convergence test: every seed of a range, for each suite
# on each of its prefixes (tests/convergence/converge.sh), in prefixes of its
# own below build/wine; then the figures: points tried, runs needed per point,
# points that did not end clean.
#   scripts/convergence.sh [first seed] [last seed] [older|newer|both]
# Builds first. Each point takes one staging, two or three runs of Uprooter
# and an audit: about two minutes on this machine.
set -uo pipefail
first=${1:-1} last=${2:-20} which=${3:-both}
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
"$root/scripts/build.sh" >/dev/null || { echo "convergence: the build failed" >&2; exit 2; }
program="$build/x86/tests/convergence/convergence_tests.exe"
log="$build/convergence-$(date +%Y%m%d-%H%M%S).log"
seeds=$(seq "$first" "$last")

cases=()
[ "$which" = newer ] || cases+=("older gui win64 gui" "older gui32 win32 gui")
[ "$which" = older ] || cases+=("newer win64 win64 -" "newer win32 win32 -")
rc=0
for c in "${cases[@]}"; do
  read -r suite name arch gui <<<"$c"
  prefix="$build/wine/convergence-$name"
  [ "$gui" = gui ] || gui=""
  "$root/scripts/wine-prefix.sh" start "$prefix" "$arch" "$build" $gui >/dev/null || { echo "no prefix $name" >&2; rc=2; continue; }
  echo "== $suite suite on $name, seeds $first to $last" | tee -a "$log"
  (cd "$(dirname "$program")" && "$root/tests/convergence/converge.sh" "$prefix" "$program" "$suite" $seeds) 2>&1 |
    sed "s/^point /point $name /" | tee -a "$log" | grep -E '^(point|seed|ended|the run ended|restarted)' || true
  "$root/scripts/wine-prefix.sh" stop "$prefix" >/dev/null
done

echo
echo "Figures ($log):"
grep '^point ' "$log" | awk '
  { tried++; if ($0 ~ /NOT clean|failed/) bad++; else runs[$5]++ }
  END {
    printf "  points tried: %d\n", tried
    for (r = 1; r <= 3; r++) printf "  clean after %d run(s): %d\n", r, runs[r]
    printf "  not clean: %d\n", bad
  }'
grep -q -E '^point .*(NOT clean|failed)' "$log" && rc=1
exit $rc
