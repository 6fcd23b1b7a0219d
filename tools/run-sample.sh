#!/usr/bin/env bash
# The main job on a fresh machine: installs what the Linux build needs, builds the library and
# the sample client (build/sample, without the tests) and runs it. With no arguments
# pkdv-capture reads the sample savefile (data/sample.pcap) through the library's
# asynchronous reads; any arguments are passed on instead (e.g. --help, -D, or -i ADAPTER as
# root). Standard output is the program's alone: installing and building report on stderr.
set -euo pipefail
cd "$(dirname "$0")/.."
{
  tools/install-deps.sh sample
  cmake --preset linux -B build/sample -DPKDV_BUILD_TESTS=OFF >/dev/null
  cmake --build build/sample --target pkdv-capture -j2
} >&2
if (($# == 0)); then set -- -r data/sample.pcap; fi
exec build/sample/apps/pkdv-capture/pkdv-capture "$@"
