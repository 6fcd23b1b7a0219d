// Engine cost per frame next to the floor of bare libpcap, on one savefile.
//
//   pkdv_bench_engine --savefile PATH [--json FILE] [--repeats N] [--no-callgrind]
//                     [--work-dir DIR] [--no-targets]
//       Times every case N times (interleaved; the median counts), then counts
//       each case's instructions under callgrind, prints the table and writes
//       the JSON. The targets are judged on instructions (they repeat exactly;
//       times only without callgrind); --no-targets leaves them out, for a
//       savefile they are not set for.
//   pkdv_bench_engine --single CASE --savefile PATH --frames-file FILE
//       One run of one case, as callgrind runs it; writes the frame count.
#include <cstdio>
#include <exception>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "engine/callgrind_runner.h"
#include "engine/cost_case.h"
#include "support/json.h"
#include "support/options.h"
#include "support/stats.h"

namespace {

using namespace pkdv::bench;

struct Case {
  std::string name;
  std::string label;
  int outstanding;  // 0: the raw floor
  double target;    // most times the floor; 0: none
};

// With one read every frame pays for a whole pass and delivery; with many the
// pacing design spreads those over the reads of a pass.
const std::vector<Case> kCases = {
    {"raw", "libpcap: pcap_next_ex + copy", 0, 0},
    {"engine-1", "engine, 1 read outstanding", 1, 2.5},
    {"engine-64", "engine, 64 reads outstanding", 64, 0},
    {"engine-1024", "engine, 1024 reads outstanding", 1024, 1.5},
};

CaseResult run_case(const Case& c, const std::string& savefile) {
  return c.outstanding == 0 ? run_raw_floor(savefile) : run_engine(savefile, c.outstanding);
}

int run_single(const Options& options) {
  const std::string name = options.text("single");
  for (const Case& c : kCases) {
    if (c.name != name) continue;
    const CaseResult result = run_case(c, options.text("savefile"));
    if (!result.ok) return 1;
    std::ofstream(options.text("frames-file")) << result.frames << '\n';
    return 0;
  }
  std::fprintf(stderr, "unknown case %s\n", name.c_str());
  return 2;
}

struct Measured {
  long long frames = 0;
  double ns_per_frame = 0;
  std::optional<double> instructions_per_frame;
};

std::string ratio_text(std::optional<double> value, std::optional<double> floor) {
  if (!value || !floor || *floor <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2fx", *value / *floor);
  return text;
}

int run_suite(const Options& options) {
  const std::string savefile = options.text("savefile");
  const int repeats = static_cast<int>(options.integer("repeats", 5));
  const std::string work_dir = options.text("work-dir", ".");

  std::vector<std::vector<double>> ns_samples(kCases.size());
  std::vector<long long> frames(kCases.size(), 0);
  // A first untimed read brings the savefile into the page cache.
  run_raw_floor(savefile);
  for (int r = 0; r < repeats; ++r) {
    for (std::size_t i = 0; i < kCases.size(); ++i) {
      const CaseResult result = run_case(kCases[i], savefile);
      if (!result.ok) return 1;
      frames[i] = result.frames;
      ns_samples[i].push_back(static_cast<double>(result.elapsed_ns) / result.frames);
    }
  }

  std::vector<Measured> measured(kCases.size());
  for (std::size_t i = 0; i < kCases.size(); ++i) {
    measured[i].frames = frames[i];
    measured[i].ns_per_frame = median(ns_samples[i]);
    if (options.flag("no-callgrind")) continue;
    if (auto count = count_instructions(kCases[i].name, savefile, work_dir)) {
      measured[i].instructions_per_frame = count->per_frame();
    }
  }

  const Measured& floor = measured[0];
  std::printf("\nEngine cost per frame: %lld frames of %s, median of %d timed runs\n", floor.frames,
              savefile.c_str(), repeats);
  std::printf("%-34s %10s %8s %12s %8s\n", "case", "ns/frame", "x floor", "instr/frame", "x floor");
  std::vector<pkdv::bench::Json> rows;
  for (std::size_t i = 0; i < kCases.size(); ++i) {
    const Measured& m = measured[i];
    char instructions[32] = "-";
    if (m.instructions_per_frame) {
      std::snprintf(instructions, sizeof instructions, "%.0f", *m.instructions_per_frame);
    }
    std::printf("%-34s %10.1f %8s %12s %8s\n", kCases[i].label.c_str(), m.ns_per_frame,
                ratio_text(m.ns_per_frame, floor.ns_per_frame).c_str(), instructions,
                ratio_text(m.instructions_per_frame, floor.instructions_per_frame).c_str());
    pkdv::bench::Json row;
    row.text("case", kCases[i].name)
        .integer("outstanding", kCases[i].outstanding)
        .integer("frames", m.frames)
        .number("ns_per_frame", m.ns_per_frame)
        .number("ns_ratio", m.ns_per_frame / floor.ns_per_frame);
    if (m.instructions_per_frame && floor.instructions_per_frame) {
      row.number("instructions_per_frame", *m.instructions_per_frame)
          .number("instructions_ratio", *m.instructions_per_frame / *floor.instructions_per_frame);
    }
    rows.push_back(row);
  }

  bool all_met = true;
  std::vector<pkdv::bench::Json> targets;
  for (std::size_t i = 0; i < kCases.size() && !options.flag("no-targets"); ++i) {
    if (kCases[i].target == 0) continue;
    const Measured& m = measured[i];
    const bool by_instructions = m.instructions_per_frame && floor.instructions_per_frame;
    const double ratio = by_instructions ? *m.instructions_per_frame / *floor.instructions_per_frame
                                         : m.ns_per_frame / floor.ns_per_frame;
    const bool met = ratio <= kCases[i].target;
    all_met = all_met && met;
    std::printf("TARGET %s <= %.1fx floor in %s: %.2fx: %s\n", kCases[i].label.c_str(),
                kCases[i].target, by_instructions ? "instructions" : "time", ratio,
                met ? "met" : "MISSED");
    pkdv::bench::Json target;
    target.text("case", kCases[i].name)
        .text("measure", by_instructions ? "instructions" : "time")
        .number("most", kCases[i].target)
        .number("ratio", ratio)
        .boolean("met", met);
    targets.push_back(target);
  }

  pkdv::bench::Json json;
  json.text("savefile", savefile)
      .integer("repeats", repeats)
      .array("cases", rows)
      .array("targets", targets)
      .boolean("targets_met", all_met);
  const std::string path = options.text("json");
  if (!path.empty() && !write_json_file(path, json)) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options(argc, argv, 1);
    if (options.text("savefile").empty()) {
      std::fprintf(stderr, "usage: %s --savefile PATH [--json FILE] [--repeats N] ...\n", argv[0]);
      return 2;
    }
    return options.flag("single") ? run_single(options) : run_suite(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
}
