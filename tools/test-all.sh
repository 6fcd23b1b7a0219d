#!/usr/bin/env bash
# Builds and runs every test of every lane: Linux (plain, ASan+UBSan, TSan),
# Windows i686 (the shipped DLL: the whole suite under 32-bit Wine), Windows
# x86_64 (the whole suite under Wine64), a Release build of the library and
# the sample with GCC and with clang (lane "release": what a user's first
# build meets, no tests), the benchmarks' short mode (lane "bench": fails on a
# build error or a crash, never on a timing) and the libFuzzer targets, 20 s
# each (lane "fuzz": fails on any crash). Usage: tools/test-all.sh [lane...]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

lanes=("$@")
((${#lanes[@]})) || lanes=(linux linux-asan linux-tsan win32 win64 release bench fuzz)

run_lane() {
  if [[ $1 == bench ]]; then
    tools/bench.sh --short
    return
  fi
  if [[ $1 == release ]]; then
    local preset
    for preset in release-gcc release-clang; do
      cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" || return 1
    done
    return
  fi
  if [[ $1 == fuzz ]]; then
    tools/fuzz.sh 20
    return
  fi
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" && ctest --preset "$1"
}

# What the i686 lane could not run on this machine, said where nobody misses it.
i686_limits() {
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "=== lane win32: THIS MACHINE CANNOT RUN i386 CODE: only the static checks of pkdv.dll ran"
  elif ! reason=$(cmake/i686-wine-run.sh --netns-prefix 2>&1 >/dev/null); then
    echo "=== lane win32: LIVE TESTS NOT RUN: $reason"
  fi
}

status=0
for lane in "${lanes[@]}"; do
  echo "=== lane $lane"
  start=$SECONDS
  if run_lane "$lane"; then
    echo "=== lane $lane passed in $((SECONDS - start)) s"
  else
    echo "=== lane $lane FAILED after $((SECONDS - start)) s"
    status=1
  fi
  [[ $lane != win32 ]] || i686_limits
done
[[ -x /usr/lib/wine/wineserver64 ]] && /usr/lib/wine/wineserver64 -k 2>/dev/null || true
exit $status
