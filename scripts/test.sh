#!/usr/bin/env bash
# Builds everything and runs every test under Wine. Extra arguments go to ctest
# (for example -R x86.uprooter_tests to run one test program).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
cd "$root/build"
exec ctest --output-on-failure --parallel 2 "$@" </dev/null
