#!/usr/bin/env bash
# Makes the i686 lane runnable: 32-bit Wine and the 32-bit libpcap it forwards
# to (Debian's i386 architecture), and, where the kernel does not execute i386
# code itself, qemu-i386 (qemu-user 10 from bookworm-backports; bookworm's own
# 7.2 starts Wine too slowly to be usable) registered with binfmt_misc. Run as
# root (tools/install-deps.sh calls it). Never fails the caller: where i386
# code cannot run, it says so, and the i686 lane keeps its static checks and
# reports the rest as not run.
set -uo pipefail

say() { echo "enable-i386: $*" >&2; }
apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if ! installed wine32:i386 || ! installed libpcap0.8:i386; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 || { say "cannot add the i386 architecture"; exit 0; }
  fi
  say "installing wine32:i386 libpcap0.8:i386 (about 770 MB with their dependencies)"
  apt-get update -qq && apt_install wine32:i386 libpcap0.8:i386 ||
    { say "cannot install 32-bit Wine"; exit 0; }
fi

# The kernel runs i386 code itself (or through a handler registered earlier).
/usr/lib/wine/wine --version >/dev/null 2>&1 && exit 0

binfmt=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386
if [[ ! -x $qemu ]] || ! "$qemu" --version | grep -Eq 'version ([1-9][0-9]|9)\.'; then
  # bookworm-backports from the mirror this machine already uses for bookworm.
  sources=/etc/apt/sources.list.d/bookworm-backports.sources
  if [[ ! -e $sources ]]; then
    mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
    [[ -n $mirror ]] || mirror=$(awk '/^deb .* bookworm main/ { print $2; exit }' /etc/apt/sources.list)
    [[ -n $mirror ]] || { say "no Debian mirror configured to take backports from"; exit 0; }
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$mirror" >"$sources"
  fi
  say "this kernel does not execute i386 code: installing qemu-user from bookworm-backports"
  apt-get update -qq && apt_install -t bookworm-backports qemu-user ||
    { say "cannot install qemu-user from bookworm-backports"; exit 0; }
fi

mountpoint -q "$binfmt" || mount -t binfmt_misc binfmt_misc "$binfmt" ||
  { say "cannot mount binfmt_misc"; exit 0; }
if [[ ! -e $binfmt/qemu-i386 ]]; then
  # i386 ELF executables and shared objects; F: the interpreter is opened now,
  # so it is found inside other mount namespaces too.
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:$qemu:F" >"$binfmt/register" ||
    { say "cannot register qemu-i386 with binfmt_misc"; exit 0; }
fi
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  say "i386 code runs through qemu-i386 here: the i686 lane runs without its live tests"
else
  say "32-bit Wine does not start even through qemu-i386"
fi
