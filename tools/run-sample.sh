#!/usr/bin/env bash
# The main job on a fresh machine: installs what the build needs, builds the Linux lane's
# sample client and runs it. With no arguments pkdv-capture reads the sample savefile it ships
# with (data/sample.pcap) through the library's asynchronous reads; any arguments are passed
# on (e.g. --help, --list, or -i ADAPTER as root).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target pkdv-capture
exec build/linux/apps/pkdv-capture/pkdv-capture "$@"
