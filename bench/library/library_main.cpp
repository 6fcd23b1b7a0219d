// Benchmarks of the shipped shared library, written against include/pkdv.h
// alone. Live adapters must be those of a private namespace: run the program
// under tests/live/netns_run.sh (tools/bench.sh does).
//
//   pkdv_bench_library latency    [--threads N] [--frames N] [--adapter IF] [--inject IF]
//   pkdv_bench_library throughput [--threads N] [--reads N] [--source S] [--inject IF]
//                                 [--seconds S]
//   pkdv_bench_library flood      [--reads N] [--adapter IF] [--inject IF] [--windows N]
//                                 [--seconds S]
//   pkdv_bench_library idle       [--threads N] [--adapter IF] [--seconds S]
//   pkdv_bench_library memory     [--threads N] [--reads N] --source S [--checkpoints A,B]
//   common: [--json FILE]
#include <cstdio>
#include <exception>
#include <map>
#include <string>

#include "library/benchmarks.h"

namespace {

using pkdv::bench::Json;
using pkdv::bench::Options;

const std::map<std::string, int (*)(const Options&, Json&)> kBenchmarks = {
    {"latency", pkdv::bench::run_latency},
    {"throughput", pkdv::bench::run_throughput},
    {"flood", pkdv::bench::run_flood},
    {"idle", pkdv::bench::run_idle},
    {"memory", pkdv::bench::run_memory},
};

}  // namespace

int main(int argc, char** argv) {
  const auto benchmark = argc > 1 ? kBenchmarks.find(argv[1]) : kBenchmarks.end();
  if (benchmark == kBenchmarks.end()) {
    std::fprintf(stderr, "usage: %s latency|throughput|flood|idle|memory [--OPTION VALUE...]\n",
                 argv[0]);
    return 2;
  }
  try {
    const Options options(argc, argv, 2);
    Json result;
    result.text("benchmark", benchmark->first);
    const int status = benchmark->second(options, result);
    const std::string path = options.text("json");
    if (status == 0 && !path.empty() && !write_json_file(path, result)) return 1;
    return status;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
}
