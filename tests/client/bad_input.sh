#!/usr/bin/env bash
# Every way of calling pkdv-capture wrongly: one line on stderr naming the problem, nothing on
# stdout, exit 2 for bad arguments and 1 for what cannot be opened, read or written; never a
# crash (which would show as another code).
#   bad_input.sh [RUNNER...] PROGRAM      (RUNNER: e.g. the Wine wrapper)
source "$(dirname "$0")/checks.sh"

printf 'just some text, certainly not frames\n' >"$work/text.pcap"
# A savefile with a header and no frames (Ethernet).
printf '\xd4\xc3\xb2\xa1\x02\x00\x04\x00\0\0\0\0\0\0\0\0\xff\xff\0\0\x01\0\0\0' >"$work/empty.pcap"

# expect EXIT MESSAGE-REGEX ARGS...
expect() {
  local want=$1 message=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err" </dev/null
  local status=$? lines
  lines=$(wc -l <"$work/err")
  if [[ $status == "$want" && $lines == 1 && ! -s $work/out ]] &&
    grep -Eq "^pkdv-capture: .*($message)" "$work/err"; then
    pass "exit $status: $(cat "$work/err")"
  else
    fail "$* -> exit $status (want $want), $lines stderr lines, stdout $(wc -c <"$work/out") bytes:"
    cat "$work/err" "$work/out"
  fi
}

# Bad arguments.
expect 2 "unknown argument '--bogus'" "$@" --bogus
expect 2 "unknown argument '-Z'" "$@" -Z
expect 2 "-c needs a value" "$@" -c
expect 2 "-c needs a positive frame count, not '0'" "$@" -c 0
expect 2 "not '-5'" "$@" -c -5
expect 2 "not '12abc'" "$@" -c12abc
expect 2 "--reads needs a read count from 1 to 16384, not '16385'" "$@" --reads 16385
expect 2 "-s needs a snapshot length" "$@" -s 300000
expect 2 "-i needs a value" "$@" -i
expect 2 "-w needs a file name" "$@" -w ""
expect 2 "need an adapter" "$@" --info
expect 2 "need an adapter" "$@" --send "$work/text.pcap"
expect 2 "cannot be combined" "$@" --list --info -i x
expect 2 "cannot be combined" "$@" -r "$work/text.pcap" -i x
expect 2 "apply to capturing only" "$@" -D udp
expect 2 "takes no -i" "$@" -D -i x
expect 2 "not two of them" "$@" -f udp tcp
expect 2 "apply to --send only" "$@" --top-speed

# What cannot be opened, read or written: the library's reason, never error 0.
expect 1 "cannot open adapter 'pkdv-no-such-adapter': .*\\(error [1-9][0-9]*\\)" "$@" -i pkdv-no-such-adapter -c 1
expect 1 "cannot open adapter 'pkdv-no-such-adapter': .*\\(error [1-9][0-9]*\\)" "$@" --info -i pkdv-no-such-adapter
expect 1 "no adapter number 999" "$@" -i 999
expect 1 "no adapter number 999" "$@" --info -i 999
expect 1 "cannot open savefile $work/missing.pcap: .*\\(error [1-9][0-9]*\\)" "$@" -r "$work/missing.pcap"
expect 1 "cannot open adapter 'rpcap://192.0.2.1/eth0': .*\\(error [1-9][0-9]*\\)" "$@" -i rpcap://192.0.2.1/eth0
# A capture library without dead handles (Wine's) compiles only with an adapter open, and one
# without savefiles opens no file:// source.
expect 1 "cannot open adapter 'pkdv-no-such-adapter'" "$@" -i pkdv-no-such-adapter "udp and (("
expect 1 "bad filter 'ether host nonsense': |cannot (open|read) savefile" "$@" -r "$work/empty.pcap" ether host nonsense
expect 1 "cannot read filter file $work/missing.bpf" "$@" -r "$work/empty.pcap" -F "$work/missing.bpf"
expect 1 "-Q applies to adapters" "$@" -r "$work/empty.pcap" -Q in
expect 1 "cannot open savefile $work: is a directory|cannot (open|read) savefile $work" "$@" -r "$work"
expect 1 "cannot read savefile -: |not supported on Windows" "$@" -r -
expect 2 "-Q needs in, out or inout, not 'sideways'" "$@" -Q sideways
expect 2 "--print goes with -w" "$@" --print
expect 1 "cannot read savefile $work/missing.pcap" "$@" --send "$work/missing.pcap" -i pkdv-no-such-adapter
expect 1 "cannot read savefile $work/text.pcap" "$@" --send "$work/text.pcap" -i pkdv-no-such-adapter
expect 1 "No such file|cannot open savefile" "$@" -r "$work/empty.pcap" -w "$work/no-such-folder/out.pcap"
finish
