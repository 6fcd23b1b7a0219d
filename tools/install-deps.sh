#!/usr/bin/env bash
# Installs what the build and the tests of the lanes named need on a fresh Debian bookworm
# machine; with no lane, what every lane needs. Does nothing when everything is already there.
#   tools/install-deps.sh [sample|linux|linux-asan|linux-tsan|win32|win64|bench|fuzz|release...]
# "sample" is what tools/run-sample.sh needs: the Linux build of the library and the client.
set -euo pipefail

sample=(cmake g++ make libpcap-dev)
linux_tests=(pkg-config googletest iproute2 tcpreplay tshark python3)
declare -A lane_packages=(
  [sample]="${sample[*]}"
  [linux]="${sample[*]} ${linux_tests[*]}"
  [linux-asan]="${sample[*]} ${linux_tests[*]}"
  [linux-tsan]="${sample[*]} ${linux_tests[*]}"
  [win32]="cmake make googletest g++-mingw-w64-i686-posix binutils-mingw-w64-i686 iproute2 tcpreplay tshark python3"
  [win64]="cmake make googletest g++-mingw-w64-x86-64-posix wine64 iproute2 tcpreplay tshark python3"
  [bench]="${sample[*]} ${linux_tests[*]} valgrind tcpdump"
  [fuzz]="${sample[*]} clang libclang-rt-14-dev"
  [release]="${sample[*]} clang"
)

lanes=("$@")
((${#lanes[@]})) || lanes=("${!lane_packages[@]}")
packages=()
for lane in "${lanes[@]}"; do
  [[ -v lane_packages[$lane] ]] || { echo "install-deps: unknown lane '$lane'" >&2; exit 2; }
  read -ra more <<<"${lane_packages[$lane]}"
  packages+=("${more[@]}")
done

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
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
if [[ " ${lanes[*]} " == *" win32 "* ]]; then
  "${sudo_cmd[@]}" "$(dirname "$0")/enable-i386.sh"
fi
