#!/usr/bin/env bash
# Builds and runs every test of every lane: Linux (plain, ASan+UBSan, TSan),
# Windows i686 (the shipped DLL, checked statically) and Windows x86_64 (the
# whole suite under Wine64). Usage: tools/test-all.sh [lane...]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh

lanes=("$@")
((${#lanes[@]})) || lanes=(linux linux-asan linux-tsan win32 win64)

status=0
for lane in "${lanes[@]}"; do
  echo "=== lane $lane"
  start=$SECONDS
  if cmake --preset "$lane" >/dev/null && cmake --build --preset "$lane" &&
    ctest --preset "$lane"; then
    echo "=== lane $lane passed in $((SECONDS - start)) s"
  else
    echo "=== lane $lane FAILED after $((SECONDS - start)) s"
    status=1
  fi
done
[[ -x /usr/lib/wine/wineserver64 ]] && /usr/lib/wine/wineserver64 -k 2>/dev/null || true
exit $status
