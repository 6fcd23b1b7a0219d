#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian bookworm
# machine. Does nothing when everything is already there.
set -euo pipefail

packages=(
  cmake g++ make pkg-config googletest libpcap-dev iproute2
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 wine64
  clang libclang-rt-14-dev tcpreplay tshark valgrind
)

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  # tshark asks whether non-root users may capture; the answer does not matter here.
  echo "wireshark-common wireshark-common/install-setuid boolean false" |
    "${sudo_cmd[@]}" debconf-set-selections
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# The i686 lane: the i386 architecture, wine32:i386 and libpcap0.8:i386, and
# qemu-i386 where the kernel does not execute i386 code.
"${sudo_cmd[@]}" "$(dirname "$0")/enable-i386.sh"
