#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for a
# bounded time on a copy of its corpus in fuzz/corpus/ (the checked-in corpus
# is not changed). A crash, a sanitizer report, a failed check, a leak or a
# time-out fails the run; the input that did it is kept in build/fuzz/artifacts.
# Usage: tools/fuzz.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build/fuzz
targets=(fill_packet_buffer ndis_request open_name enumeration frame_summary)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPKDV_FUZZ=ON -DPKDV_BUILD_TESTS=OFF -DPKDV_WARNINGS_AS_ERRORS=ON -DPKDV_SANITIZE=address,undefined >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzzer}"

mkdir -p "$build/artifacts"
status=0
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  cp fuzz/corpus/"$target"/* "$work"/
  log="$build/$target.log"
  if "$build/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "$work" >"$log" 2>&1; then
    runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
    echo "fuzz: $target: $runs executions in $seconds s, no failure"
  else
    echo "fuzz: $target FAILED (log: $log)"
    grep -E "ERROR|SUMMARY|runtime error|Test unit written" "$log" || tail -20 "$log"
    status=1
  fi
  rm -rf "$work"
done
exit $status
