#!/usr/bin/env bash
# Runs one Windows program under Wine and returns its exit code; ctest uses it
# as the cross-compiling emulator of the win64 lane, and through
# i686-wine-run.sh (PKDV_WINE_ARCH=win32) of the i686 lane.
#
# - Wine's background services inherit the first program's stdout and stderr
#   and outlive it, so a pipe from ctest would never close: the program writes
#   to temporary files, printed once it has exited.
# - Prefixes are made once, under a lock, and reused: one per reported Windows
#   version and network namespace (Wine lists the adapters of the namespace in
#   which the prefix's server was started). Each is a copy of one template
#   (made once with wineboot), with the version set in its registry.
# - 32-bit and 64-bit prefixes live under roots of their own: a prefix is one
#   or the other for good. A prefix records the kind it was made as (its
#   width, and whether 32-bit Wine was installed: a 64-bit prefix made without
#   it has no syswow64); one of another kind is made again.
# - One server per prefix is kept for 30 s after its last program, so a run of
#   many tests starts Wine's services once.
# - A crash exits with a non-zero code: the crash debugger is disabled.
#
# Environment:
#   PKDV_WINE_VERSION  run under a prefix that reports this Windows version
#                      (win98, win2k, winxp, win10, nt40, ...)
#   PKDV_WINE_PREFIX   use this prefix (made here if missing)
#   PKDV_WINE_ROOT     where the shared prefixes live (default /tmp/pkdv-wine-UID),
#                      under win32/ and win64/
#   PKDV_WINE_ARCH     win64 (default) or win32
#   WINEDLLOVERRIDES   added to ours
#
# Usage: wine-run.sh PROGRAM.exe [ARG...]
#        wine-run.sh --prepare   (make the prefix, start its server, run nothing)
#        wine-run.sh --netns-prefix
#            prints the prefix that live tests use inside a network namespace
#            of their own (one run at a time); exits 77 with the reason on
#            stderr where this Wine cannot capture
#        wine-run.sh --lists-adapters
#            exits 0 when Wine's wpcap.dll can list the host's adapters here
set -u

arch=${PKDV_WINE_ARCH:-win64}
case $arch in
  win32) wine=/usr/lib/wine/wine ;;
  win64) wine=/usr/lib/wine/wine64 ;;
  *)
    echo "wine-run.sh: PKDV_WINE_ARCH must be win32 or win64, not '$arch'" >&2
    exit 125
    ;;
esac
server=/usr/lib/wine/wineserver
root=${PKDV_WINE_ROOT:-${TMPDIR:-/tmp}/pkdv-wine-$(id -u)}/$arch
netns=$(stat -L -c %i /proc/self/ns/net)
version=${PKDV_WINE_VERSION:-}
kind="$arch loader-$(stat -L -c %Y "$wine" 2>/dev/null)"
[[ -d /usr/lib/i386-linux-gnu/wine ]] && kind+=" with-wine32"

# Where the kernel does not execute i386 code, 32-bit Wine runs through a
# qemu-i386 registered with binfmt_misc (tools/enable-i386.sh). qemu lacks the
# packet-socket options and the ethtool request libpcap uses: no capture, and
# Wine's wpcap.dll lists no adapters.
under_qemu() { [[ $arch == win32 ]] && grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; }

case ${1:-} in
  --netns-prefix)
    if under_qemu; then
      echo "i386 code runs through qemu-i386 on this machine, which cannot capture:" \
        "no live capture for the 32-bit lane here" >&2
      exit 77
    fi
    echo "$root/netns"
    exit 0
    ;;
  --lists-adapters)
    ! under_qemu
    exit
    ;;
esac

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="winedbg.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# Quiet helpers: their output must not reach the caller's pipes.
in_prefix() { WINEPREFIX=$1 "${@:2}" </dev/null >/dev/null 2>&1; }

# make_prefix PREFIX [VERSION]
make_prefix() {
  local prefix=$1 want=${2:-}
  [[ $(cat "$prefix.ready" 2>/dev/null) == "$kind" ]] && return 0
  mkdir -p "$(dirname "$prefix")"
  local lock
  exec {lock}>"$prefix.lock"
  flock "$lock"
  if [[ $(cat "$prefix.ready" 2>/dev/null) != "$kind" ]]; then
    rm -rf "$prefix" "$prefix.ready"
    local template=$root/template
    if [[ $prefix != "$template" ]]; then
      make_prefix "$template" || return 1
      cp -a "$template" "$prefix" || return 1
    else
      WINEARCH=$arch in_prefix "$prefix" "$wine" wineboot --init || return 1
    fi
    if [[ -n $want ]]; then
      in_prefix "$prefix" "$wine" reg add 'HKCU\Software\Wine' /v Version /d "$want" /f || return 1
    fi
    # Write the registry to disk so the prefix can be copied.
    in_prefix "$prefix" "$server" -w
    echo "$kind" >"$prefix.ready"
  fi
  exec {lock}>&-
}

if [[ -n ${PKDV_WINE_PREFIX:-} ]]; then
  prefix=$PKDV_WINE_PREFIX
else
  prefix=$root/${version:-default}-net$netns
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
