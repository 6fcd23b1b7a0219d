#!/usr/bin/env bash
# pkdv-capture on savefiles of several link types (raw IP, BSD loopback, Linux cooked v1 and
# v2, pcapng, one link type it does not decode), made from the sample by make_link_types.py,
# with tshark as the referee: the same frame count, the same network layers named, filters
# compiled for the file's own link type keeping the same frames, and -w files labelled with it.
#   link_types.sh PROGRAM SAMPLE.pcap
source "$(dirname "$0")/checks.sh"
program=$1 sample=$2

python3 "$here/make_link_types.py" "$sample" "$work" || exit 1
editcap -F pcapng "$work/sll2.pcap" "$work/sll2.pcapng" || exit 1

tshark_count() { tshark -r "$1" ${2:+-Y "$2"} 2>/dev/null | wc -l; }

# file BPF-FILTER TSHARK-FILTER: the filter cases; IPv6 on BSD loopback is left out (libpcap
# matches Linux's address family number there, tshark the BSDs').
for case in "raw.pcap|tcp|tcp && !icmp && !icmpv6" "null.pcap|ip|ip" "sll.pcap|arp or icmp6|arp || icmpv6" \
  "sll2.pcap|ip6 and tcp|ipv6 && tcp && !icmpv6" "sll2.pcapng|arp|arp"; do
  IFS='|' read -r file bpf display <<<"$case"
  path=$work/$file
  "$program" --utc -r "$path" >"$work/lines" 2>"$work/err"
  status=$?
  total=$(tshark_count "$path")
  ok=true
  [[ $status == 0 ]] && grep -qx "$total packets captured" "$work/err" || ok=false
  for layer in "IPv4|ip" "IPv6|ipv6" "ARP|arp"; do
    ours=$(grep -c " ${layer%%|*} " "$work/lines")
    theirs=$(tshark_count "$path" "${layer#*|}")
    [[ $file == null.pcap && $layer == IPv6* ]] && theirs=$ours  # see above
    [[ $ours == "$theirs" ]] || { ok=false; echo "  ${layer%%|*}: $ours lines, tshark $theirs"; }
  done
  grep -q "ethertype\|Ethernet" "$work/lines" && ok=false
  if $ok; then
    pass "$file: $total frames, the same IPv4/IPv6/ARP frames as tshark"
  else
    fail "$file (exit $status)"
    head -3 "$work/lines" "$work/err"
  fi

  "$program" -q -r "$path" -w "$work/ours.pcap" $bpf >/dev/null 2>"$work/err"
  status=$?
  tshark -r "$path" -Y "$display" -F pcap -w "$work/theirs.pcap" 2>/dev/null
  kept=$(tshark_count "$work/theirs.pcap")
  # tshark keeps the file's link type: comparing with its file checks our label too.
  if [[ $status == 0 ]] && ((kept > 0)) &&
    python3 "$here/compare_savefiles.py" --times "$work/ours.pcap" "$work/theirs.pcap" >/dev/null; then
    pass "$file -w with filter '$bpf': the $kept frames tshark's '$display' keeps, same link type"
  else
    fail "$file filter '$bpf' (exit $status)"
    cat "$work/err"
    python3 "$here/compare_savefiles.py" --times "$work/ours.pcap" "$work/theirs.pcap"
  fi
done

# A link type not decoded: a plain line for each frame, and a filter refused with the reason.
"$program" --utc -r "$work/user.pcap" >"$work/lines" 2>/dev/null
total=$(tshark_count "$work/user.pcap")
if [[ $(grep -Ec "^ +[0-9]+ .* link type 147, length [0-9]+$" "$work/lines") == "$total" ]]; then
  pass "link type 147: $total plain lines"
else
  fail "link type 147"
  head -3 "$work/lines"
fi
"$program" -r "$work/user.pcap" udp >/dev/null 2>"$work/err"
if [[ $? == 1 ]] && grep -q "^pkdv-capture: bad filter 'udp': " "$work/err"; then
  pass "link type 147: a filter it cannot express is refused"
else
  fail "link type 147 filter"
  cat "$work/err"
fi

finish
