#!/bin/sh
# A private network namespace with one silent veth pair, for live tests.
#
#   tests/live/netns_run.sh COMMAND [ARGS...]
#       Runs COMMAND (a test program, or Wine running one) as root in new
#       network and mount namespaces that hold the pair pkdv0 <-> pkdv1 and a
#       loopback that stays down. Use it for tests whose whole process must
#       live in the namespace (e.g. the shared library, whose poller starts at
#       load, or Wine, whose services must start in there).
#   tests/live/netns_run.sh --configure
#       Configures a namespace the caller has just entered with
#       unshare(CLONE_NEWNET | CLONE_NEWNS); tests/live/netns.h does this for
#       one test case at a time.
#
# The pair is up with no addresses and IPv6 off, so no frame crosses it but
# the tests' own. /sys is mounted afresh: otherwise it shows the interfaces of
# the namespace it was mounted in.
set -eu

configure() {
  mount --make-rprivate /
  mount -t sysfs sysfs /sys
  for conf in all default; do
    if [ -e /proc/sys/net/ipv6/conf/$conf/disable_ipv6 ]; then
      echo 1 >/proc/sys/net/ipv6/conf/$conf/disable_ipv6
    fi
  done
  ip link add pkdv0 type veth peer name pkdv1
  ip link set pkdv0 up
  ip link set pkdv1 up
}

case "${1:-}" in
  "")
    echo "usage: $0 COMMAND [ARGS...] | $0 --configure" >&2
    exit 2
    ;;
  --configure)
    configure
    ;;
  *)
    if [ "${PKDV_NETNS_INSIDE:-}" != 1 ]; then
      PKDV_NETNS_INSIDE=1 exec unshare --net --mount --propagation private "$0" "$@"
    fi
    configure
    exec "$@"
    ;;
esac
