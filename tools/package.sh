#!/usr/bin/env bash
# Builds the release archives into dist/:
#   pkdv-<version>-linux-x86_64.tar.gz   Linux SDK
#   pkdv-<version>-win32.zip             the shipped 32-bit DLL's SDK
#   pkdv-<version>-win64.zip             the same for x86_64
# Each lane is built without its tests, in build/package-<lane>, with the
# lane's own settings, and packed by CPack from its install rules.
# Usage: tools/package.sh [lane...]   (default: linux win32 win64)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

lanes=("$@")
((${#lanes[@]})) || lanes=(linux win32 win64)

dist=$PWD/dist
mkdir -p "$dist"
for lane in "${lanes[@]}"; do
  build=build/package-$lane
  echo "=== package $lane"
  cmake --preset "$lane" -B "$build" -DPKDV_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j2
  (cd "$build" && cpack -B "$dist" >/dev/null)
done
rm -rf "$dist/_CPack_Packages"
ls -l "$dist"
