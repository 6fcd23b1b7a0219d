#!/usr/bin/env bash
# The i686 lane's emulator: wine-run.sh with 32-bit Wine and 32-bit prefixes.
PKDV_WINE_ARCH=win32 exec "$(dirname "$0")/wine-run.sh" "$@"
