#!/usr/bin/env bash
# Runs one Windows program under Wine64 and returns its exit code; ctest uses
# it as the cross-compiling emulator of the win64 lane.
#
# - Wine's background services inherit the first program's stdout and stderr
#   and outlive it, so a pipe from ctest would never close: the program writes
#   to temporary files, printed once it has exited.
# - Prefixes are made once, under a lock, and reused: one per reported Windows
#   version and network namespace (Wine lists the adapters of the namespace in
#   which the prefix's server was started). Each is a copy of one template
#   (made once with wineboot), with the version set in its registry.
# - One server per prefix is kept for 30 s after its last program, so a run of
#   many tests starts Wine's services once.
# - A crash exits with a non-zero code: the crash debugger is disabled.
#
# Environment:
#   PKDV_WINE_VERSION  run under a prefix that reports this Windows version
#                      (win98, win2k, winxp, win10, nt40, ...)
#   PKDV_WINE_PREFIX   use this prefix (made here if missing)
#   PKDV_WINE_ROOT     where the shared prefixes live (default /tmp/pkdv-wine-UID)
#   WINEDLLOVERRIDES   added to ours
#
# Usage: wine-run.sh PROGRAM.exe [ARG...]
#        wine-run.sh --prepare   (make the prefix, start its server, run nothing)
set -u

wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
root=${PKDV_WINE_ROOT:-${TMPDIR:-/tmp}/pkdv-wine-$(id -u)}
netns=$(stat -L -c %i /proc/self/ns/net)
version=${PKDV_WINE_VERSION:-}

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="winedbg.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# Quiet helpers: their output must not reach the caller's pipes.
in_prefix() { WINEPREFIX=$1 "${@:2}" </dev/null >/dev/null 2>&1; }

# make_prefix PREFIX [VERSION]
make_prefix() {
  local prefix=$1 want=${2:-}
  [[ -e $prefix.ready ]] && return 0
  mkdir -p "$(dirname "$prefix")"
  local lock
  exec {lock}>"$prefix.lock"
  flock "$lock"
  if [[ ! -e $prefix.ready ]]; then
    rm -rf "$prefix"
    local template=$root/win64-template
    if [[ $prefix != "$template" ]]; then
      make_prefix "$template" || return 1
      cp -a "$template" "$prefix" || return 1
    else
      in_prefix "$prefix" "$wine" wineboot --init || return 1
    fi
    if [[ -n $want ]]; then
      in_prefix "$prefix" "$wine" reg add 'HKCU\Software\Wine' /v Version /d "$want" /f || return 1
    fi
    # Write the registry to disk so the prefix can be copied.
    in_prefix "$prefix" "$server" -w
    touch "$prefix.ready"
  fi
  exec {lock}>&-
}

if [[ -n ${PKDV_WINE_PREFIX:-} ]]; then
  prefix=$PKDV_WINE_PREFIX
else
  prefix=$root/win64-${version:-default}-net$netns
fi
if ! make_prefix "$prefix" "$version"; then
  echo "wine-run.sh: cannot make the Wine prefix $prefix" >&2
  exit 125
fi
export WINEPREFIX=$prefix

# Starts a lingering server unless one runs already (then this one just exits).
"$server" -p30 </dev/null >/dev/null 2>&1

[[ ${1:-} == --prepare ]] && exit 0

out=$(mktemp) err=$(mktemp)
"$wine" "$@" </dev/null >"$out" 2>"$err"
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
