#!/usr/bin/env bash
# Long runs of the malformed-input campaign (README, "Malformed-input campaign").
#   fuzz.sh [inputs per reader] [seed] [test filter]
# Builds, makes a throwaway 64-bit prefix of its own, runs the campaign program
# of each architecture with that count and seed (decimal or 0x...; a random
# one when none is given) and prints per reader the inputs, the time and the
# faults. Failing inputs are saved under build/<arch>/tests/fuzz/fuzz-faults;
# ZL_FUZZ_SEED and ZL_FUZZ_INDEX given to the same program replay one input.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-100000}
seed=${2:-$(od -An -N8 -tx8 /dev/urandom | tr -d ' ' | sed 's/^/0x/')}
filter=${3:-*}
"$root/scripts/build.sh"
. "$root/scripts/wine-env.sh"
zl_require_32bit
prefix=$root/build/wine/fuzz
"$root/scripts/wine-prefix.sh" start "$prefix" win64 "$root/build"
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT
echo "campaign: $count inputs per reader and architecture, seed $seed"
status=0
for arch in x64 x86; do
  dir=$root/build/$arch/tests/fuzz
  start=$(date +%s)
  (cd "$dir" && ZL_FUZZ_COUNT=$count ZL_FUZZ_SEED=$seed \
     "$root/scripts/wine-run.sh" "$prefix" "$dir/fuzz_campaign.exe" "--gtest_filter=$filter") || status=1
  echo "campaign: $arch took $(( $(date +%s) - start )) s"
done
exit $status
