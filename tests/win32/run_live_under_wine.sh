#!/usr/bin/env bash
# Runs a Windows test program under Wine inside a network namespace made for
# it (tests/live/netns_run.sh: veth pair pkdv0 <-> pkdv1, IPv6 off, no
# addresses), with a Wine prefix of its own whose server and services start
# inside that namespace, so Wine lists the namespace's adapters.
#   run_live_under_wine.sh WINE_RUN NETNS_RUN PROGRAM.exe [ARGS...]
# Exits 77 (skipped) when not root, or where this Wine cannot capture.
set -u
wine_run=$1 netns_run=$2
shift 2

if [[ $(id -u) != 0 ]]; then
  echo "SKIPPED: live Wine test needs root to create a network namespace"
  exit 77
fi

if [[ ${PKDV_LIVE_INSIDE:-} != 1 ]]; then
  export PKDV_LIVE_INSIDE=1
  exec "$netns_run" "$0" "$wine_run" "$netns_run" "$@"
fi

# Inside the namespace. One prefix for all namespaces, used by one run at a
# time: any server left from elsewhere is ended first, ours at the end, so the
# services always start in this namespace.
PKDV_WINE_PREFIX=$("$wine_run" --netns-prefix) || exit 77
export PKDV_WINE_PREFIX
mkdir -p "$(dirname "$PKDV_WINE_PREFIX")"
exec 9>"$PKDV_WINE_PREFIX.busy"
flock 9
stop_server() { [[ -d $PKDV_WINE_PREFIX ]] && WINEPREFIX=$PKDV_WINE_PREFIX /usr/lib/wine/wineserver -k 2>/dev/null; true; }
stop_server
"$wine_run" "$@"
status=$?
stop_server
exit $status
