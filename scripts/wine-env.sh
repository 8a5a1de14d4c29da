# Sourced by the Wine scripts. Wine runs 32-bit Windows programs through a
# 32-bit Linux loader; on a kernel that starts no 32-bit program, setup.sh
# registers user-mode emulation for it (docs/wine.md).
#   $zl_wine            the loader to start programs with
#   zl_require_32bit    fails, saying why, when 32-bit programs cannot run
zl_wine=wine
zl_require_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  echo "32-bit Linux programs do not start on this machine, so Wine cannot run Uprooter," >&2
  echo "Sweeper or any 32-bit test: run scripts/setup.sh as root, which registers" >&2
  echo "qemu-i386-static for them in binfmt_misc." >&2
  return 1
}
