#!/usr/bin/env bash
# The diagnostics log as a client meets it: pkdv-capture opening an adapter by a name too long
# for one log line. Without PKDV_TRACE nothing is written; with a destination the open's lines
# arrive there, each cut to 259 characters and still ending its line, and the program's own
# message (which carries the call's last error) is the same as without the log.
#   trace_log.sh stderr|file|debug [RUNNER...] PROGRAM      (RUNNER: e.g. the Wine wrapper)
source "$(dirname "$0")/checks.sh"
kind=$1
shift
name=$(printf 'x%.0s' {1..600})

# run OUTPUT-FILE: the program's stderr into OUTPUT-FILE; its own message into $work/message.
run() {
  "$@" -i "$name" -c 1 >/dev/null 2>"$work/stderr" </dev/null
  grep '^pkdv-capture:' "$work/stderr" >"$work/message"
}

# check_lines FILE: the open's first line is there, and no log line is longer than the limit.
check_lines() {
  if grep -q "Open adapter param xxx" "$1"; then pass "the open's line reached the $kind log"
  else fail "no open line in the $kind log:"; head -c 2000 "$1"; fi
  local longest
  longest=$(grep -E '^(Open|open)' "$1" | awk '{ if (length($0) > n) n = length($0) } END { print n + 0 }')
  if ((longest > 0 && longest <= 258)); then pass "lines cut at $longest characters and a newline"
  else fail "a log line of $longest characters"; fi
}

unset PKDV_TRACE
run "$@"
cp "$work/message" "$work/baseline"
if grep -q "Open adapter" "$work/stderr"; then fail "a line written with no PKDV_TRACE"
else pass "nothing written without PKDV_TRACE"; fi

case $kind in
  stderr)
    PKDV_TRACE=stderr run "$@"
    check_lines "$work/stderr" ;;
  file)
    PKDV_TRACE="$work/log.txt" run "$@"
    check_lines "$work/log.txt" ;;
  debug)
    # Wine shows each string quoted, its newline escaped: the lines are taken back out.
    PKDV_TRACE=debug WINEDEBUG=+debugstr run "$@"
    sed -n 's/.*OutputDebugStringA "\(.*\)\\n"$/\1/p' "$work/stderr" >"$work/debugger"
    check_lines "$work/debugger" ;;
esac
if cmp -s "$work/message" "$work/baseline"; then pass "same message and last error: $(cat "$work/message" | cut -c1-40)...$(grep -o '(error [0-9]*)' "$work/message")"
else fail "the log changed the program's message:"; cat "$work/baseline" "$work/message"; fi
finish
