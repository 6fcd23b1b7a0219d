#!/usr/bin/env bash
# pkdv-capture on the sample savefile it ships with: what it prints, what it saves, -c, -q and
# filters, against the checked-in expectation (capture times come from the file, so every
# line is stable).
#   sample_run.sh PROGRAM SAMPLE.pcap EXPECTED.txt
set -u
program=$1 sample=$2 expected=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; passed=$((passed + 1)); }

# run NAME ARGS...: stdout to $work/NAME.out, stderr to $work/NAME.err, exit code to $status.
run() {
  local name=$1
  shift
  "$program" "$@" >"$work/$name.out" 2>"$work/$name.err"
  status=$?
}

summary_says() {  # NAME FRAMES BYTES
  grep -qx "$2 frames, $3 bytes in [0-9.]* s ([0-9.]* frames/s)" "$work/$1.err" &&
    grep -qx "NDIS_STATUS_SUCCESS $2" "$work/$1.err"
}

# The sequence column differs once a filter has dropped frames.
without_sequence() { sed -E 's/^ *[0-9]+ //' "$@"; }

frames=$(wc -l <"$expected")
bytes=$(awk '{split($4, l, "/"); total += l[1]} END {print total}' "$expected")

run default
if [[ $status == 0 ]] && cmp -s "$work/default.out" "$expected" && summary_says default "$frames" "$bytes"; then
  pass "no arguments: $frames frame lines as expected, summary $frames frames / $bytes bytes"
else
  fail "no arguments (exit $status)"
  diff "$expected" "$work/default.out" | head -20
  cat "$work/default.err"
fi

run explicit -i "file://$sample" -r 1
if [[ $status == 0 ]] && cmp -s "$work/explicit.out" "$expected"; then
  pass "-i file://SAMPLE -r 1: same lines with one read outstanding"
else
  fail "-i file://SAMPLE -r 1 (exit $status)"
fi

run quiet -q -r 64
if [[ $status == 0 && ! -s $work/quiet.out ]] && summary_says quiet "$frames" "$bytes"; then
  pass "-q -r 64: no frame lines, same summary"
else
  fail "-q -r 64 (exit $status)"
  cat "$work/quiet.err"
fi

run count -c 5 -r 3
if [[ $status == 0 ]] && cmp -s "$work/count.out" <(head -5 "$expected") &&
  grep -q "^5 frames" "$work/count.err"; then
  pass "-c 5 -r 3: the first five frames"
else
  fail "-c 5 -r 3 (exit $status)"
  cat "$work/count.out" "$work/count.err"
fi

run write -q -w "$work/saved.pcap"
if [[ $status == 0 ]] && python3 "$here/compare_savefiles.py" --times "$work/saved.pcap" "$sample"; then
  pass "-w: the savefile holds every frame with its original time"
else
  fail "-w (exit $status)"
fi

# The library's filter and our own summaries must agree on which frames are which.
# Without "vlan" in it, a filter looks at untagged frames only; tcp[...] at IPv4 only.
for case in "vlan|, vlan " "ip6|, IPv6 " "arp|:[0-9a-f]{2}, ARP " "tcp[tcpflags] & tcp-syn != 0|IPv4 .*\[SYN" \
  "vlan and udp|vlan .*UDP"; do
  filter=${case%%|*} marker=${case#*|}
  run filter -f "$filter"
  if [[ $status == 0 ]] &&
    cmp -s <(without_sequence "$work/filter.out") <(grep -E -- "$marker" "$expected" | without_sequence); then
    pass "-f '$filter': exactly the frames whose summary matches '$marker'"
  else
    fail "-f '$filter' (exit $status)"
    diff <(grep -E -- "$marker" "$expected" | without_sequence) <(without_sequence "$work/filter.out") | head
  fi
done

echo "$passed passed, $failures failed"
((failures == 0))
