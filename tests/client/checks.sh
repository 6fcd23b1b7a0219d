# Sourced by the client test scripts: $here (their folder), a scratch folder $work removed at
# exit, the ok/FAIL tally, and finish, the last line of every script (the tally and its exit
# status).
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; passed=$((passed + 1)); }
finish() {
  echo "$passed passed, $failures failed"
  ((failures == 0))
}
