#!/usr/bin/env bash
# Builds everything and runs every test under Wine. Extra arguments go to ctest
# (for example -R x86.uprooter_tests to run one test program).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
. "$root/scripts/wine-env.sh"
# A run without the 32-bit programs proves nothing of Uprooter or Sweeper.
zl_require_32bit
cd "$root/build"
ctest --output-on-failure --parallel 2 "$@" </dev/null && exit 0
# Under load Wine now and then fails to start a process at all (docs/wine.md);
# a failed test gets one more run, alone, and must pass then.
echo "=== Running the failed tests once more, alone ==="
exec ctest --output-on-failure --rerun-failed "$@" </dev/null
