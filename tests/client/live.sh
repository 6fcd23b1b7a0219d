#!/usr/bin/env bash
# pkdv-capture on a live link, checked against tools of Debian's own: in a network namespace
# made for the run (tests/live/netns_run.sh: pkdv0 <-> pkdv1, silent), tcpreplay plays the
# sample into pkdv1 while tshark and pkdv-capture both capture pkdv0.
#   - the frames pkdv-capture -w saves equal tshark's, byte for byte and in order;
#   - with a filter expression, it keeps exactly the frames tshark's same filter keeps;
#   - --send puts every frame of the sample on the wire, as tshark on the peer sees them;
#   - --info answers, a bad filter expression is refused;
#   - Ctrl-C ends a capture cleanly (without a runner only: Wine gets no signal through).
#
#   live.sh NETNS_RUN SAMPLE.pcap [RUNNER...] PROGRAM   (RUNNER: e.g. cmake/wine-run.sh)
# Exits 77 (skipped) when not root, or where this Wine cannot capture.
set -u
netns_run=$1 sample=$2
shift 2
client=("$@")
here=$(cd "$(dirname "$0")" && pwd)

if [[ $(id -u) != 0 ]]; then
  echo "SKIPPED: live client test needs root to create a network namespace"
  exit 77
fi
if [[ ${PKDV_CLIENT_LIVE_INSIDE:-} != 1 ]]; then
  export PKDV_CLIENT_LIVE_INSIDE=1
  exec "$netns_run" "$0" "$netns_run" "$sample" "$@"
fi

work=$(mktemp -d)
wine=false
if [[ ${#client[@]} -gt 1 && ${client[0]} == *wine-run.sh ]]; then
  # A prefix of this namespace's own, its server started in here, one run at a time.
  wine=true
  PKDV_WINE_PREFIX=$("${client[0]}" --netns-prefix) || exit 77
  export PKDV_WINE_PREFIX
  mkdir -p "$(dirname "$PKDV_WINE_PREFIX")"
  exec 9>"$PKDV_WINE_PREFIX.busy"
  flock 9
  stop_wine() { [[ -d $PKDV_WINE_PREFIX ]] && WINEPREFIX=$PKDV_WINE_PREFIX /usr/lib/wine/wineserver -k 2>/dev/null; true; }
  stop_wine
fi
cleanup() {
  jobs -p | xargs -r kill 2>/dev/null
  wait 2>/dev/null
  $wine && stop_wine
  rm -rf "$work"
}
trap cleanup EXIT

failures=0 passed=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $* (${SECONDS}s)"; passed=$((passed + 1)); }

frames_in() { tshark -r "$1" 2>/dev/null | wc -l; }

# Capture sockets bound to INTERFACE: tshark's (its dumpcap's) and the others (pkdv-capture).
sockets_on() { ss -0 -H -p 2>/dev/null | grep ":$1 "; }

wait_for_capturers() {  # INTERFACE TSHARKS CLIENTS
  for _ in $(seq 300); do
    local tsharks clients
    tsharks=$(sockets_on "$1" | grep -c '"dumpcap"')
    clients=$(sockets_on "$1" | grep -vc '"dumpcap"')
    ((tsharks >= $2 && clients >= $3)) && return 0
    sleep 0.1
  done
  echo "timed out waiting for $2 tshark and $3 other capturers on $1"
  return 1
}

# tshark NAME INTERFACE [ARGS...] in the background, writing $work/NAME.pcap.
start_tshark() {
  local name=$1 interface=$2
  shift 2
  timeout 120 tshark -q -i "$interface" -F pcap -w "$work/$name.pcap" "$@" 2>"$work/$name.tshark.err" &
}

# The client in the background, or in the foreground with `client`.
client() { timeout 120 "${client[@]}" "$@"; }

replay() {  # extra tcpreplay arguments
  tcpreplay -q -t -i pkdv1 "$@" "$sample" >"$work/tcpreplay.out" 2>&1 ||
    { cat "$work/tcpreplay.out"; return 1; }
}

# The name --list gives pkdv0: "rpcap://pkdv0" on Linux, "rpcap://\Device\NPF_{...}" described
# as "pkdv0" under Wine.
adapter=$(client --list | tr -d '\r' | awk '$1 ~ /pkdv0$/ || $NF == "pkdv0" {print $1}')
if [[ -z $adapter ]]; then
  fail "--list shows no adapter for pkdv0"
  client --list
  exit 1
fi
pass "--list shows pkdv0 as $adapter"
sample_frames=$(frames_in "$sample")

# 1. Unfiltered: pkdv-capture and tshark see the same frames.
start_tshark all pkdv0 -c "$sample_frames"
tshark_pid=$!
client -i "$adapter" -c "$sample_frames" -q -w "$work/all-pkdv.pcap" >"$work/all.out" 2>&1 &
client_pid=$!
wait_for_capturers pkdv0 1 1 && replay
wait "$client_pid"
client_status=$?
wait "$tshark_pid"
if [[ $client_status == 0 ]] &&
  python3 "$here/compare_savefiles.py" "$work/all-pkdv.pcap" "$work/all.pcap"; then
  pass "capture: $sample_frames frames saved by -w equal tshark's, in order"
  python3 "$here/compare_savefiles.py" "$work/all-pkdv.pcap" "$sample" >/dev/null ||
    echo "note: the frames on the wire differ from the sample's"
else
  fail "capture (exit $client_status)"
  tr -d '\r' <"$work/all.out"
fi

# 2. Filtered: first how many frames tshark's filter keeps, then the sample twice with
# pkdv-capture stopping one frame into the second round. A filter that keeps more or fewer
# frames than tshark's shows as a different frame somewhere in that window.
filter="udp or arp or icmp6 or (vlan and icmp)"
start_tshark kept pkdv0 -f "$filter"
tshark_pid=$!
wait_for_capturers pkdv0 1 0 && replay
sleep 1
kill -INT "$tshark_pid"
wait "$tshark_pid"
kept=$(frames_in "$work/kept.pcap")

start_tshark filtered pkdv0 -f "$filter" -c $((2 * kept))
tshark_pid=$!
client -i "$adapter" -f "$filter" -c $((kept + 1)) -r 32 -q -w "$work/filtered-pkdv.pcap" \
  >"$work/filtered.out" 2>&1 &
client_pid=$!
wait_for_capturers pkdv0 1 1 && replay --loop=2
wait "$client_pid"
client_status=$?
wait "$tshark_pid"
if ((kept > 0 && kept < sample_frames)) && [[ $client_status == 0 ]] &&
  python3 "$here/compare_savefiles.py" --first $((kept + 1)) "$work/filtered-pkdv.pcap" \
    "$work/filtered.pcap"; then
  pass "filter '$filter': keeps the same $kept of $sample_frames frames as tshark's"
else
  fail "filter '$filter' (tshark kept $kept of $sample_frames; exit $client_status)"
  tr -d '\r' <"$work/filtered.out"
fi

# 3. --send: every frame of the sample arrives on the peer.
start_tshark sent pkdv1 -c "$sample_frames"
tshark_pid=$!
wait_for_capturers pkdv1 1 0
client -i "$adapter" --send "$sample" -q >"$work/send.out" 2>&1
client_status=$?
wait "$tshark_pid"
if [[ $client_status == 0 ]] && grep -q "$sample_frames of $sample_frames frames sent" "$work/send.out" &&
  python3 "$here/compare_savefiles.py" "$work/sent.pcap" "$sample"; then
  pass "--send: tshark on the peer sees the $sample_frames frames of the sample, in order"
else
  fail "--send (exit $client_status)"
  tr -d '\r' <"$work/send.out"
fi

# 4. --info answers for the live adapter; on Linux the MAC address is the interface's own.
client --info -i "$adapter" >"$work/info.out" 2>&1
client_status=$?
mac=$(tr -d '\r' <"$work/info.out" | awk '$1 == "OID_802_3_CURRENT_ADDRESS" && $2 ~ /:/ {print $2}')
if [[ $client_status == 0 && $(grep -c "OID_" "$work/info.out") == 5 ]] &&
  { $wine || [[ $mac == "$(cat /sys/class/net/pkdv0/address)" ]]; }; then
  pass "--info: five NDIS answers${mac:+, MAC address $mac}"
else
  fail "--info (exit $client_status)"
  tr -d '\r' <"$work/info.out"
fi

# 5. A filter expression the capture library refuses, on a live adapter.
client -i "$adapter" -f "udp and ((" -c 1 >"$work/bad-filter.out" 2>&1
client_status=$?
if [[ $client_status == 1 ]] && grep -q "^pkdv-capture: bad filter 'udp and ((': " "$work/bad-filter.out"; then
  pass "a bad filter expression: one line, exit 1"
else
  fail "bad filter expression (exit $client_status)"
  tr -d '\r' <"$work/bad-filter.out"
fi

# 6. Ctrl-C while reads are outstanding on a silent link: a clean end and the summary.
if ! $wine; then
  # Started directly, so that the signal reaches the program and not a wrapping shell.
  "${client[@]}" -i "$adapter" -r 16 >"$work/interrupted.out" 2>&1 &
  client_pid=$!
  wait_for_capturers pkdv0 0 1 && sleep 0.3
  kill -INT "$client_pid"
  wait "$client_pid"
  client_status=$?
  if [[ $client_status == 0 ]] && grep -q "^0 frames, 0 bytes" "$work/interrupted.out"; then
    pass "Ctrl-C: reads taken back, summary printed, exit 0"
  else
    fail "Ctrl-C (exit $client_status)"
    cat "$work/interrupted.out"
  fi
fi

echo "$passed passed, $failures failed"
((failures == 0))
