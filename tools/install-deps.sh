#!/bin/bash
# Installs what the builds, the tests and the demo need on a Debian 12 machine
# (run as root), and skips every step whose result is already there.
set -euo pipefail

log() { echo "install-deps: $*"; }

need_packages=()
want() {  # want CHECK PACKAGE...: queue the packages when CHECK fails
  local check=$1
  shift
  if ! eval "$check" >/dev/null 2>&1; then need_packages+=("$@"); fi
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  log "adding the i386 architecture"
  dpkg --add-architecture i386
fi

want "command -v cmake && command -v ninja" cmake ninja-build
want "command -v g++" g++
want "test -f /usr/src/googletest/CMakeLists.txt" googletest
want "command -v i686-w64-mingw32-g++-posix" g++-mingw-w64-i686
want "command -v wine" wine
want "test -x /usr/lib/wine/wine" wine32:i386
want "command -v Xvfb" xvfb
want "command -v xauth" xauth
want "command -v wrestool" icoutils
want "command -v iconv && test -f /etc/locale.gen" locales
want "test -f /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf" fonts-ipafont-gothic
want "command -v clang++" clang
want "ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" libclang-rt-14-dev
want "test -x /usr/bin/convert" imagemagick
want "command -v xwd" x11-apps
want "command -v setpriv && command -v flock" util-linux

if [ ${#need_packages[@]} -gt 0 ]; then
  log "installing ${need_packages[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need_packages[@]}"
fi

# Wine takes its ANSI code page from the locale: code page 932 needs ja_JP.UTF-8.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  log "generating the ja_JP.UTF-8 locale"
  sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# wine32 is a 32-bit Linux program. Some machines run 64-bit user code only;
# there the kernel's binfmt_misc hands 32-bit programs to qemu's user-mode
# emulator (version 8 or later: older ones send Wine's address-space
# reservation into a loop).
runs_32bit() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
if ! runs_32bit; then
  qemu=/usr/bin/qemu-i386
  if ! "$qemu" --version 2>/dev/null | grep -qE 'version ([89]|[1-9][0-9])\.'; then
    log "this machine cannot run 32-bit programs: installing qemu's user-mode emulator"
    if ! apt-cache policy 2>/dev/null | grep -q bookworm-backports; then
      echo "deb http://deb.debian.org/debian bookworm-backports main" > /etc/apt/sources.list.d/backports.list
      apt-get update -qq
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t bookworm-backports qemu-user-static
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && echo -1 > /proc/sys/fs/binfmt_misc/qemu-i386
  log "handing 32-bit programs to $qemu"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    > /proc/sys/fs/binfmt_misc/register
  runs_32bit || { log "32-bit programs still do not run; Wine cannot work here"; exit 1; }
fi
log "everything is in place"
