#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing.
# Safe to run again: it does nothing when everything is present.
set -euo pipefail

packages=(
  cmake ninja-build
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  wine wine32 wine64
  msitools wixl mscompress
  googletest
  xvfb xauth
)

sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_ dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  name=$p
  [ "$p" = wine32 ] && name=wine32:i386
  dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'install ok installed' || missing+=("$name")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  sudo_ apt-get update -qq
  sudo_ apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

# Wine runs 32-bit Windows programs through a 32-bit Linux loader. Where the
# kernel starts no 32-bit program, user-mode emulation stands in: qemu-user 10
# from bookworm-backports (Debian 12's own 7.2 takes about 50 s per Wine
# process), registered in binfmt_misc for i386 programs. Nothing else is taken
# from that suite.
runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc
if ! runs_32bit; then
  if ! "$qemu" --version 2>/dev/null | grep -q 'version \(1[0-9]\|[2-9][0-9]\)\.'; then
    echo "setup: this kernel starts no 32-bit programs; installing qemu-user-static from bookworm-backports to emulate them"
    sudo_ tee /etc/apt/sources.list.d/zl-bookworm-backports.sources >/dev/null <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    sudo_ tee /etc/apt/preferences.d/zl-bookworm-backports >/dev/null <<'PIN'
Package: qemu-user qemu-user-static qemu-user-binfmt
Pin: release n=bookworm-backports
Pin-Priority: 990

Package: *
Pin: release n=bookworm-backports
Pin-Priority: -1
PIN
    export DEBIAN_FRONTEND=noninteractive
    sudo_ apt-get update -qq
    sudo_ apt-get install -y -qq --no-install-recommends qemu-user-static </dev/null
  fi
  [ -e "$binfmt/register" ] || sudo_ mount -t binfmt_misc binfmt_misc "$binfmt"
  # Another registration for i386 programs (an older qemu's) would win: ours replaces it.
  for entry in "$binfmt"/qemu-i386 "$binfmt"/zl-i386; do
    [ -e "$entry" ] && echo -1 | sudo_ tee "$entry" >/dev/null
  done
  # i386 ELF executables and shared objects; F: the emulator is opened now, so
  # it serves every mount namespace and chroot.
  printf '%s' ':zl-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    | sudo_ tee "$binfmt/register" >/dev/null || true
  if runs_32bit; then
    echo "setup: 32-bit programs now run under $("$qemu" --version | head -n 1)"
  else
    echo "setup: 32-bit programs still do not run: $qemu could not be registered in $binfmt" >&2
    exit 1
  fi
fi
