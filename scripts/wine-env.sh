# Sourced by the Wine scripts. Wine runs 32-bit Windows programs through a
# 32-bit Linux loader, and some machines run kernels that start no 32-bit Linux
# program at all. There 32-bit Windows programs cannot run, and Debian's
# wrappers (wine, wineboot) still pick that loader: use the 64-bit one.
#   $zl_wine       the loader to start programs with
#   zl_runs_32bit  true when this machine can run 32-bit Windows programs
zl_runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
if zl_runs_32bit; then
  zl_wine=wine
else
  zl_wine=/usr/lib/wine/wine64
  export WINELOADER=$zl_wine
fi
