#!/usr/bin/env bash
# pkdv-capture where a tcpdump user meets it, with tshark as the referee: filters on BSD
# loopback savefiles (null with macOS's and Linux's IPv6 family, loop) keep tshark's frames,
# savefiles from standard input and FIFOs, a failed write to standard output, the decoding of
# extension headers, tunnels, RARP and STP, and the output habits (-x/-xx, -q, -w, -t).
#   tcpdump_parity.sh PROGRAM
source "$(dirname "$0")/checks.sh"
program=$1
python3 "$here/make_decoding_cases.py" "$work" || exit 1

count() { "$program" "$@" 2>/dev/null | wc -l; }
tshark_count() { tshark -r "$1" -Y "$2" 2>/dev/null | wc -l; }

for file in null-darwin null-linux loop; do
  for case in "ip6|ipv6" "tcp|tcp" "ip6 and tcp port 80|ipv6 && tcp.port == 80"; do
    bpf=${case%%|*} display=${case#*|} path=$work/$file.pcap
    ours=$(count -r "$path" "$bpf") piped=$(cat "$path" | count -r - "$bpf") theirs=$(tshark_count "$path" "$display")
    if [[ $ours == "$theirs" && $piped == "$theirs" ]]; then
      pass "$file '$bpf': $ours frames, as tshark, from the file and from -r -"
    else
      fail "$file '$bpf': $ours frames (-r - $piped), tshark $theirs"
    fi
  done
done

# A FIFO, and one instance's savefile on stdout read by another as it comes.
mkfifo "$work/fifo"
cat "$work/loop.pcap" >"$work/fifo" &
fifo=$(count -r "$work/fifo" tcp)
chained=$("$program" -r "$work/loop.pcap" -w - 2>/dev/null | "$program" -r - -c 3 2>/dev/null | wc -l)
# -c ends the run though the input stays open, as tcpdump's does.
held=$( (cat "$work/loop.pcap"; sleep 6) | { timeout 4 "$program" -r - -c 3 >/dev/null 2>&1; echo $?; })
[[ $fifo == 15 && $chained == 3 && $held == 0 ]] && pass "a FIFO, -w - | -r -, and -c on an open stdin" ||
  fail "FIFO $fifo lines, pipe $chained, -c on an open stdin exit $held"

"$program" -r "$work/loop.pcap" >/dev/full 2>"$work/err"
status=$?
if [[ $status == 1 ]] && grep -q "^pkdv-capture: cannot write to standard output: No space left" "$work/err"; then
  pass "lines to a full stdout: exit 1 with the reason"
else
  fail "lines to /dev/full (exit $status)"
  cat "$work/err"
fi

# --version names the library's own version (the driver stand-in's answer as root, else the
# loaded library's file name), and its text too fails loudly on a full stdout.
version=$("$program" --version 2>&1 | head -1)
"$program" --version >/dev/full 2>/dev/null
status=$?
if [[ $version =~ ^pkdv-capture\ [0-9.]+\ on\ pkdv\ [0-9]+\.[0-9]+ && $status == 1 ]]; then
  pass "--version: '$version'; exit 1 on a full stdout"
else
  fail "--version: '$version', exit $status on /dev/full"
fi

# Each constructed frame: our line names what tshark's protocol column and info say.
"$program" --utc -r "$work/cases.pcap" >"$work/lines" 2>/dev/null
tshark -r "$work/cases.pcap" -T fields -e _ws.col.Protocol -e _ws.col.Info 2>/dev/null >"$work/theirs"
n=0
for ours_theirs in "multicast listener report v2|Multicast Listener Report Message v2" \
  "UDP 5000 > 53 len 8 \\(first fragment\\)|IPv6 fragment (off=0 more=y" \
  "TCP 40000 > 80 \[bad hdr length 16 - too short, < 20\]|bogus TCP header length (16" \
  "bad hdr length: total length 16 < header length 20|Bogus IP length (16, less than header length 20)" \
  "GRE, IPv4 192.0.2.10 > 192.0.2.20, UDP 5000 > 53|DNS" \
  "IPv4 192.0.2.10 > 192.0.2.20, IPv6 2001:db8::10 > 2001:db8::20, TCP 40001 > 443 \[SYN\]|40001 → 443 [SYN]" \
  "RARP who-is 02:00:00:00:00:01 tell 02:00:00:00:00:01|Who is 02:00:00:00:00:01? Tell 02:00:00:00:00:01" \
  "STP 802.1d, Config, root 8000.02:00:00:00:00:01 cost 4 port 0x8001|Conf. Root = 32768/0/02:00:00:00:00:01  Cost = 4  Port = 0x8001"; do
  n=$((n + 1))
  ours=$(sed -n "${n}p" "$work/lines") theirs=$(sed -n "${n}p" "$work/theirs")
  if grep -Eq -- "${ours_theirs%%|*}" <<<"$ours" && grep -Fq -- "${ours_theirs#*|}" <<<"$theirs"; then
    pass "frame $n: ${ours_theirs%%|*}"
  else
    fail "frame $n: ours '$ours', tshark '$theirs'"
  fi
done

# -v: the IPv4 and TCP detail tshark reads from the same SYN.
verbose=$("$program" -v -r "$work/cases.pcap" 2>/dev/null | sed -n 9p)
IFS=$'\t' read -r ttl id window mss scale ts <<<"$(tshark -r "$work/cases.pcap" -Y "frame.number == 9" -T fields \
  -e ip.ttl -e ip.id -e tcp.window_size_value -e tcp.options.mss_val -e tcp.options.wscale.shift \
  -e tcp.options.timestamp.tsval 2>/dev/null)"
if [[ $verbose == *"(ttl $ttl, id $((id)), offset 0, flags [DF], length 60)"* &&
  $verbose == *"[SYN] win $window options [mss $mss,nop,wscale $scale,sackOK,TS val $ts ecr 0] len 0" ]]; then
  pass "-v: $verbose"
else
  fail "-v: '$verbose' (tshark: ttl $ttl id $id win $window mss $mss wscale $scale TS $ts)"
fi

# -x leaves out the 4-byte loopback header, -xx shows it; -q keeps a line per frame; -w
# prints no lines unless --print; -t drops the time, -tt gives seconds since 1970.
x=$("$program" -x -c 1 -r "$work/loop.pcap" 2>/dev/null | sed -n 2p)
xx=$("$program" -xx -c 1 -r "$work/loop.pcap" 2>/dev/null | sed -n 2p)
[[ $x == *"4500 0028"* && $xx == *"0000 0002 4500"* ]] && pass "-x without the link header, -xx with it" ||
  fail "-x '$x', -xx '$xx'"
[[ $(count -q -r "$work/loop.pcap") == 20 && $(count -r "$work/loop.pcap" -w "$work/o.pcap") == 0 &&
  $(count -r "$work/loop.pcap" -w "$work/o.pcap" --print) == 20 ]] &&
  pass "-q: 20 short lines; -w: none, --print: 20" || fail "-q / -w / --print line counts"
line=$("$program" -tt -c 1 -r "$work/loop.pcap" 2>/dev/null)
bare=$("$program" -t -c 1 -r "$work/loop.pcap" 2>/dev/null)
[[ $line == "     1 1714564800.000000 "* && $bare == "     1    44/44 "* ]] && pass "-tt and -t" ||
  fail "-tt '$line', -t '$bare'"
finish
