# Sourced by the Wine scripts. Wine runs 32-bit Windows programs through a
# 32-bit Linux loader; on a kernel that starts no 32-bit program, setup.sh
# registers user-mode emulation for it (docs/wine.md).
#   $zl_wine            the loader to start programs with
#   zl_require_32bit    fails, saying why, when 32-bit programs cannot run
zl_wine=wine
# Where setup registered user-mode emulation for 32-bit programs, a bad read
# in a 32-bit program reaches Wine as an illegal instruction, not as an access
# violation (docs/wine.md); the tests of the fault guard read this.
if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/zl-i386; then export ZL_X86_EMULATED=1; fi
zl_require_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  echo "32-bit Linux programs do not start on this machine, so Wine cannot run Uprooter," >&2
  echo "Sweeper or any 32-bit test: run scripts/setup.sh as root, which registers" >&2
  echo "qemu-i386-static for them in binfmt_misc." >&2
  return 1
}
