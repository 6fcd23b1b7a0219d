#!/usr/bin/env bash
# Builds and runs the benchmark suite (bench/): the engine's cost per frame
# next to bare libpcap, then the shared library's latency, throughput (also
# against bare libpcap on a flooded adapter), idle cost and memory. Prints one
# table and writes JSON into build/bench/results/ (one file per benchmark) and
# build/bench/results.json.
#
#   tools/bench.sh            full mode (a few minutes)
#   tools/bench.sh --short    short mode (under two minutes; what CI runs)
#
# Live benchmarks run whole inside a private network namespace with its own
# veth pair (tests/live/netns_run.sh), which needs root (or sudo). A missed
# target is reported, never an error: only a build failure or a benchmark
# that cannot run fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=full
case "${1:-}" in
  "") ;;
  --short) mode=short ;;
  *)
    echo "usage: $0 [--short]" >&2
    exit 2
    ;;
esac

if [[ $mode == full ]]; then
  frames=200000 repeats=5 latency_frames=200 window=10 idle_window=10 checkpoints=10000,1000000
else
  frames=60000 repeats=1 latency_frames=20 window=2 idle_window=2 checkpoints=10000,100000
fi

tools/install-deps.sh
# The benchmarks are built in the linux lane's tree, whose library objects
# (the shipped ones, which the tests link too) are then compiled once for both.
build=build/bench
mkdir -p "$build"
cmake --preset linux -DPKDV_BUILD_BENCH=ON >/dev/null
cmake --build --preset linux --target pkdv_bench_savefile pkdv_bench_engine pkdv_bench_library \
  pkdv-capture

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  if sudo -n true 2>/dev/null; then
    as_root=(sudo)
  else
    echo "bench: the live benchmarks need root for their network namespace" >&2
    exit 1
  fi
fi

results=$build/results
mkdir -p "$results"
rm -f "$results"/*.json
log=$build/bench-output.txt
: >"$log"
bin=build/linux/bench
savefile=$(realpath "$build")/bench-$frames.pcap
netns=("${as_root[@]}" tests/live/netns_run.sh)

run() {
  "$@" 2>&1 | tee -a "$log"
}

start=$SECONDS
[[ -s $savefile ]] || run "$bin/pkdv_bench_savefile" --out "$savefile" --frames "$frames"

# 1. Engine cost per frame: mixed sizes (the targets), then 64-byte frames, where the
# copy is smallest and the engine's own share largest.
run "$bin/pkdv_bench_engine" --savefile "$savefile" --repeats "$repeats" --work-dir "$build" \
  --json "$results/engine.json"
small_savefile=$(realpath "$build")/bench-$frames-64.pcap
[[ -s $small_savefile ]] ||
  run "$bin/pkdv_bench_savefile" --out "$small_savefile" --frames "$frames" --size 64
run "$bin/pkdv_bench_engine" --savefile "$small_savefile" --repeats "$repeats" --work-dir "$build" \
  --no-targets --json "$results/engine-64-byte-frames.json"

# 2. Latency, with 1 and with 20 client threads; and at the fixed pace of earlier releases.
for threads in 1 20; do
  run "${netns[@]}" "$bin/pkdv_bench_library" latency --threads "$threads" \
    --frames "$latency_frames" --json "$results/latency-$threads.json"
done
run "${netns[@]}" env PKDV_PACING=fixed "$bin/pkdv_bench_library" latency --threads 1 \
  --frames "$latency_frames" --json "$results/latency-1-fixed-pacing.json"

# 3. Throughput at the pacing bound: a savefile per thread, then a flooded live adapter.
run "$bin/pkdv_bench_library" throughput --threads 20 --reads 64 --source "file://$savefile" \
  --seconds "$window" --json "$results/throughput-savefile.json"
run "${netns[@]}" "$bin/pkdv_bench_library" throughput --threads 20 --reads 64 \
  --source pkdv0 --seconds "$window" --json "$results/throughput-live.json"
# How the live source limits the rate when frames come slower (not a target).
if [[ $mode == full ]]; then
  for rate in 1000 2000 5000; do
    run "${netns[@]}" "$bin/pkdv_bench_library" throughput --threads 20 --reads 64 \
      --source pkdv0 --seconds "$window" --flood-rate "$rate" --probe \
      --json "$results/throughput-live-probe-$rate.json"
  done
fi

# 3a. Live throughput against bare libpcap (full mode): pkdv0 flooded as fast as an AF_PACKET
# socket sends, read at the same time by a bare pcap_next_ex loop and by the library with 1024
# reads outstanding; frames per second and drops of each.
if [[ $mode == full ]]; then
  run "${netns[@]}" "$bin/pkdv_bench_library" flood --reads 1024 --seconds 5 --windows 3 \
    --json "$results/throughput-live-flood.json"
fi

# 3b. The sample client beside tcpdump: a burst of 100,000 60-byte frames captured by both at
# once (full mode), and a savefile copied with -r F -w OUT.
capture=build/linux/apps/pkdv-capture/pkdv-capture
if [[ $mode == full ]]; then
  for round in 1 2 3; do run "${netns[@]}" bench/compare/burst.sh "$capture" 100000; done
fi
copy_seconds() {
  local started=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.3f", b - a}'
}
tcpdump_copy=$(copy_seconds tcpdump -r "$savefile" -w "$build/copy-tcpdump.pcap")
pkdv_copy=$(copy_seconds "$capture" -q -r "$savefile" -w "$build/copy-pkdv.pcap")
run echo "copy of $frames frames: tcpdump -r -w $tcpdump_copy s, pkdv-capture -q -r -w $pkdv_copy s"
copy_met=MISSED
awk -v p="$pkdv_copy" -v t="$tcpdump_copy" 'BEGIN {exit !(p <= 2 * t)}' && copy_met=met
run echo "TARGET -r F -w OUT of $frames frames within 2x tcpdump's time: $copy_met"

# 4. Idle cost: no reads, then 20 threads with a read pending on a quiet adapter.
for threads in 0 20; do
  run "${netns[@]}" "$bin/pkdv_bench_library" idle --threads "$threads" \
    --seconds "$idle_window" --json "$results/idle-$threads.json"
done

# 5. Memory as reads are served.
run "$bin/pkdv_bench_library" memory --threads 10 --reads 1000 --source "file://$savefile" \
  --checkpoints "$checkpoints" --json "$results/memory.json"

# 6. pkdv.dll under Wine (full mode): the shipped 32-bit DLL, and the 64-bit one, live on
# the veth pair, injected through the DLL's own send. Where this Wine cannot capture (i386
# code through qemu) the run says so and goes on.
if [[ $mode == full ]]; then
  for lane in win32 win64; do
    runner=cmake/wine-run.sh
    [[ $lane == win32 ]] && runner=cmake/i686-wine-run.sh
    wine_build=build/$lane  # the lane's own tree, as above
    cmake --preset "$lane" -DPKDV_BUILD_BENCH=ON >/dev/null
    cmake --build --preset "$lane" --target pkdv_bench_wine >/dev/null
    wine_bench=("${as_root[@]}" tests/win32/run_live_under_wine.sh "$runner" tests/live/netns_run.sh
      "$(realpath "$wine_build")/src/pkdv_bench_wine.exe")
    for measure in "latency $latency_frames" "throughput $window 20 64"; do
      # shellcheck disable=SC2086 # the measure's words are its arguments
      run "${wine_bench[@]}" $measure || echo "bench: $lane under Wine: $measure NOT RUN" | tee -a "$log"
    done
  done
fi

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
{
  printf '{"date": "%s", "mode": "%s", "commit": "%s", ' "$(date -u +%Y-%m-%dT%H:%M:%SZ)" \
    "$mode" "$commit"
  printf '"machine": {"nproc": %s, "cpu": "%s", "kernel": "%s"}' "$(nproc)" "$cpu" "$(uname -r)"
  for file in "$results"/*.json; do
    printf ', "%s": %s' "$(basename "$file" .json)" "$(cat "$file")"
  done
  printf '}\n'
} >"$build/results.json"

echo
echo "=== pkdv benchmarks ($mode mode, $(date -u +%Y-%m-%d), $(nproc) x $cpu, kernel $(uname -r))"
grep -E '^(TARGET |under Wine|bench: .* NOT RUN)' "$log" | sed 's/^TARGET //; s/^/  /'
echo "=== $((SECONDS - start)) s; tables above and in $log, JSON in $build/results.json"
