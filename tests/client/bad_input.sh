#!/usr/bin/env bash
# Every way of calling pkdv-capture wrongly: one line on stderr naming the problem, nothing on
# stdout, exit 2 for bad arguments and 1 for what cannot be opened, read or written; never a
# crash (which would show as another code).
#   bad_input.sh [RUNNER...] PROGRAM      (RUNNER: e.g. the Wine wrapper)
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0

printf 'just some text, certainly not frames\n' >"$work/text.pcap"
head -c 32 /dev/zero | tr '\0' '\1' | sed 's/^..../\x0a\x0d\x0d\x0a/' >"$work/next-generation.pcap"

# expect EXIT MESSAGE-REGEX ARGS...
expect() {
  local want=$1 message=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err" </dev/null
  local status=$? lines
  lines=$(wc -l <"$work/err")
  if [[ $status == "$want" && $lines == 1 && ! -s $work/out ]] &&
    grep -Eq "^pkdv-capture: .*($message)" "$work/err"; then
    echo "ok: exit $status: $(cat "$work/err")"
    passed=$((passed + 1))
  else
    echo "FAIL: $* -> exit $status (want $want), $lines stderr lines, stdout $(wc -c <"$work/out") bytes:"
    cat "$work/err" "$work/out"
    failures=$((failures + 1))
  fi
}

# Bad arguments.
expect 2 "unknown argument '--bogus'" "$@" --bogus
expect 2 "unknown argument 'eth0'" "$@" eth0
expect 2 "-c needs a value" "$@" -c
expect 2 "-c needs a positive frame count, not '0'" "$@" -c 0
expect 2 "not '-5'" "$@" -c -5
expect 2 "not '12abc'" "$@" -c 12abc
expect 2 "-r needs a read count from 1 to 1024, not '1025'" "$@" -r 1025
expect 2 "-i needs a value" "$@" -i
expect 2 "-w needs a file name" "$@" -w ""
expect 2 "need an adapter" "$@" --info
expect 2 "need an adapter" "$@" --send "$work/text.pcap"
expect 2 "cannot be combined" "$@" --list --info -i x
expect 2 "apply to capturing only" "$@" --list -f udp
expect 2 "--list takes no -i" "$@" --list -i x

# What cannot be opened, read or written.
expect 1 "cannot open adapter 'pkdv-no-such-adapter'" "$@" -i pkdv-no-such-adapter -c 1
expect 1 "cannot open adapter 'pkdv-no-such-adapter'" "$@" --info -i pkdv-no-such-adapter
expect 1 "cannot open savefile $work/missing.pcap" "$@" -i "file://$work/missing.pcap"
# A capture library without dead handles (Wine's) compiles only with an adapter open.
expect 1 "bad filter 'udp and \(\(': |filtering needs an adapter" "$@" -f "udp and ((" -i pkdv-no-such-adapter
expect 1 "bad filter 'ether host nonsense': |filtering needs an adapter" "$@" -f "ether host nonsense"
expect 1 "cannot open $work/missing.pcap" "$@" --send "$work/missing.pcap" -i pkdv-no-such-adapter
# Where the sample cannot be opened (a capture library without savefile support), that is the
# one error reported instead.
expect 1 "No such file|cannot open savefile" "$@" -w "$work/no-such-folder/out.pcap" -c 1
expect 1 "not a pcap savefile" "$@" --send "$work/text.pcap" -i pkdv-no-such-adapter
expect 1 "pcapng" "$@" --send "$work/next-generation.pcap" -i pkdv-no-such-adapter

echo "$passed passed, $failures failed"
((failures == 0))
