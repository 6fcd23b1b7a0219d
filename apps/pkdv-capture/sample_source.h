// The embedded default source: the sample savefile that ships with pkdv-capture.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pkdv_capture {

inline constexpr char kSampleFileName[] = "sample.pcap";

// Where the sample may be, in order: next to the executable (build tree), in ../share/pkdv
// (installed), and in the source tree it was built from.
std::vector<std::filesystem::path> sample_candidates();

// "file://PATH" of the first candidate that exists. Throws AdapterError when there is none.
std::string sample_source();

}  // namespace pkdv_capture
