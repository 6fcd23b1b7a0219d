#!/usr/bin/env bash
# pkdv-capture on a live link, checked against tools of Debian's own: in a network namespace
# made for the run (tests/live/netns_run.sh: pkdv0 <-> pkdv1, silent), tcpreplay plays the
# sample into pkdv1 while tshark and pkdv-capture both capture pkdv0.
#   - -D numbers pkdv0 with its state; the frames pkdv-capture -i NUMBER -w saves equal
#     tshark's, byte for byte, with their wire lengths and in order;
#   - with a filter expression, it keeps exactly the frames tshark's same filter keeps;
#   - at 1,000 frames/s the default reads lose nothing, and the summary's closing lines say
#     so as tcpdump's do; starting with two reads loses nothing either (reads are added);
#   - on "any" the frames are Linux cooked ones, saved with that link type, as tshark's;
#   - the adapter is promiscuous while capturing (not with -p) and is restored after;
#   - --send puts every frame of the sample on the wire, as tshark on the peer sees them,
#     spaced as captured, at a fixed rate or at top speed (Wine's capture library reads no
#     savefiles: there --send says so);
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

replay() {  # extra tcpreplay arguments; at top speed unless they give a rate
  local speed=(-t)
  [[ $* == *--pps* ]] && speed=()
  tcpreplay -q "${speed[@]}" -i pkdv1 "$@" "$sample" >"$work/tcpreplay.out" 2>&1 ||
    { cat "$work/tcpreplay.out"; return 1; }
}

# The line -D gives pkdv0: "N.rpcap://pkdv0 [Up, Running, ...]" on Linux,
# "N.rpcap://\Device\NPF_{...} (pkdv0) [...]" under Wine.
line=$(client -D | tr -d '\r' | grep -E '^[0-9]+\.(rpcap://pkdv0 |.* \(pkdv0\) )')
number=${line%%.*}
adapter=$(sed -E 's/^[0-9]+\.([^ ]+).*/\1/' <<<"$line")
if [[ -z $line || $line != *"[Up"* ]]; then
  fail "-D shows no numbered adapter for pkdv0 that is up"
  client -D
  exit 1
fi
pass "-D shows pkdv0 as number $number: $line"
sample_frames=$(frames_in "$sample")

# 1. Unfiltered: pkdv-capture and tshark see the same frames.
start_tshark all pkdv0 -c "$sample_frames"
tshark_pid=$!
client -i "$number" -c "$sample_frames" -q -w "$work/all-pkdv.pcap" >"$work/all.out" 2>&1 &
client_pid=$!
wait_for_capturers pkdv0 1 1 && replay
wait "$client_pid"
client_status=$?
wait "$tshark_pid"
if [[ $client_status == 0 ]] &&
  python3 "$here/compare_savefiles.py" --wire "$work/all-pkdv.pcap" "$work/all.pcap"; then
  pass "capture -i $number: $sample_frames frames saved by -w equal tshark's, in order"
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
client -i "$adapter" -c $((kept + 1)) --reads 32 -q -w "$work/filtered-pkdv.pcap" "$filter" \
  >"$work/filtered.out" 2>&1 &
client_pid=$!
wait_for_capturers pkdv0 1 1 && replay --loop=2
wait "$client_pid"
client_status=$?
wait "$tshark_pid"
if ((kept > 0 && kept < sample_frames)) && [[ $client_status == 0 ]] &&
  python3 "$here/compare_savefiles.py" --wire --first $((kept + 1)) "$work/filtered-pkdv.pcap" \
    "$work/filtered.pcap"; then
  pass "filter '$filter': keeps the same $kept of $sample_frames frames as tshark's"
else
  fail "filter '$filter' (tshark kept $kept of $sample_frames a round; the client takes $((kept + 1)), one into the second; exit $client_status)"
  tr -d '\r' <"$work/filtered.out"
fi

# 3. No silent loss: the sample three times at 1,000 frames/s, all taken with the default
# reads, and the summary counts no drop; starting with two reads, the client adds reads.
# (Linux: Wine's capture library keeps only a few milliseconds of traffic between polls.)
$wine || client -i "$adapter" -c $((3 * sample_frames)) -q >"$work/fast.out" 2>&1 &
client_pid=$!
$wine || { wait_for_capturers pkdv0 0 1 && replay --pps=1000 --loop=3; }
wait "$client_pid"
client_status=$?
if $wine; then
  echo "skipped under Wine: 1,000 frames/s"
elif [[ $client_status == 0 ]] && grep -q "^$((3 * sample_frames)) packets captured" "$work/fast.out" &&
  grep -q "^0 packets dropped by kernel" "$work/fast.out"; then
  pass "$((3 * sample_frames)) frames at 1,000 frames/s: every one, none dropped"
else
  fail "1,000 frames/s (exit $client_status)"
  tr -d '\r' <"$work/fast.out"
fi
$wine || client -i "$adapter" --reads 2 -c 100 -q >"$work/starved.out" 2>&1 &
client_pid=$!
$wine || { wait_for_capturers pkdv0 0 1 && replay --pps=1000; }
wait "$client_pid"
if $wine; then
  echo "skipped under Wine: 1,000 frames/s from two reads"
elif grep -q "^100 packets captured" "$work/starved.out" &&
  grep -q "^0 packets dropped by kernel" "$work/starved.out"; then
  pass "--reads 2 at 1,000 frames/s: every frame ($(grep -o "ran out [0-9]* times" "$work/starved.out" || echo "reads never ran out"))"
else
  fail "--reads 2 at 1,000 frames/s: frames lost"
  tr -d '\r' <"$work/starved.out"
fi

# 4. On "any" (Linux): Linux cooked frames, saved as such, the same as tshark's.
if ! $wine; then
  start_tshark any any -f arp -c 8
  tshark_pid=$!
  client -i any -c 8 -w "$work/any-pkdv.pcap" arp >"$work/any.out" 2>&1 &
  client_pid=$!
  wait_for_capturers '\*' 1 1 && replay  # "any" sockets are bound to no interface
  wait "$client_pid"
  client_status=$?
  wait "$tshark_pid"
  if [[ $client_status == 0 ]] && grep -q "link type LINUX_SLL" "$work/any.out" &&
    grep -Eq "^ +[0-9]+ .* (In|Out|B) 02:00:00:00:00:0[12], ARP who-has" <(client -e -r "$work/any-pkdv.pcap") &&
    python3 "$here/compare_savefiles.py" "$work/any-pkdv.pcap" "$work/any.pcap"; then
    pass "-i any: Linux cooked frames, saved with their link type, equal tshark's"
  else
    fail "-i any (exit $client_status)"
    tr -d '\r' <"$work/any.out"
  fi
fi

# 5. Promiscuous while capturing unless -p, and restored after (Linux: Wine has no driver).
if ! $wine; then
  promiscuous() { (($(cat /sys/class/net/pkdv0/flags) & 0x100)) && echo yes || echo no; }
  states=()
  for option in "" -p; do
    # Started directly, so that the signal reaches the program and not a wrapping shell.
    "${client[@]}" -i "$adapter" -q $option >"$work/promiscuous.out" 2>&1 &
    client_pid=$!
    wait_for_capturers pkdv0 0 1 && sleep 0.3
    states+=("$(promiscuous)")
    kill -INT "$client_pid"
    wait "$client_pid"
    states+=("$(promiscuous)")
  done
  if [[ ${states[*]} == "yes no no no" ]]; then
    pass "promiscuous while capturing, not with -p, restored after"
  else
    fail "promiscuous mode: ${states[*]} (want yes no no no)"
  fi
fi

# 6. --send: every frame of the sample arrives on the peer, spaced as captured; then at a fixed
# rate and at top speed.
elapsed() { sed -n 's/.* in \([0-9.]*\) s$/\1/p' "$1" | tr -d '\r'; }
if $wine; then
  client -i "$adapter" --send "$sample" -q >"$work/send.out" 2>&1
  if [[ $? == 1 ]] && grep -q "reads no savefiles" "$work/send.out"; then
    pass "--send: Wine's capture library reads no savefiles, and the client says so"
  else
    fail "--send under Wine"
    tr -d '\r' <"$work/send.out"
  fi
else
  span=$(capinfos -u -M "$sample" | sed -n 's/.*duration: *\([0-9.]*\) seconds/\1/p')
  for pacing in "" "--rate 200" "--top-speed"; do
    start_tshark sent pkdv1 -c "$sample_frames"
    tshark_pid=$!
    wait_for_capturers pkdv1 1 0
    client -i "$adapter" --send "$sample" -q $pacing >"$work/send.out" 2>&1
    client_status=$?
    wait "$tshark_pid"
    took=$(elapsed "$work/send.out")
    case $pacing in
      "") low=$span high=$(awk -v s="$span" 'BEGIN {print s + 1}') ;;
      --rate*) low=1.1 high=2.5 ;;  # 240 gaps of 5 ms
      *) low=0 high=1 ;;
    esac
    if [[ $client_status == 0 ]] && grep -q "$sample_frames of $sample_frames frames sent" "$work/send.out" &&
      awk -v t="$took" -v l="$low" -v h="$high" 'BEGIN {exit !(t >= l - 0.05 && t <= h)}' &&
      python3 "$here/compare_savefiles.py" "$work/sent.pcap" "$sample" >/dev/null; then
      pass "--send ${pacing:-(as captured, ${span} s)}: all $sample_frames frames on the peer, in order, in $took s"
    else
      fail "--send $pacing (exit $client_status, $took s)"
      tr -d '\r' <"$work/send.out"
    fi
  done
fi

# 7. --info answers for the live adapter; on Linux the MAC address is the interface's own and
# the medium 802.3.
client --info -i "$adapter" >"$work/info.out" 2>&1
client_status=$?
mac=$(tr -d '\r' <"$work/info.out" | awk '$1 == "OID_802_3_CURRENT_ADDRESS" && $2 ~ /:/ {print $2}')
if [[ $client_status == 0 && $(grep -c "OID_" "$work/info.out") == 6 ]] &&
  { $wine || { [[ $mac == "$(cat /sys/class/net/pkdv0/address)" ]] &&
    grep -q "OID_GEN_MEDIA_IN_USE *0 (802.3)" "$work/info.out"; }; }; then
  pass "--info: six NDIS answers${mac:+, MAC address $mac}"
else
  fail "--info (exit $client_status)"
  tr -d '\r' <"$work/info.out"
fi

# 8. A filter expression the capture library refuses, on a live adapter.
client -i "$adapter" -c 1 "udp and ((" >"$work/bad-filter.out" 2>&1
client_status=$?
if [[ $client_status == 1 ]] && grep -q "^pkdv-capture: bad filter 'udp and ((': " "$work/bad-filter.out"; then
  pass "a bad filter expression: one line, exit 1"
else
  fail "bad filter expression (exit $client_status)"
  tr -d '\r' <"$work/bad-filter.out"
fi

# 9. Ctrl-C while reads are outstanding on a silent link: a clean end and the summary.
if ! $wine; then
  # Started directly, so that the signal reaches the program and not a wrapping shell.
  "${client[@]}" -i "$adapter" --reads 16 >"$work/interrupted.out" 2>&1 &
  client_pid=$!
  wait_for_capturers pkdv0 0 1 && sleep 0.3
  kill -INT "$client_pid"
  wait "$client_pid"
  client_status=$?
  if [[ $client_status == 0 ]] && grep -q "^0 packets captured" "$work/interrupted.out"; then
    pass "Ctrl-C: reads taken back, summary printed, exit 0"
  else
    fail "Ctrl-C (exit $client_status)"
    cat "$work/interrupted.out"
  fi
fi

echo "$passed passed, $failures failed"
((failures == 0))
