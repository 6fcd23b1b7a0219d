// Counts the instructions of one case by running this program again under
// valgrind's callgrind, which collects only inside the measured loop.
#pragma once

#include <optional>
#include <string>

namespace pkdv::bench {

struct InstructionCount {
  double total = 0;
  long long frames = 0;
  double per_frame() const { return frames ? total / frames : 0; }
};

// Runs "valgrind --tool=callgrind <this program> --single CASE --savefile
// SAVEFILE" with its files (profile, log, frame count) in `work_dir`. Empty
// when valgrind fails or the profile has no total.
std::optional<InstructionCount> count_instructions(const std::string& case_name,
                                                   const std::string& savefile,
                                                   const std::string& work_dir);

}  // namespace pkdv::bench
