#!/usr/bin/env bash
# Inside a namespace of tests/live/netns_run.sh: tcpdump and pkdv-capture (its
# defaults) capture pkdv0 at the same time while a burst of N 60-byte frames
# is injected on pkdv1; prints what each captured and dropped.
#   burst.sh PKDV_CAPTURE N
set -u
capture=$1 count=$2
work=$(mktemp -d)
tcpdump -i pkdv0 -w /dev/null >"$work/tcpdump" 2>&1 &
tcpdump_pid=$!
"$capture" -i pkdv0 -q -w /dev/null >"$work/pkdv" 2>&1 &
pkdv_pid=$!
sleep 1.5  # both capturing
python3 "$(dirname "$0")/inject_burst.py" pkdv1 "$count"
sleep 1.5  # both drained
kill -INT "$tcpdump_pid" "$pkdv_pid"
wait "$tcpdump_pid" "$pkdv_pid"
field() { tr '\r' '\n' <"$1" | sed -n "s/^\([0-9]*\) packets\? $2.*/\1/p" | tail -1; }
tcpdump_captured=$(field "$work/tcpdump" captured)
pkdv_captured=$(field "$work/pkdv" captured)
printf 'burst of %s: tcpdump captured %s, dropped %s; pkdv-capture captured %s, dropped %s\n' \
  "$count" "$tcpdump_captured" "$(field "$work/tcpdump" dropped)" "$pkdv_captured" \
  "$(field "$work/pkdv" dropped)"
met=MISSED
[[ ${pkdv_captured:-0} -ge ${tcpdump_captured:-1} ]] && met=met
echo "TARGET burst of $count frames: pkdv-capture (default --reads) captures as many as tcpdump: $met"
rm -rf "$work"
