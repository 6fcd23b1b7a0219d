#!/usr/bin/env bash
# pkdv-capture on the sample savefile: what it prints, what it saves, -c, -q and
# filters, against the checked-in expectation (capture times come from the file and are
# printed in UTC, so every line is stable).
#   sample_run.sh PROGRAM SAMPLE.pcap EXPECTED.txt
source "$(dirname "$0")/checks.sh"
program=$1 sample=$2 expected=$3

# run NAME ARGS...: stdout to $work/NAME.out, stderr to $work/NAME.err, exit code to $status.
run() {
  local name=$1
  shift
  "$program" --utc "$@" >"$work/$name.out" 2>"$work/$name.err"
  status=$?
}

summary_says() {  # NAME FRAMES BYTES
  grep -qx "$2 packets captured" "$work/$1.err" &&
    grep -qx "$3 bytes in [0-9.]* s ([0-9.]* packets/s)" "$work/$1.err"
}

# The sequence column differs once a filter has dropped frames.
without_sequence() { sed -E 's/^ *[0-9]+ //' "$@"; }

frames=$(wc -l <"$expected")
bytes=$(awk '{split($4, l, "/"); total += l[1]} END {print total}' "$expected")

run default -r "$sample"
if [[ $status == 0 ]] && cmp -s "$work/default.out" "$expected" && summary_says default "$frames" "$bytes"; then
  pass "-r SAMPLE: $frames frame lines as expected, summary $frames frames / $bytes bytes"
else
  fail "-r SAMPLE (exit $status)"
  diff "$expected" "$work/default.out" | head -20
  cat "$work/default.err"
fi

run explicit -i "file://$sample" --reads 1
if [[ $status == 0 ]] && cmp -s "$work/explicit.out" "$expected"; then
  pass "-i file://SAMPLE --reads 1: same lines with one read outstanding"
else
  fail "-i file://SAMPLE --reads 1 (exit $status)"
fi

# With the default reads the whole savefile comes back in a pass or two, not at 80 frames/s.
run quiet -r "$sample" -w /dev/null
elapsed=$(sed -n 's/.* bytes in \([0-9.]*\) s .*/\1/p' "$work/quiet.err")
if [[ $status == 0 && ! -s $work/quiet.out ]] && summary_says quiet "$frames" "$bytes" &&
  awk -v e="$elapsed" 'BEGIN {exit !(e < 1.0)}' && ! grep -q "reads ran out" "$work/quiet.err"; then
  pass "-r SAMPLE -w FILE: no frame lines, same summary, read in $elapsed s"
else
  fail "-r SAMPLE -w FILE (exit $status)"
  cat "$work/quiet.err"
fi

run count -r "$sample" -c5 --reads 3
if [[ $status == 0 ]] && cmp -s "$work/count.out" <(head -5 "$expected") &&
  grep -qx "5 packets captured" "$work/count.err"; then
  pass "-c5 --reads 3: the first five frames"
else
  fail "-c5 --reads 3 (exit $status)"
  cat "$work/count.out" "$work/count.err"
fi

# -w - writes the savefile and nothing else on standard output; tshark reads it back.
run stdout -r "$sample" -w - -s 64 ip
if [[ $status == 0 ]] && [[ $(tshark -r "$work/stdout.out" 2>/dev/null | wc -l) == \
  "$(grep -cE "/[0-9]+ +IPv4 " "$expected")" ]] && [[ $(tshark -r "$work/stdout.out" -T fields -e frame.cap_len 2>/dev/null | sort -n | tail -1) == 64 ]]; then
  pass "-w - -s 64 ip: a savefile alone on stdout, every IPv4 frame cut to 64 bytes"
else
  fail "-w - (exit $status)"
  cat "$work/stdout.err"
fi

# A savefile cut short: the frames before the break, then where it broke, exit 1.
head -c 1000 "$sample" >"$work/cut.pcap"
run cut -r "$work/cut.pcap"
if [[ $status == 1 ]] && cmp -s "$work/cut.out" <(head -9 "$expected") &&
  grep -q "cut.pcap is damaged after frame 9: truncated dump file" "$work/cut.err"; then
  pass "a savefile cut short: its 9 whole frames, then where it broke, exit 1"
else
  fail "a savefile cut short (exit $status)"
  cat "$work/cut.err"
fi

# A write that fails ends the run with the reason.
run full -r "$sample" -w /dev/full
if [[ $status == 1 ]] && grep -q "^pkdv-capture: cannot write to /dev/full: No space left" "$work/full.err"; then
  pass "-w /dev/full: exit 1 with the reason"
else
  fail "-w /dev/full (exit $status)"
  cat "$work/full.err"
fi

# Local time by default: the same lines in a time zone 3 hours east, 3 hours later.
TZ=EET-3 "$program" -r "$sample" -c 1 >"$work/local.out" 2>/dev/null
if grep -q "^ *1 2024-05-01 15:00:00.024676 " "$work/local.out"; then
  pass "local time by default"
else
  fail "local time: $(cat "$work/local.out")"
fi

run write -r "$sample" -w "$work/saved.pcap"
if [[ $status == 0 ]] && python3 "$here/compare_savefiles.py" --times "$work/saved.pcap" "$sample"; then
  pass "-w: the savefile holds every frame with its original time"
else
  fail "-w (exit $status)"
fi

# The library's filter and our own summaries must agree on which frames are which.
# Without "vlan" in it, a filter looks at untagged frames only; tcp[...] at IPv4 only.
for case in "vlan|vlan " "ip6|/[0-9]+ +IPv6 " "arp|/[0-9]+ +ARP " "tcp[tcpflags] & tcp-syn != 0|IPv4 .*\[SYN" \
  "vlan and udp|vlan .*UDP"; do
  filter=${case%%|*} marker=${case#*|}
  run filter -r "$sample" "$filter"
  if [[ $status == 0 ]] &&
    cmp -s <(without_sequence "$work/filter.out") <(grep -E -- "$marker" "$expected" | without_sequence); then
    pass "-f '$filter': exactly the frames whose summary matches '$marker'"
  else
    fail "-f '$filter' (exit $status)"
    diff <(grep -E -- "$marker" "$expected" | without_sequence) <(without_sequence "$work/filter.out") | head
  fi
done

finish
